#include "hud/MirrorModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "diagnostics/DebugLog.h"
#include "menubar/ControlCenterExtras.h"
#include "menubar/GlyphImage.h"
#include "menubar/IconCache.h"
#include "menubar/MenuBarAgentLayout.h"
#include "menubar/MenuBarGeometry.h"
#include "menubar/SkyLight.h"
#include "menubar/StatusItemCapture.h"
#include "menubar/StatusItemScanner.h"
#include "platform/Accessibility.h"
#include "platform/Scheduler.h"
#include "platform/Screens.h"
#include "platform/StatusBar.h"
#include "platform/Workspace.h"

namespace lumarin {

using glyph::adaptingStructure;
using glyph::isEffectivelyMonochrome;
using glyph::trimmedToOpaque;

namespace {

constexpr const char* kControlCenterBundle = "com.apple.controlcenter";
const std::set<std::string> kExcludedExtras = {"com.apple.menuextra.clock",
                                               "com.apple.menuextra.controlcenter"};

double tileWidth(double frameWidth) { return std::clamp(frameWidth - 8, 18.0, 60.0); }

std::string itemKey(const ExternalStatusItem& item) { return item.id(); }

// Whether an item stands on some screen's menu bar strip.
bool onMenuBarStrip(const GlobalRect& frame, const std::vector<MenuBarScreen>& screens) {
  return std::any_of(screens.begin(), screens.end(), [&](const MenuBarScreen& s) {
    return frame.midX() >= s.frame.minX() && frame.midX() <= s.frame.maxX() &&
           frame.minY() >= s.frame.minY() - 1 && frame.minY() <= s.frame.minY() + 40;
  });
}

std::string chevronText(const std::optional<GlobalRect>& chevron) {
  if (!chevron || !std::isfinite(chevron->minX()) || !std::isfinite(chevron->maxX())) {
    return "-";
  }
  return std::to_string(static_cast<long long>(chevron->minX())) + ".." +
         std::to_string(static_cast<long long>(chevron->maxX()));
}

long long wholeMilliseconds(Duration d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

}  // namespace

struct MirrorModel::Run {
  std::function<void()> completion;
  Duration start{};
  std::vector<ExternalStatusItem> scanned;
  std::vector<MenuBarWindow> windows;
  std::set<std::uint32_t> onscreen;
  ControlCenterExtras::Snapshot cc;
  std::vector<MenuBarAgentLayout::Layout> layouts;
  long long agentMs = 0;
  bool unified = false;
  std::vector<MenuBarScreen> screens;
  std::vector<ExternalStatusItem> items;
  std::vector<Entry> own;
  bool dark = false;
  bool trusted = false;
  std::string note = "-";
  std::vector<ExternalStatusItem> extras;
  std::vector<Entry> itemEntries;
  std::vector<Entry> extraEntries;
  std::size_t captured = 0;
};

MirrorModel::MirrorModel(Dependencies dependencies) : deps_(std::move(dependencies)) {}

std::uint32_t MirrorModel::stableIndex(std::string_view text) {
  std::uint32_t h = 5381;
  for (const unsigned char byte : text) {
    h = h * 33 + byte;
  }
  return h % 10000;
}

void MirrorModel::readMenus() {
  if (!ownMenus_) {
    return;
  }
  std::map<std::string, std::vector<MenuEntry>> menus;
  for (const auto& [id, target] : targetsByID_) {
    if (const auto* own = std::get_if<OwnTarget>(&target)) {
      if (auto menu = ownMenus_->menuFor(own->windowNumber)) {
        menus.emplace(id, entriesOf(*menu, id, kMaxOwnMenuEntries));
      }
    }
  }
  auto entries = titledEntries(*tiles_, [&menus](const std::string& id) {
    const auto menu = menus.find(id);
    return menu == menus.end() ? nullptr : &menu->second;
  });
  const bool same = sameEntries(entries, menuEntries_);
  menuEntries_ = std::move(entries);  // the entries' actions may differ even so
  if (!same && onMenusChanged_) {
    onMenusChanged_();
  }
}

void MirrorModel::refresh(std::function<void()> completion) {
  if (refreshing_) {
    if (completion) {
      pendingCompletions_.push_back(std::move(completion));
    }
    return;
  }
  refreshing_ = true;
  auto run = std::make_shared<Run>();
  run->completion = std::move(completion);
  run->start = deps_.scheduler.clock().monotonicNow();
  std::weak_ptr<MirrorModel> weak = weak_from_this();
  Scheduler& scheduler = deps_.scheduler;
  scheduler.globalQueue(QoS::utility).post([weak, run, &scheduler] {
    if (auto self = weak.lock()) {
      self->scan(*run);
    }
    scheduler.mainQueue().post([weak, run, &scheduler] {
      auto self = weak.lock();
      if (!self) {
        return;
      }
      run->own = self->ownStatusEntries();
      run->dark = self->deps_.darkAppearance && self->deps_.darkAppearance();
      scheduler.globalQueue(QoS::utility).post([weak, run] {
        if (auto strong = weak.lock()) {
          strong->placeAndCapture(run);
        }
      });
    });
  });
}

void MirrorModel::scan(Run& run) {
  run.scanned = deps_.scanner.scan();
  run.windows = deps_.skyLight.menuBarItemWindows();
  run.onscreen = deps_.skyLight.onscreenWindowIDs();
  run.cc = deps_.extras.snapshot();
  run.unified = std::none_of(run.windows.begin(), run.windows.end(), [](const MenuBarWindow& w) {
    return w.rect.width() > 1 && w.rect.width() <= 200;
  });
  if (run.unified) {
    const Duration before = deps_.scheduler.clock().monotonicNow();
    run.layouts = deps_.agentLayout.snapshot();
    run.agentMs = wholeMilliseconds(deps_.scheduler.clock().monotonicNow() - before);
  }
  deps_.overflow.set(run.cc.overflowChevron);
  run.screens = menuBarScreens(deps_.screens);
  const long long ms = wholeMilliseconds(deps_.scheduler.clock().monotonicNow() - run.start);
  const auto unidentified =
      std::count_if(run.scanned.begin(), run.scanned.end(), [](const ExternalStatusItem& item) {
        return item.windowID == 0 || (item.windowTitle && item.windowTitle->rfind("Item-", 0) == 0);
      });
  deps_.scanner.reportScanResult(static_cast<int>(run.scanned.size()),
                                 static_cast<int>(unidentified), static_cast<int>(ms));
  deps_.scanner.logScanSnapshot(run.scanned);

  for (const auto& item : run.scanned) {
    const bool stands = run.unified ? onMenuBarStrip(item.frame, run.screens) : item.windowID != 0;
    if (stands && item.frame.width() > 1) {
      run.items.push_back(item);
    }
  }
  std::stable_sort(run.items.begin(), run.items.end(),
                   [](const auto& a, const auto& b) { return a.frame.minX() < b.frame.minX(); });
}

bool MirrorModel::isDrawn(const ExternalStatusItem& item) const {
  if (isHiddenByNotch(deps_.screens.screens(), item.frame.minX(), item.frame.midX())) {
    return false;
  }
  const auto chevron = deps_.overflow.get();
  return !chevron || !(chevron->width() > 0) || item.frame.minX() >= chevron->maxX() - 1;
}

void MirrorModel::placeAndCapture(const std::shared_ptr<Run>& run) {
  if (run->unified) {
    std::vector<GlobalRect> systemRects;
    for (const auto& extra : run->cc.items) {
      systemRects.push_back(extra.frame);
    }
    std::vector<GlobalRect> knownRects;
    for (const auto& own : run->own) {
      knownRects.emplace_back(own.minX, 0, own.maxX - own.minX, 33);
    }
    auto [placed, note] = deps_.agentLayout.place(
        run->items, run->layouts, run->screens, run->cc.overflowChevron, systemRects, knownRects,
        [this](const ExternalStatusItem& item) { return isDrawn(item); });
    run->items = std::move(placed);
    run->note = std::move(note);
  }

  run->trusted = deps_.accessibility.isProcessTrusted();
  if (run->trusted) {
    int ccPid = 0;
    for (const auto& app : deps_.workspace.runningApplications()) {
      if (app.bundleIdentifier == kControlCenterBundle) {
        ccPid = app.pid;
        break;
      }
    }
    if (!run->unified) {
      std::set<std::uint32_t> known;
      for (const auto& item : run->items) {
        known.insert(item.windowID);
      }
      for (const auto& w : run->windows) {
        if (run->onscreen.count(w.id) == 0 || known.count(w.id) != 0) {
          continue;
        }
        if (w.rect.width() < 8 || w.rect.width() > 200 || w.rect.minX() < 0) {
          continue;
        }
        const double mid = w.rect.midX();
        const bool claimed = std::any_of(run->items.begin(), run->items.end(), [&](const auto& i) {
          return std::abs(i.frame.midX() - mid) <= 6;
        });
        const bool own = std::any_of(run->own.begin(), run->own.end(), [&](const Entry& e) {
          return std::abs((e.minX + e.maxX) / 2 - mid) <= 6;
        });
        if (claimed || own) {
          continue;
        }
        const ControlCenterExtras::Item* near = nullptr;
        for (const auto& extra : run->cc.items) {
          if (std::abs(extra.frame.midX() - mid) <= 8) {
            near = &extra;
            break;
          }
        }
        if (near != nullptr && kExcludedExtras.count(near->identifier) != 0) {
          continue;
        }
        ExternalStatusItem item;
        item.pid = ccPid;
        item.index = static_cast<int>(w.id);
        item.appName = near != nullptr && !near->description.empty() ? near->description : "System";
        item.frame = w.rect;
        if (near != nullptr) {
          item.element = near->element;
        }
        item.windowID = w.id;
        if (!w.title.empty()) {
          item.windowTitle = w.title;
        }
        run->extras.push_back(std::move(item));
      }
    } else {
      for (const auto& extra : run->cc.items) {
        if (kExcludedExtras.count(extra.identifier) != 0 || !(extra.frame.width() > 1) ||
            !onMenuBarStrip(extra.frame, run->screens)) {
          continue;
        }
        ExternalStatusItem item;
        item.pid = extra.pid;
        item.index = static_cast<int>(stableIndex(extra.identifier)) + 20000;
        item.appName = extra.description.empty() ? "System" : extra.description;
        item.frame = extra.frame;
        item.element = extra.element;
        if (!extra.identifier.empty()) {
          item.windowTitle = extra.identifier;
        }
        run->extras.push_back(std::move(item));
      }
    }
  }

  std::vector<ExternalStatusItem> all = run->items;
  all.insert(all.end(), run->extras.begin(), run->extras.end());
  std::weak_ptr<MirrorModel> weak = weak_from_this();
  Scheduler& scheduler = deps_.scheduler;
  auto done = [weak, run, &scheduler](const std::map<std::string, Image>& captures) {
    auto self = weak.lock();
    if (!self) {
      return;
    }
    self->buildEntries(*run, captures);
    scheduler.mainQueue().post([weak, run] {
      if (auto strong = weak.lock()) {
        strong->publish(*run);
      }
    });
  };
  if (!deps_.capture) {
    done({});
  } else if (!run->unified) {
    deps_.capture->captureItems(std::move(all), done);
  } else {
    // The drawn test is settled here: the capture runs later, when the model may be gone.
    for (auto& item : all) {
      if (!item.drawnHint) {
        item.drawnHint = isDrawn(item);
      }
    }
    deps_.capture->captureFromMenuBar(
        std::move(all), [](const ExternalStatusItem& item) { return *item.drawnHint; }, done);
  }
}

MirrorModel::Entry MirrorModel::entryFor(const ExternalStatusItem& item,
                                         const std::map<std::string, Image>& captures, bool dark,
                                         const std::string& kind) {
  const std::string key = itemKey(item);
  std::optional<Image> image;
  std::string source;
  if (auto captured = captures.find(key); captured != captures.end()) {
    image = adaptingStructure(captured->second, dark);
    source = "captured";
  } else if (auto cached = deps_.iconCache.cachedImage(IconCache::cacheKey(item))) {
    cached->isTemplate = isEffectivelyMonochrome(*cached);
    image = adaptingStructure(*cached, dark);
    source = "cached";
  } else {
    for (const auto& app : deps_.workspace.runningApplications()) {
      if (app.pid == item.pid && app.bundleURL) {
        image = adaptingStructure(deps_.workspace.iconForFile(*app.bundleURL), dark);
        source = "appIcon";
        break;
      }
    }
  }
  Entry entry;
  entry.minX = item.frame.minX();
  entry.maxX = item.frame.maxX();
  entry.tile.id = key;
  entry.tile.title = item.appName;
  if (image) {
    entry.tile.isTemplate = image->isTemplate;
    entry.tile.image = std::make_shared<const Image>(std::move(*image));
  }
  entry.tile.width = tileWidth(item.frame.width());
  entry.tile.source = source;
  entry.tile.kind = kind;
  entry.target = item;
  return entry;
}

void MirrorModel::buildEntries(Run& run, const std::map<std::string, Image>& captures) {
  run.captured = captures.size();
  for (const auto& item : run.items) {
    run.itemEntries.push_back(entryFor(item, captures, run.dark, "item"));
  }
  for (const auto& item : run.extras) {
    run.extraEntries.push_back(entryFor(item, captures, run.dark, "extra"));
  }
}

std::optional<Image> MirrorModel::snapshotGlyph(const StatusBarButton& button, double scale,
                                                bool dark) {
  const Size bounds = button.bounds();
  if (!(bounds.width > 1) || !(bounds.height > 1)) {
    return std::nullopt;
  }
  const LazyImage display = button.display();
  Image drawn = display.rasterize(std::max(scale, 2.0));
  if (drawn.isEmpty()) {
    return std::nullopt;
  }
  Image glyph = trimmedToOpaque(drawn, 12).value_or(drawn);
  glyph.isTemplate = isEffectivelyMonochrome(glyph);
  return adaptingStructure(glyph, dark);
}

std::vector<MirrorModel::Entry> MirrorModel::ownStatusEntries() const {
  std::vector<Entry> entries;
  const bool dark = deps_.darkAppearance && deps_.darkAppearance();
  for (const auto& item : deps_.statusBar.items()) {
    if (!item->isVisible()) {
      continue;
    }
    StatusBarButton& button = item->button();
    const auto window = button.window();
    if (!window || window->frame.width() < 12 || window->frame.width() > 100) {
      continue;
    }
    Entry entry;
    entry.minX = window->frame.minX();
    entry.maxX = window->frame.maxX();
    entry.tile.id = "own#" + std::to_string(window->number);
    entry.tile.title = button.toolTip().value_or("Lumarin");
    if (auto glyph = snapshotGlyph(button, window->backingScaleFactor, dark)) {
      entry.tile.isTemplate = glyph->isTemplate;
      entry.tile.image = std::make_shared<const Image>(std::move(*glyph));
      entry.tile.source = "ownGlyph";
    }
    entry.tile.width = tileWidth(window->frame.width());
    entry.tile.kind = "own";
    entry.target = OwnTarget{window->number};
    entries.push_back(std::move(entry));
  }
  return entries;
}

void MirrorModel::publish(Run& run) {
  refreshing_ = false;
  ++scanCount_;
  lastMode_ = run.unified ? "unified-bar" : "per-item-windows";
  if (accessibilityMissing_.get() != !run.trusted) {
    accessibilityMissing_.set(!run.trusted);
  }
  std::vector<Entry> entries = std::move(run.itemEntries);
  for (auto& e : run.extraEntries) {
    entries.push_back(std::move(e));
  }
  for (auto& e : run.own) {
    entries.push_back(std::move(e));
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.minX < b.minX; });
  std::vector<Tile> tiles;
  std::map<std::string, Target> targets;
  for (auto& entry : entries) {
    // A duplicate id keeps the first target; the tile still shows.
    targets.emplace(entry.tile.id, entry.target);
    tiles.push_back(std::move(entry.tile));
  }
  targetsByID_ = std::move(targets);

