#include "hud/TrayTiles.h"

#include <algorithm>
#include <cmath>

#include "diagnostics/DebugLog.h"
#include "platform/Scheduler.h"

namespace lumarin {

TrayTileModel::TrayTileModel(TrayItems& items, Scheduler& scheduler, const DebugLog& log)
    : items_(items), scheduler_(scheduler), log_(log) {
  subscription_ =
      items.items().bind([this](const std::vector<TrayItem>& list) { itemsChanged(list); });
}

HUDTiles::Tile TrayTileModel::tileFor(const TrayItem& item) {
  Tile tile;
  tile.id = item.key;
  tile.title = !item.title.empty() ? item.title : (!item.id.empty() ? item.id : item.service);
  tile.image = item.picture;
  tile.width = kTileWidth;
  tile.kind = "tray";
  tile.source = item.picture ? item.pictureSource : "";
  tile.hiddenByHost = item.status == "Passive";
  return tile;
}

void TrayTileModel::itemsChanged(const std::vector<TrayItem>& items) {
  // Menus of items that went, or that lost their menu, are forgotten.
  bool forgot = false;
  for (auto cache = menus_.begin(); cache != menus_.end();) {
    const bool kept = std::any_of(items.begin(), items.end(), [&cache](const TrayItem& item) {
      return item.key == cache->first && !item.menuPath.empty();
    });
    if (kept) {
      ++cache;
      continue;
    }
    forgot = forgot || !cache->second.entries.empty();
    cache = menus_.erase(cache);
  }
  std::vector<Tile> tiles;
  std::map<std::string, Target> targets;
  tiles.reserve(items.size());
  for (const auto& item : items) {
    tiles.push_back(tileFor(item));
    targets.emplace(item.key, TrayTarget{item.key, item.id});
  }
  if (tiles == *tiles_) {
    targets_ = std::move(targets);
    if (forgot) {
      gatherEntries();
    }
    return;
  }
  if (tiles.size() != tiles_->size()) {
    log_.log("mirror: tray tiles " + std::to_string(tiles.size()));
  }
  targets_ = std::move(targets);
  tiles_.set(std::move(tiles));
  if (onTilesChanged_) {
    onTilesChanged_();
  }
  // Titles may have changed: the entries carry them.
  gatherEntries();
}

void TrayTileModel::readMenus() {
  for (const auto& item : *items_.items()) {
    if (item.menuPath.empty()) {
      continue;
    }
    MenuCache& cache = menus_[item.key];
    if (cache.reading || (cache.read && cache.revision == item.menuRevision)) {
      continue;
    }
    cache.reading = true;
    std::weak_ptr<TrayTileModel> weak = weak_from_this();
    items_.readMenu(item.key, [weak, key = item.key,
                               revision = item.menuRevision](const std::optional<Menu>& menu) {
      if (auto self = weak.lock()) {
        self->menuRead(key, revision, menu);
      }
    });
  }
}

void TrayTileModel::menuRead(const std::string& key, std::uint64_t revision,
                             const std::optional<Menu>& menu) {
  auto cache = menus_.find(key);
  if (cache == menus_.end()) {
    return;  // the item went meanwhile
  }
  cache->second.reading = false;
  cache->second.read = true;
  cache->second.revision = revision;
  cache->second.entries.clear();
  if (menu) {
    // Kept with titles from below the tile's, which may change while the menu does not.
    cache->second.entries = entriesOf(*menu, key, kMaxEntriesPerMenu);
  }
  gatherEntries();
}

void TrayTileModel::gatherEntries() {
  std::vector<MenuEntry> entries =
      titledEntries(*tiles_, [this](const std::string& id) -> const std::vector<MenuEntry>* {
        const auto cache = menus_.find(id);
        return cache == menus_.end() ? nullptr : &cache->second.entries;
      });
  if (sameEntries(entries, entries_)) {
    return;
  }
  entries_ = std::move(entries);
  if (onMenusChanged_) {
    onMenusChanged_();
  }
}

void TrayTileModel::refresh(std::function<void()> completion) {
  // The tiles are as fresh as the items' signals keep them; only the caller's continuation
  // waits for the queue, as it would after a scan.
  if (completion) {
    scheduler_.mainQueue().post(std::move(completion));
  }
}

TrayClickForwarder::TrayClickForwarder(Dependencies dependencies)
    : deps_(std::move(dependencies)) {}

std::optional<TrayItem> TrayClickForwarder::itemFor(const HUDTiles::Target& target) const {
  const auto* tray = std::get_if<HUDTiles::TrayTarget>(&target);
  if (tray == nullptr) {
    return std::nullopt;
  }
  for (const auto& item : *deps_.items.items()) {
    if (item.key == tray->key) {
      return item;
    }
  }
  return std::nullopt;
}

GlobalPoint TrayClickForwarder::where() const {
  if (deps_.pointer) {
    if (auto point = deps_.pointer()) {
      return *point;
    }
  }
  return GlobalPoint{0, 0};
}

void TrayClickForwarder::report(const TrayItem& item, bool ok, const std::string& path,
                                const std::string& error) {
  deps_.log.log("mirror: tray click " + item.key + " via " + path + (ok ? " ok" : " failed") +
                (error.empty() ? "" : " (" + error + ")"));
  if (reporter_) {
    reporter_(Report{item.key, ok, path, item.id, item.status == "Passive"});
  }
}

namespace {

int pixel(double value) { return static_cast<int>(std::lround(value)); }

}  // namespace

void TrayClickForwarder::forward(const HUDTiles::Target& target, bool right, unsigned) {
  const auto item = itemFor(target);
  if (!item) {
    if (reporter_) {
      reporter_(Report{"", false, "none", "", false});  // gone before the click, or not a tray's
    }
    return;
  }
  if (right) {
    if (!item->menuPath.empty()) {
      showMenu(*item, "menu");
    } else {
      contextMenu(*item, "contextMenu");
    }
    return;
  }
  if (item->itemIsMenu && !item->menuPath.empty()) {
    showMenu(*item, "menu");
    return;
  }
  const GlobalPoint at = where();
  std::weak_ptr<TrayClickForwarder> weak = weak_from_this();
  deps_.items.activate(item->key, pixel(at.x), pixel(at.y),
                       [weak, item = *item](const TrayItems::CallResult& result) {
                         auto self = weak.lock();
                         if (!self) {
                           return;
                         }
                         if (result.ok) {
                           self->report(item, true, "activate");
                         } else if (!item.menuPath.empty()) {
                           // Its app has nothing to activate: the item is its menu.
                           self->showMenu(item, "activate-menu");
                         } else {
                           self->report(item, false, "activate", result.error);
                         }
                       });
}

void TrayClickForwarder::perform(const HUDTiles::Target& target, const HUDTiles::MenuEntry& entry) {
  const auto item = itemFor(target);
  if (!item) {
    if (reporter_) {
      reporter_(Report{"", false, "none", "", false});
    }
    return;
  }
  deps_.items.menuEvent(item->key, entry.item, "clicked");
  report(*item, true, "menu-entry");
}

void TrayClickForwarder::middleClick(const HUDTiles::Target& target) {
  const auto item = itemFor(target);
  if (!item) {
    return;
  }
  const GlobalPoint at = where();
  std::weak_ptr<TrayClickForwarder> weak = weak_from_this();
  deps_.items.secondaryActivate(item->key, pixel(at.x), pixel(at.y),
                                [weak, item = *item](const TrayItems::CallResult& result) {
                                  if (auto self = weak.lock()) {
                                    self->report(item, result.ok, "secondaryActivate",
                                                 result.error);
                                  }
                                });
}

void TrayClickForwarder::scroll(const HUDTiles::Target& target, int delta, bool horizontal) {
  const auto item = itemFor(target);
  if (!item || delta == 0) {
    return;
  }
  std::weak_ptr<TrayClickForwarder> weak = weak_from_this();
  deps_.items.scroll(item->key, delta, horizontal ? "horizontal" : "vertical",
                     [weak, item = *item](const TrayItems::CallResult& result) {
                       if (auto self = weak.lock()) {
                         self->report(item, result.ok, "scroll", result.error);
                       }
                     });
}

void TrayClickForwarder::followMenu(const std::shared_ptr<OpenMenu>& open) {
  std::weak_ptr<TrayClickForwarder> weak = weak_from_this();
  std::weak_ptr<OpenMenu> weakOpen = open;
  // One read at a time: a menu that keeps changing is read again once the last read is in.
  // Owned by the watch alone (it refers to itself weakly), so it goes with the menu.
  auto readIfChanged = std::make_shared<std::function<void()>>();
  std::weak_ptr<std::function<void()>> weakRead = readIfChanged;
  *readIfChanged = [weak, weakOpen, weakRead] {
    auto self = weak.lock();
    auto menu = weakOpen.lock();
    if (!self || !menu || menu->reading || self->open_ != menu) {
      return;
    }
    std::optional<std::uint64_t> revision;
    for (const auto& item : *self->deps_.items.items()) {
      if (item.key == menu->key) {
        revision = item.menuRevision;
      }
    }
    if (!revision || *revision == menu->revision) {
      return;
    }
    menu->reading = true;
    menu->revision = *revision;
    self->deps_.items.readMenu(menu->key, [weak, weakOpen, weakRead](std::optional<Menu> read) {
      auto strong = weak.lock();
      auto again = weakOpen.lock();
      if (!strong || !again) {
        return;
      }
      again->reading = false;
      if (read && strong->open_ == again && again->update) {
        again->update(*read);
      }
      if (auto next = weakRead.lock()) {
        (*next)();  // changed again meanwhile
      }
    });
  };
  open->watch = deps_.items.items().observe(
      [readIfChanged](const std::vector<TrayItem>&) { (*readIfChanged)(); });
}

void TrayClickForwarder::contextMenu(const TrayItem& item, const std::string& path) {
  const GlobalPoint at = where();
  std::weak_ptr<TrayClickForwarder> weak = weak_from_this();
  deps_.items.contextMenu(item.key, pixel(at.x), pixel(at.y),
                          [weak, item, path](const TrayItems::CallResult& result) {
                            if (auto self = weak.lock()) {
                              self->report(item, result.ok, path, result.error);
                            }
                          });
}

void TrayClickForwarder::showMenu(const TrayItem& item, const std::string& path) {
  const GlobalPoint at = where();
  std::weak_ptr<TrayClickForwarder> weak = weak_from_this();
  deps_.items.readMenu(item.key, [weak, item, path, at](std::optional<Menu> menu) {
    auto self = weak.lock();
    if (!self) {
      return;
    }
    const bool empty = !menu || std::none_of(menu->items.begin(), menu->items.end(),
                                             [](const MenuItem& e) { return !e.isSeparator; });
    if (empty || !self->deps_.presentMenu) {
      // Nothing to draw: the app may still show a menu of its own.
      self->contextMenu(item, path + "-contextMenu");
      return;
    }
    // The menu's root is entry 0: the app hears it open and close as a tray's menu does.
    MenuItem root;
    root.representedObject = std::string("0");
    root.action = "dbusmenu";
    self->deps_.items.menuEvent(item.key, root, "opened");
    auto open = std::make_shared<OpenMenu>();
    open->key = item.key;
    open->revision = item.menuRevision;
    MenuHandlers handlers;
    const std::string key = item.key;
    handlers.chose = [weak, key](const MenuItem& entry) {
      if (auto strong = weak.lock()) {
        strong->deps_.items.menuEvent(key, entry, "clicked");
      }
    };
    // Weakly: the open menu holds the presenter's update, whose menu holds these handlers.
    std::weak_ptr<OpenMenu> weakOpen = open;
    handlers.didClose = [weak, key, root, weakOpen] {
      if (auto shown = weakOpen.lock()) {
        shown->watch = Subscription();
        shown->update = nullptr;
      }
      if (auto strong = weak.lock()) {
        strong->deps_.items.menuEvent(key, root, "closed");
        if (strong->open_ == weakOpen.lock()) {
          strong->open_.reset();
        }
      }
    };
    handlers.submenuOpened = [weak, key](const MenuItem& entry) {
      if (auto strong = weak.lock()) {
        strong->deps_.items.menuEvent(key, entry, "opened");
      }
    };
    handlers.submenuClosed = [weak, key](const MenuItem& entry) {
      if (auto strong = weak.lock()) {
        strong->deps_.items.menuEvent(key, entry, "closed");
      }
    };
    open->update = self->deps_.presentMenu(item.title, *menu, std::move(handlers), at);
    self->open_ = open;
    self->followMenu(open);
    self->report(item, true, path);
  });
}

}  // namespace lumarin
