#include "badges/AppStatusItemsController.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "badges/AppIcons.h"
#include "badges/AppItemsRevision.h"
#include "badges/BadgeRenderer.h"
#include "badges/BadgeSource.h"
#include "base/WeakBind.h"
#include "diagnostics/DebugLog.h"
#include "l10n/L10n.h"
#include "menubar/StatusItemScanner.h"
#include "model/AppSettings.h"
#include "platform/Accessibility.h"
#include "platform/Events.h"
#include "platform/StatusBar.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"

namespace lumarin {

namespace {

// The system's label colour on a light menu bar: what a template icon would be drawn in.
constexpr RgbColor kLabelColor{0, 0, 0, 0.85};

std::string lastPathComponent(const std::string& url) {
  std::string path = url;
  while (!path.empty() && path.back() == '/') {
    path.pop_back();
  }
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

AppStatusItemsController::AppStatusItemsController(Dependencies dependencies)
    : deps_(std::move(dependencies)) {}

void AppStatusItemsController::start() {
  auto weak = weak_from_this();
  Queue& main = deps_.scheduler.mainQueue();
  // A settings change is announced before the new values are in place: reconcile afterwards.
  settingsSubscription_ = deps_.settings.observeWillChange([weak, &main] {
    main.post([weak] {
      if (auto self = weak.lock()) {
        self->reconcile();
      }
    });
  });
  dockSubscription_ = deps_.monitor->items().observe(
      weakBind(shared_from_this(), [](AppStatusItemsController& self, const auto&) {
        self.reconcile();
        self.reportBadgeReads();
      }));
  layoutPollTimer_ = main.scheduleRepeating(
      seconds(kLayoutPollInterval), Duration::zero(),
      weakBind(shared_from_this(),
               [](AppStatusItemsController& self) { self.logLayoutSnapshot("poll"); }));
}

void AppStatusItemsController::seedPosition(const std::string& autosaveName) {
  const std::string key = kPositionPrefix + autosaveName;
  if (deps_.defaults.contains(key)) {
    return;
  }
  const double base =
      deps_.defaults.number(std::string(kPositionPrefix) + kOwnItemAutosaveName).value_or(200);
  const double x = base - static_cast<double>(statusItems_.size() + 1) * 40;
  deps_.defaults.set(key, x <= 20 ? 20.0 : x);
}

void AppStatusItemsController::reconcile() {
  const std::vector<MonitoredApp> apps = *deps_.settings.monitoredApps();
  std::set<std::string> watched;
  std::set<Uuid> ids;
  for (const auto& app : apps) {
    watched.insert(app.bundleID);
    ids.insert(app.id);
  }
  deps_.monitor->setWatched(watched);
  if (watchedObserver_) {
    watchedObserver_(watched);
  }
  for (auto it = statusItems_.begin(); it != statusItems_.end();) {
    if (ids.count(it->first) == 0) {
      deps_.statusBar.removeStatusItem(it->second);
      it = statusItems_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& app : apps) {
    auto found = statusItems_.find(app.id);
    if (found == statusItems_.end()) {
      const std::string name = kAutosavePrefix + app.bundleID;
      seedPosition(name);
      auto item = deps_.statusBar.makeStatusItem(kVariableStatusItemLength);
      item->setAutosaveName(name);
      item->button().setAction(
          weakBind(shared_from_this(), [](AppStatusItemsController& self,
                                          StatusBarButton& button) { self.itemClicked(button); }),
          kSendOnLeftMouseUp | kSendOnRightMouseUp);
      item->button().setIdentifier(app.id.toString());
      found = statusItems_.emplace(app.id, std::move(item)).first;
    }
    update(*found->second, app);
  }
  logLayoutSnapshot("reconcile");
  deps_.revision.value.set(*deps_.revision.value + 1);
}

Image AppStatusItemsController::icon(const std::string& bundleID) {
  auto it = iconCache_.find(bundleID);
  if (it == iconCache_.end()) {
    it = iconCache_.emplace(bundleID, deps_.appIcons.icon(bundleID, kIconSize)).first;
  }
  return it->second;
}

void AppStatusItemsController::update(StatusItem& item, const MonitoredApp& app) {
  const auto& dockItems = *deps_.monitor->items();
  const auto dock = dockItems.find(app.bundleID);
  const bool inDock = dock != dockItems.end();
  const bool hasBadge = inDock && dock->second.badge.has_value();
  StatusBarButton& button = item.button();
  button.setAccessibilityLabel(app.name);
  if (deps_.statusBar.presentsContextMenus()) {
    // The tray asks for the menu before the click: it always holds the current one.
    item.setContextMenu(itemMenu(app), itemMenuHandlers());
  }
  if (app.visibility == IconVisibility::hide && !hasBadge) {
    // Hidden, yet still in the menu bar at length 0, so it comes back at the same place.
    item.setVisible(true);
    item.setLength(0);
    button.setImage(std::nullopt);
    button.setToolTip(std::nullopt);
    button.setTitle("");
    button.setAttributedTitle(std::nullopt);
    return;
  }
  item.setVisible(true);
  item.setLength(kVariableStatusItemLength);
  const BadgeStyle style = app.effectiveStyle(*deps_.settings.defaultStyle());
  const RgbColor color = app.effectiveColor();
  const bool dimmed = !hasBadge && app.visibility != IconVisibility::always;
  const std::optional<BadgeValue> badge = hasBadge ? dock->second.badge : std::nullopt;
  const bool drawsBadge = hasBadge && !dimmed && style != BadgeStyle::text;

  Image appIcon = icon(app.bundleID);
  if (drawsBadge && appIcon.isTemplate) {
    appIcon = BadgeRenderer::tinted(appIcon, kLabelColor);
  }
  button.setImage(BadgeRenderer::image(appIcon, badge, style, color, dimmed).lazy());

  if (style == BadgeStyle::text && hasBadge && !dimmed) {
    button.setAttributedTitle(BadgeRenderer::title(*badge, color));
    button.setImagePosition(ImagePosition::imageLeft);
  } else {
    button.setTitle("");
    button.setAttributedTitle(std::nullopt);
    button.setImagePosition(ImagePosition::imageOnly);
  }
  if (hasBadge) {
    button.setToolTip(app.name + " — " +
                      deps_.l10n.format("item.tooltip", {BadgeRenderer::displayText(*badge)}));
  } else if (inDock && dock->second.isRunning) {
    button.setToolTip(app.name);
  } else {
    button.setToolTip(app.name + " — " + deps_.l10n.string("item.notRunning"));
  }
}

std::pair<std::optional<LazyImage>, std::optional<StyledText>>
AppStatusItemsController::liveAppearance(const Uuid& id) const {
  auto it = statusItems_.find(id);
  if (it == statusItems_.end()) {
    return {};
  }
  StatusBarButton& button = it->second->button();
  std::optional<StyledText> title;
  if (it->second->length() != 0) {
    title = button.attributedTitle();
  }
  return {button.image(), title};
}

StatusBarButton* AppStatusItemsController::buttonFor(const Uuid& id) {
  auto it = statusItems_.find(id);
  return it == statusItems_.end() ? nullptr : &it->second->button();
}

std::optional<Menu> AppStatusItemsController::menuInWindow(std::uint32_t windowNumber) const {
  for (const auto& [id, item] : statusItems_) {
    const auto window = item->button().window();
    if (!window || window->number != windowNumber) {
      continue;
    }
    if (const auto app = appWithID(id)) {
      return itemMenu(*app);
    }
  }
  return std::nullopt;
}

void AppStatusItemsController::chooseFromMenu(const MenuItem& entry) {
  const auto* object = std::get_if<std::string>(&entry.representedObject);
  chooseFromItemMenu(entry.action, object ? *object : std::string());
}

std::optional<MonitoredApp> AppStatusItemsController::appWithID(const Uuid& id) const {
  for (const auto& app : *deps_.settings.monitoredApps()) {
    if (app.id == id) {
      return app;
    }
  }
  return std::nullopt;
}

void AppStatusItemsController::itemClicked(StatusBarButton& button) {
  const auto id = Uuid::parse(button.identifier());
  if (!id) {
    deps_.debugLog.log("appitem: clicked but identifier missing");
    return;
  }
  const auto event = deps_.events.currentEvent();
  deps_.debugLog.log("appitem: clicked id=" + id->toString() + " eventType=" +
                     (event ? std::string(describe(event->type)) : std::string("nil")) +
                     " clicks=" + std::to_string(event ? event->clickCount : -1));
  if (event && (event->modifierFlags & kModifierCommand) != 0) {
    return;  // the system is moving the item
  }
  const bool contextClick = event && (event->type == EventType::rightMouseUp ||
                                      (event->modifierFlags & kModifierControl) != 0);
  const auto app = appWithID(*id);
  if (!app) {
    return;
  }
  if (contextClick) {
    showItemMenu(button, *app);
    return;
  }
  if (pendingSingleClick_) {
    pendingSingleClick_->cancel();
    pendingSingleClick_.reset();
  }
  if (event && event->clickCount == 2) {
    activate(*app);
    return;
  }
  const double delay = std::min(deps_.events.doubleClickInterval(), kMaxSingleClickDelay);
  pendingSingleClick_ = deps_.scheduler.mainQueue().postAfter(
      seconds(delay), weakBind(shared_from_this(), [app = *app](AppStatusItemsController& self) {
        self.pendingSingleClick_.reset();
        self.singleClick(app);
      }));
}

void AppStatusItemsController::singleClick(const MonitoredApp& app) {
  auto weak = weak_from_this();
  Queue& background = deps_.scheduler.globalQueue(QoS::userInitiated);
  background.post([weak, app, &background] {
    auto self = weak.lock();
    if (!self) {
      return;
    }
    if (self->ownItemOpener_) {
      const bool opened = self->ownItemOpener_(app.bundleID);
      self->deps_.debugLog.log("appitem: singleClick " + app.bundleID +
                               " ownStatusItem=" + (opened ? "true" : "false"));
      if (!opened) {
        self->deps_.scheduler.mainQueue().post([weak, app] {
          if (auto strong = weak.lock()) {
            strong->activate(app);
          }
        });
      }
      return;
    }
    std::optional<ExternalStatusItem> own;
    if (self->deps_.scanner != nullptr) {
      for (auto& item : self->deps_.scanner->scan()) {
        if (item.bundleID == app.bundleID && item.frame.minX() >= 0) {
          own = std::move(item);
          break;
        }
      }
    }
    self->deps_.debugLog.log("appitem: singleClick " + app.bundleID +
                             " ownStatusItem=" + (own ? "true" : "false"));
    if (own) {
      // Opens the app's own menu; a failure (or an item without an element to press) is not
      // worth telling anyone about.
      if (own->element && self->deps_.accessibility != nullptr) {
        background.post([weak, element = *own->element] {
          if (auto strong = weak.lock()) {
            strong->deps_.accessibility->setMessagingTimeout(element, kPressTimeout);
            (void)strong->deps_.accessibility->performAction(element, "AXPress");
          }
        });
      }
      return;
    }
    self->deps_.scheduler.mainQueue().post([weak, app] {
      if (auto strong = weak.lock()) {
        strong->activate(app);
      }
    });
  });
}

void AppStatusItemsController::activate(const MonitoredApp& app) {
  const auto url = deps_.workspace.urlForApplication(app.bundleID);
  deps_.debugLog.log("appitem: activate " + app.bundleID +
                     " url=" + (url ? lastPathComponent(*url) : std::string("nil")));
  if (url) {
    deps_.workspace.openApplication(*url);
    return;
  }
  for (const auto& running : deps_.workspace.runningApplications()) {
    if (running.bundleIdentifier == app.bundleID) {
      deps_.workspace.activate(running.pid);
      return;
    }
  }
}

Menu AppStatusItemsController::itemMenu(const MonitoredApp& app) const {
  const std::string id = app.id.toString();
  Menu menu;
  MenuItem open = MenuItem::command(deps_.l10n.format("item.open", {app.name}), "open");
  open.representedObject = id;
  menu.items.push_back(open);
  menu.items.push_back(MenuItem::separator());
  for (const IconVisibility visibility :
       {IconVisibility::dim, IconVisibility::hide, IconVisibility::always}) {
    MenuItem entry = MenuItem::command(deps_.l10n.string(labelKey(visibility)), "visibility");
    entry.checked = app.visibility == visibility;
    entry.representedObject = id + "|" + std::string(rawValue(visibility));
    menu.items.push_back(entry);
  }
  menu.items.push_back(MenuItem::separator());
  menu.items.push_back(MenuItem::command(deps_.l10n.string("menu.settings"), "settings"));
  MenuItem remove = MenuItem::command(deps_.l10n.string("item.remove"), "remove");
  remove.representedObject = id;
  menu.items.push_back(remove);
  return menu;
}

MenuHandlers AppStatusItemsController::itemMenuHandlers() {
  MenuHandlers handlers;
  handlers.chose =
      weakBind(shared_from_this(), [](AppStatusItemsController& self, const MenuItem& chosen) {
        const auto* object = std::get_if<std::string>(&chosen.representedObject);
        self.chooseFromItemMenu(chosen.action, object ? *object : std::string());
      });
  return handlers;
}

void AppStatusItemsController::showItemMenu(StatusBarButton& button, const MonitoredApp& app) {
  button.popUpMenu(itemMenu(app), itemMenuHandlers());
}

void AppStatusItemsController::chooseFromItemMenu(const std::string& action,
                                                  const std::string& object) {
  if (action == "settings") {
    if (onShowSettings_) {
      onShowSettings_();
    }
    return;
  }
  if (action == "visibility") {
    const auto bar = object.find('|');
    if (bar == std::string::npos || object.find('|', bar + 1) != std::string::npos) {
      return;
    }
    const auto id = Uuid::parse(object.substr(0, bar));
    const auto visibility = visibilityFromRaw(object.substr(bar + 1));
    auto app = id ? appWithID(*id) : std::nullopt;
    if (!app || !visibility) {
      return;
    }
    app->visibility = *visibility;
    deps_.settings.update(*app);
    return;
  }
  const auto id = Uuid::parse(object);
  const auto app = id ? appWithID(*id) : std::nullopt;
  if (!app) {
    return;
  }
  if (action == "open") {
    activate(*app);
  } else if (action == "remove") {
    deps_.settings.remove(app->id);
  }
}

void AppStatusItemsController::reportBadgeReads() {
  const auto& items = *deps_.monitor->items();
  for (const auto& app : *deps_.settings.monitoredApps()) {
    auto it = items.find(app.bundleID);
    const bool found = it != items.end();
    const std::string kind = !found || !it->second.badge ? "none"
                             : it->second.badge->count   ? "number"
                                                         : "dot";
    const std::string state = std::string(found ? "true" : "false") + "|" + kind;
    auto& last = lastReportedBadgeState_[app.bundleID];
    if (last == state) {
      continue;
    }
    last = state;
    if (statistics_) {
      statistics_("badge.read", {{"app", app.bundleID}, {"ok", found}, {"kind", kind}});
    }
  }
}

void AppStatusItemsController::logLayoutSnapshot(const std::string& trigger) {
  if (!deps_.defaults.boolValue("testerModeEnabled")) {
    return;
  }
  std::vector<std::pair<Uuid, CocoaRect>> frames;
  for (const auto& [id, item] : statusItems_) {
    if (!item->isVisible()) {
      continue;
    }
    const auto window = item->button().window();
    if (window && window->frame.width() > 4) {
      frames.emplace_back(id, window->frame);
    }
  }
  std::stable_sort(frames.begin(), frames.end(),
                   [](const auto& a, const auto& b) { return a.second.minX() < b.second.minX(); });
  std::string text;
  for (const auto& [id, frame] : frames) {
    const auto app = appWithID(id);
    if (!text.empty()) {
      text += " | ";
    }
    text += (app ? app->bundleID : std::string("?")) +
            "@x=" + std::to_string(static_cast<long long>(std::trunc(frame.minX()))) +
            ",w=" + std::to_string(static_cast<long long>(std::trunc(frame.width())));
  }
  if (text == lastLayoutSnapshot_) {
    return;
  }
  lastLayoutSnapshot_ = text;
  deps_.debugLog.log("layout(" + trigger + "): " + (text.empty() ? "(no items)" : text));
}

void AppStatusItemsController::debugDumpFrames() {
  for (const auto& [id, item] : statusItems_) {
    const auto app = appWithID(id);
    const auto window = item->button().window();
    deps_.systemLog.log("Lumarin[debug] item=" + (app ? app->bundleID : id.toString()) +
                        " visible=" + (item->isVisible() ? "1" : "0") +
                        " frame=" + describeRect(window ? window->frame : CocoaRect()));
  }
}

}  // namespace lumarin