  const auto chevron = run.cc.overflowChevron;
  if (run.note != lastLayoutNote_) {
    lastLayoutNote_ = run.note;
    deps_.debugLog.log(
        "mirror: layout " + run.note + " windows=" + std::to_string(run.layouts.size()) +
        " agentMs=" + std::to_string(run.agentMs) + " chevron=" + chevronText(chevron));
  }
  if (static_cast<int>(tiles.size()) != lastLoggedCount_ || !didLogFirstRefresh_) {
    didLogFirstRefresh_ = true;
    lastLoggedCount_ = static_cast<int>(tiles.size());
    deps_.debugLog.log(
        "mirror: scan=" + std::to_string(run.scanned.size()) + " external=" +
        std::to_string(run.items.size()) + " system=" + std::to_string(run.extras.size()) +
        " own=" + std::to_string(run.own.size()) + " captured=" + std::to_string(run.captured) +
        " trusted=" + (deps_.accessibility.isProcessTrusted() ? "true" : "false") +
        " mode=" + lastMode_ + " chevron=" + chevronText(chevron) + " layout=" + run.note);
    std::string screens = "[";
    for (std::size_t i = 0; i < run.screens.size(); ++i) {
      char scale[32];
      std::snprintf(scale, sizeof scale, "%.1f", run.screens[i].scale);
      screens += std::string(i ? ", " : "") + "\"" +
                 std::to_string(static_cast<long long>(run.screens[i].frame.width())) + "@" +
                 scale + "x\"";
    }
    screens += "]";
    std::string sizes;
    for (std::size_t i = 0; i < tiles.size() && i < 8; ++i) {
      const Tile& t = tiles[i];
      sizes += " " + t.id + ":";
      if (!t.image) {
        sizes += "nil";
        continue;
      }
      sizes += std::to_string(static_cast<long long>(t.image->pointSize.width)) + "x" +
               std::to_string(static_cast<long long>(t.image->pointSize.height)) + "pt/" +
               std::to_string(t.image->pixelWidth) + "x" + std::to_string(t.image->pixelHeight) +
               "px";
    }
    deps_.debugLog.log("mirror: sizes screens=" + screens + sizes);
  }

  tiles_.set(std::move(tiles));
  if (onTilesChanged_) {
    onTilesChanged_();
  }
  if (run.completion) {
    run.completion();
  }
  auto pending = std::move(pendingCompletions_);
  pendingCompletions_.clear();
  for (auto& completion : pending) {
    completion();
  }
}

}  // namespace lumarin
