#include "hud/MirrorHUDController.h"

#include <algorithm>
#include <cmath>

#include "base/WeakBind.h"
#include "diagnostics/DebugLog.h"
#include "hud/HUDLayoutBus.h"
#include "hud/MirrorHUDLayout.h"
#include "hud/MirrorHUDSearch.h"
#include "menubar/Permissions.h"
#include "menubar/SkyLight.h"
#include "platform/Events.h"
#include "platform/Menu.h"
#include "platform/Scheduler.h"
#include "platform/Screens.h"
#include "platform/Windows.h"
#include "platform/Workspace.h"

namespace lumarin {

namespace {

// Whole points, as the log shows them.
std::string wholeOrZero(double value) {
  return std::isfinite(value) ? std::to_string(static_cast<long long>(value)) : "0";
}

std::string boolText(bool value) { return value ? "true" : "false"; }

constexpr unsigned kGlobalMask =
    eventMask(EventType::leftMouseDown) | eventMask(EventType::rightMouseDown);
constexpr unsigned kLocalMask = kGlobalMask | eventMask(EventType::keyDown);
static_assert(kGlobalMask == 10 && kLocalMask == 1034);

}  // namespace

MirrorHUDPanel::MirrorHUDPanel(std::shared_ptr<Window> window) : window_(std::move(window)) {}

bool MirrorHUDPanel::keyDown(int keyCode) {
  if (keyCode != kEscapeKeyCode) {
    return false;  // the toolkit's own handling
  }
  if (onCancel) {
    onCancel();
  }
  return true;
}

void MirrorHUDPanel::cancelOperation() {
  if (onCancel) {
    onCancel();
  }
}

MirrorHUDController::MirrorHUDController(Dependencies dependencies)
    : deps_(std::move(dependencies)) {}

MirrorHUDController::~MirrorHUDController() = default;

bool MirrorHUDController::isVisible() const {
  return panel_ != nullptr && panel_->window().isVisible();
}

void MirrorHUDController::makePanel() {
  SurfaceHandlers handlers;
  handlers.onClick = weakBind(
      weak_from_this(), [](MirrorHUDController& self, const HUDTiles::Target& target, bool right,
                           unsigned modifiers) { self.tileClicked(target, right, modifiers); });
  handlers.onMiddleClick =
      weakBind(weak_from_this(), [](MirrorHUDController& self, const HUDTiles::Target& target) {
        self.deps_.forwarder.middleClick(target);
        self.hide("tile-click");
      });
  handlers.onScroll = weakBind(
      weak_from_this(),
      [](MirrorHUDController& self, const HUDTiles::Target& target, int delta, bool horizontal) {
        self.deps_.forwarder.scroll(target, delta, horizontal);  // the panel stays for more turns
      });
  handlers.onEntryClick =
      weakBind(weak_from_this(), [](MirrorHUDController& self, const std::string& entryID) {
        (void)self.entryChosen(entryID);
      });
  handlers.onPermissionTap = weakBind(weak_from_this(), [](MirrorHUDController& self) {
    if (self.deps_.permissions != nullptr) {
      self.deps_.permissions->requestOrOpenSettings();
    }
    self.hide("permission-tap");
  });
  handlers.onCancel = weakBind(weak_from_this(), [](MirrorHUDController& self) {
    if (self.panel_) {
      self.panel_->cancelOperation();
    }
  });
  if (deps_.windows == nullptr) {
    // Where the toolkit is the window system, losing the keyboard is the click elsewhere
    // (where a window server keeps windows, the event monitors see that click).
    handlers.onDeactivated =
        weakBind(weak_from_this(), [](MirrorHUDController& self) { self.hide("outside-click"); });
  }
  handlers.onKey = [weak = weak_from_this()](const HUDKey& key) {
    auto self = weak.lock();
    return self && self->keyPressed(key);
  };
  if (deps_.makeSurface) {
    surface_ = deps_.makeSurface(std::move(handlers));
  }
  // Menus read while the panel is up list their entries at once.
  deps_.model->setOnMenusChanged(weakBind(weak_from_this(), [](MirrorHUDController& self) {
    if (self.search_) {
      self.search_->setMenuEntries(self.deps_.model->menuEntries());
      self.layout();
      self.showSearchOnSurface();
    }
  }));
  std::shared_ptr<Window> window =
      deps_.windows != nullptr
          ? deps_.windows->makeWindow(WindowSpec{"Menu Bar HUD", MirrorHUDPanel::kLevel})
          : (surface_ ? surface_->ownWindow() : nullptr);
  panel_ = std::make_unique<MirrorHUDPanel>(std::move(window));
  panel_->window().setFrame(CocoaRect(0, 0, 300, 200));
  panel_->onCancel =
      weakBind(weak_from_this(), [](MirrorHUDController& self) { self.hide("cancel"); });
  // Input that passed the local monitors reaches the panel's content and the panel itself.
  panel_->window().setKeyDownHandler(
      weakBind(weak_from_this(), [](MirrorHUDController& self, int keyCode) {
        if (self.panel_) {
          (void)self.panel_->keyDown(keyCode);
        }
      }));
  panel_->window().setMouseDownHandler(
      weakBind(weak_from_this(),
               [](MirrorHUDController& self, EventType type, CocoaPoint point, unsigned flags) {
                 if (self.surface_) {
                   self.surface_->mouseDown(point, type == EventType::rightMouseDown, flags);
                 }
               }));
}

void MirrorHUDController::tileClicked(const HUDTiles::Target& target, bool right,
                                      unsigned modifiers) {
  deps_.forwarder.forward(target, right, modifiers);
  hide("tile-click");
}

void MirrorHUDController::show(bool linkedToControlCenter,
                               const std::optional<CocoaRect>& avoiding) {
  if (!panel_) {
    makePanel();
  }
  linkedToControlCenter_ = linkedToControlCenter;
  avoidRect_ = linkedToControlCenter ? avoiding : std::nullopt;
  peerFrame_.reset();
  if (linkedToControlCenter && deps_.bus != nullptr) {
    if (auto peer = deps_.bus->freshVisiblePeer(kPeerFreshness)) {
      peerFrame_ = peer->frame;
    }
  }
  panel_->allowsKey = !linkedToControlCenter;
  // Every opening starts without a filter, in the language the interface has now.
  const std::string language = deps_.languageCode ? deps_.languageCode() : std::string("en");
  if (!search_ || language != searchLanguage_) {
    search_ = std::make_unique<MirrorHUDSearch>(language);
    searchLanguage_ = language;
  }
  search_->reset();
  // The menus that can be read without opening them are read now, for the filter to find.
  deps_.model->readMenus();
  search_->setMenuEntries(deps_.model->menuEntries());
  keepTop_ = false;
  shownScreen_.reset();
  layout();
  shownScreen_ = screenIndexForMouse();
  panel_->window().orderFront(panel_->canBecomeKey());
  if (surface_) {
    surface_->setVisible(true, panel_->canBecomeKey());
  }
  installMonitors(!linkedToControlCenter);

  const auto& tiles = *deps_.model->tiles();
  std::string order;
  for (const auto& tile : tiles) {
    order += (order.empty() ? "" : ",") + tile.title;
  }
  const CocoaPoint mouse = deps_.screens.mouseLocation();
  deps_.debugLog.log("mirror: hud show tiles=" + std::to_string(tiles.size()) +
                     " linkedCC=" + boolText(linkedToControlCenter) +
                     " frame=" + frameDescription() + " mouse=" + wholeOrZero(mouse.x) + "," +
                     wholeOrZero(mouse.y) + " order(L→R)=" + order);
  if (onVisibilityChanged_) {
    onVisibilityChanged_(true);
  }
  if (deps_.bus != nullptr) {
    deps_.bus->post(true, panel_->window().frame());
  }
  if (deps_.skyLight != nullptr) {
    scheduleVerify(true);
  }
}

void MirrorHUDController::hide(const std::string& reason) {
  // Hiding may itself tell of the panel losing the keyboard: that is not a second hide.
  if (!isVisible() || hiding_) {
    return;
  }
  hiding_ = true;
  removeMonitors();
  linkedToControlCenter_ = false;
  avoidRect_.reset();
  peerFrame_.reset();
  if (deps_.bus != nullptr) {
    deps_.bus->post(false, panel_->window().frame());
  }
  panel_->window().orderOut();
  if (surface_) {
    surface_->setVisible(false, false);
  }
  hiding_ = false;
  lastHideReason_ = reason;
  deps_.debugLog.log("mirror: hud hide (" + reason + ")");
  if (onVisibilityChanged_) {
    onVisibilityChanged_(false);
  }
}

void MirrorHUDController::installMonitors(bool global) {
  removeMonitors();
  if (global) {
    globalMonitor_ = deps_.events.addGlobalMonitor(
        kGlobalMask,
        weakBind(weak_from_this(), [](MirrorHUDController& self, const MonitoredEvent&) {
          self.hide("outside-click");
        }));
  }
  std::weak_ptr<MirrorHUDController> weak = weak_from_this();
  localMonitor_ = deps_.events.addLocalMonitor(kLocalMask, [weak](const LocalEvent& event) {
    auto self = weak.lock();
    if (!self) {
      return true;
    }
    if (event.type == EventType::keyDown) {
      if (event.keyCode == MirrorHUDPanel::kEscapeKeyCode) {
        HUDKey escape;
        escape.kind = HUDKey::Kind::escape;
        if (!self->keyPressed(escape)) {
          self->hide("esc");
        }
        return false;  // swallowed
      }
      // Return, Delete, the arrows and the digits belong to the panel while it is key.
      if (const auto key = hudKeyForKeyCode(event.keyCode, event.modifierFlags);
          key && self->keyPressed(*key)) {
        return false;
      }
      return true;
    }
    if (!self->panel_ || event.windowNumber != self->panel_->window().number()) {
      self->hide("own-window-click");
    }
    return true;
  });
}

void MirrorHUDController::removeMonitors() {
  globalMonitor_.reset();
  localMonitor_.reset();
}

std::optional<std::size_t> MirrorHUDController::screenIndexForMouse() const {
  const auto screens = deps_.screens.screens();
  if (screens.empty()) {
    return std::nullopt;
  }
  const CocoaPoint mouse = deps_.screens.mouseLocation();
  for (std::size_t i = 0; i < screens.size(); ++i) {
    if (screens[i].frame.contains(mouse)) {
      return i;
    }
  }
  // The main screen: the one with the menu bar.
  return 0;
}

void MirrorHUDController::layout() {
  if (!panel_) {
    return;
  }
  syncSearch();
  const bool searching = search_ && search_->filtering();
  const std::size_t n = search_ ? search_->visible().size() : deps_.model->tiles()->size();
  const bool missing = *deps_.model->accessibilityMissing();
  const std::size_t entries = search_ ? search_->visibleEntries().size() : 0;
  const Size size = MirrorHUDLayout::panelSize(n, missing, searching, entries);
  const auto screens = deps_.screens.screens();
  auto index = screenIndexForMouse();
  if (keepTop_ && shownScreen_ && *shownScreen_ < screens.size()) {
    index = shownScreen_;
  }
  const CocoaRect visible = index ? screens[*index].visibleFrame : CocoaRect(0, 0, 0, 0);
  const CocoaRect screenFrame = index ? screens[*index].frame : CocoaRect(0, 0, 0, 0);
  CocoaRect frame = MirrorHUDLayout::panelFrame(size, visible, screenFrame, avoidRect_, peerFrame_);
  if (keepTop_ && isVisible()) {
    // Rows come and go below the search line; its top edge and its middle stay put.
    const CocoaRect old = panel_->window().frame();
    frame = MirrorHUDLayout::keptFrame(size, old, visible);
  }
  if (panel_->window().frame() == frame) {
    return;
  }
  panel_->window().setFrame(frame);
  if (surface_) {
    surface_->setFrame(frame);
  }
  const std::size_t cols = n > 0 ? MirrorHUDLayout::columns(n) : 1;
  deps_.debugLog.log("mirror: hud layout tiles=" + std::to_string(n) +
                     " cols=" + std::to_string(cols) + " frame=" + wholeOrZero(frame.width()) +
                     "x" + wholeOrZero(frame.height()) + "@(" + wholeOrZero(frame.minX()) + "," +
                     wholeOrZero(frame.minY()) + ") screen=" + wholeOrZero(visible.minX()) + ".." +
                     wholeOrZero(visible.maxX()) +
                     " avoid=" + (avoidRect_ ? wholeOrZero(avoidRect_->minX()) : std::string("-")) +
                     " peer=" + (peerFrame_ ? "yes" : "-"));
  if (isVisible() && deps_.bus != nullptr) {
    deps_.bus->post(true, frame);
  }
}

void MirrorHUDController::syncSearch() {
  if (!search_) {
    return;
  }
  search_->setTiles(*deps_.model->tiles(), deps_.model->targetsByID());
  showSearchOnSurface();
}

void MirrorHUDController::showSearchOnSurface() {
  if (!surface_ || !search_) {
    return;
  }
  std::vector<std::pair<std::string, std::string>> entries;
  entries.reserve(search_->visibleEntries().size());
  for (const auto* entry : search_->visibleEntries()) {
    entries.emplace_back(entry->id, entry->title);
  }
  surface_->showSearch(search_->text(), search_->visibleIDs(), entries, search_->focusedID());
}

void MirrorHUDController::searchChanged() {
  keepTop_ = true;
  layout();
  showSearchOnSurface();
}

bool MirrorHUDController::entryChosen(const std::string& entryID) {
  if (!search_) {
    return false;
  }
  for (const auto* entry : search_->visibleEntries()) {
    if (entry->id != entryID) {
      continue;
    }
    const auto& targets = deps_.model->targetsByID();
    const auto target = targets.find(entry->tileID);
    if (target == targets.end()) {
      return false;
    }
    deps_.debugLog.log("mirror: hud entry " + entry->id + " filter=\"" + search_->text() + "\"");
    const HUDTiles::MenuEntry chosen = *entry;  // the search goes on changing
    deps_.forwarder.perform(target->second, chosen);
    hide("entry-click");
    return true;
  }
  return false;
}

std::optional<HUDKey> hudKeyForKeyCode(int keyCode, unsigned modifierFlags) {
  HUDKey key;
  switch (keyCode) {
    case 36:  // Return
    case 76:  // keypad Enter
      key.kind = HUDKey::Kind::activate;
      key.secondary = (modifierFlags & kModifierShift) != 0;
      return key;
    case 51:
      key.kind = HUDKey::Kind::backspace;
      return key;
    case 123:
      key.kind = HUDKey::Kind::left;
      return key;
    case 124:
      key.kind = HUDKey::Kind::right;
      return key;
    case 125:
      key.kind = HUDKey::Kind::down;
      return key;
    case 126:
      key.kind = HUDKey::Kind::up;
      return key;
    case 115:
      key.kind = HUDKey::Kind::home;
      return key;
    case 119:
      key.kind = HUDKey::Kind::end;
      return key;
    default:
      break;
  }
  // The digit row's key codes, 1 to 9 (they follow the ANSI layout's keys, not the digits).
  static constexpr int kDigits[] = {18, 19, 20, 21, 23, 22, 26, 28, 25};
  for (int digit = 1; digit <= 9; ++digit) {
    if (kDigits[digit - 1] == keyCode && (modifierFlags & kModifierShift) == 0) {
      key.kind = HUDKey::Kind::digit;
      key.digit = digit;
      return key;
    }
  }
  return std::nullopt;
}

bool MirrorHUDController::keyPressed(const HUDKey& key) {
  if (!search_ || !isVisible() || !panel_->canBecomeKey()) {
    return false;
  }
  HUDKeyRecord record;
  record.key = key;
  const auto click = [this, &record](const std::optional<std::string>& id, bool right) {
    const auto& targets = deps_.model->targetsByID();
    const auto target = id ? targets.find(*id) : targets.end();
    if (target == targets.end()) {
      return;
    }
    deps_.debugLog.log("mirror: hud key click " + *id + (right ? " right" : "") + " filter=\"" +
                       search_->text() + "\"");
    record.reached = *id;
    for (const auto& tile : search_->visible()) {
      if (tile.id == *id) {
        record.reachedTitle = tile.title;
      }
    }
    tileClicked(target->second, right, 0);
  };
  const auto tell = [this, &record] {
    if (!onKey_) {
      return;
    }
    record.filter = search_->text();
    record.visible = search_->visibleIDs();
    record.total = deps_.model->tiles()->size();
    onKey_(record);
  };
  const std::size_t before = search_->visible().size();
  const std::string text = search_->text();
  switch (key.kind) {
    case HUDKey::Kind::escape:
      if (!search_->clear()) {
        return false;  // nothing to clear: the panel closes
      }
      break;
    case HUDKey::Kind::text:
      deps_.model->readMenus();  // those changed since the panel opened
      search_->type(key.text);
      break;
    case HUDKey::Kind::backspace:
      search_->backspace();
      break;
    case HUDKey::Kind::left:
      search_->move(MirrorHUDSearch::Move::left);
      break;
    case HUDKey::Kind::right:
      search_->move(MirrorHUDSearch::Move::right);
      break;
    case HUDKey::Kind::up:
      search_->move(MirrorHUDSearch::Move::up);
      break;
    case HUDKey::Kind::down:
      search_->move(MirrorHUDSearch::Move::down);
      break;
    case HUDKey::Kind::home:
      search_->move(MirrorHUDSearch::Move::home);
      break;
    case HUDKey::Kind::end:
      search_->move(MirrorHUDSearch::Move::end);
      break;
    case HUDKey::Kind::activate:
      if (const auto* entry = search_->focusedEntry(); entry != nullptr && !key.secondary) {
        record.reached = entry->id;
        record.reachedTitle = entry->title;
        // Told before the panel closes, with the filter that found the entry.
        tell();
        (void)entryChosen(entry->id);
        return true;
      }
      click(search_->focusedID(), key.secondary);
      tell();
      return true;
    case HUDKey::Kind::digit:
      click(search_->nthInReadingOrder(static_cast<std::size_t>(std::max(key.digit, 0))), false);
      tell();
      return true;
  }
  if (search_->text() != text) {
    deps_.debugLog.log("mirror: hud filter \"" + search_->text() +
                       "\" visible=" + std::to_string(search_->visible().size()) + " of " +
                       std::to_string(deps_.model->tiles()->size()) + " (was " +
                       std::to_string(before) + ")");
  }
  searchChanged();
  tell();
  return true;
}

std::string MirrorHUDController::frameDescription() const {
  if (!panel_) {
    return "nil";
  }
  const CocoaRect frame = panel_->window().frame();
  std::string onScreen = "none";
  for (const auto& screen : deps_.screens.screens()) {
    if (screen.frame.intersects(frame)) {
      onScreen = wholeOrZero(screen.frame.width()) + "x" + wholeOrZero(screen.frame.height());
      break;
    }
  }
  return wholeOrZero(frame.width()) + "x" + wholeOrZero(frame.height()) + "@(" +
         wholeOrZero(frame.minX()) + "," + wholeOrZero(frame.minY()) +
         ") visible=" + boolText(isVisible()) + " onScreen=" + onScreen;
}

void MirrorHUDController::scheduleVerify(bool retry) {
  deps_.scheduler.mainQueue().postAfter(
      seconds(kVerifyDelay), weakBind(weak_from_this(), [retry](MirrorHUDController& self) {
        self.verifyActuallyOnScreen(retry);
      }));
}

void MirrorHUDController::verifyActuallyOnScreen(bool retry) {
  if (!panel_ || !isVisible()) {
    return;
  }
  Window& window = panel_->window();
  const bool occluded = !window.occlusionVisible();
  const bool activeSpace = window.isOnActiveSpace();
  const bool wsOnscreen = deps_.skyLight->onscreenWindowIDs().count(window.number()) > 0;
  if (!occluded && activeSpace && wsOnscreen) {
    deps_.debugLog.log("mirror: hud verify ok");
    return;
  }
  std::string front = "-";
  for (const auto& app : deps_.workspace.runningApplications()) {
    if (app.isActive && app.bundleIdentifier) {
      front = *app.bundleIdentifier;
    }
  }
  deps_.debugLog.log("mirror: hud verify FAIL occluded=" + boolText(occluded) +
                     " activeSpace=" + boolText(activeSpace) +
                     " wsOnscreen=" + boolText(wsOnscreen) + " front=" + front +
                     " frame=" + frameDescription() + (retry ? " — reorder front" : ""));
  if (retry) {
    window.orderFront(false);
    scheduleVerify(false);
  }
}

}  // namespace lumarin
