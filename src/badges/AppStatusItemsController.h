#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "base/Image.h"
#include "base/Properties.h"
#include "base/Signal.h"
#include "base/StyledText.h"
#include "base/Uuid.h"
#include "model/MonitoredApp.h"
#include "platform/Menu.h"
#include "platform/Scheduler.h"

namespace lumarin {

class Accessibility;
class AppIcons;
class AppSettings;
class DebugLog;
class BadgeSource;
class Events;
class L10n;
class ProcessInfo;
class StatusBar;
class StatusBarButton;
class StatusItem;
class StatusItemScanner;
class SystemLog;
class UserDefaults;
class Workspace;
struct AppItemsRevision;
struct DockItem;

// One menu bar item per monitored app, in the settings' order, following the app's Dock badge:
// its picture, title and tooltip are redrawn on every settings change and every published
// Dock change. A single click opens the app's own menu bar item (or activates the app), a
// double click activates it, a right- or Control-click opens the item menu.
//
// Main queue; the single-click scan and press run on the user-initiated global queue. Create
// with std::make_shared and call `start()`; callbacks hold the controller weakly.
class AppStatusItemsController : public std::enable_shared_from_this<AppStatusItemsController> {
 public:
  static constexpr const char* kAutosavePrefix = "lumarin.";
  static constexpr const char* kPositionPrefix = "NSStatusItem Preferred Position ";
  static constexpr const char* kOwnItemAutosaveName = "Lumarin.ControlItem.Main";
  static constexpr double kIconSize = 18;
  static constexpr double kMaxSingleClickDelay = 0.4;
  static constexpr double kPressTimeout = 0.3;
  static constexpr double kLayoutPollInterval = 60;

  struct Dependencies {
    AppSettings& settings;
    std::shared_ptr<BadgeSource> monitor;
    StatusBar& statusBar;
    Events& events;
    Scheduler& scheduler;
    Workspace& workspace;
    // Both null where the platform has no accessibility (the desktop): an app's own item is
    // then opened through `setOwnItemOpener`.
    Accessibility* accessibility;
    StatusItemScanner* scanner;
    UserDefaults& defaults;
    AppIcons& appIcons;
    const L10n& l10n;
    const DebugLog& debugLog;
    SystemLog& systemLog;
    AppItemsRevision& revision;
  };
  using StatisticsHook = std::function<void(const std::string& event, const Properties&)>;

  explicit AppStatusItemsController(Dependencies dependencies);
  AppStatusItemsController(const AppStatusItemsController&) = delete;
  AppStatusItemsController& operator=(const AppStatusItemsController&) = delete;

  // Subscribes to the settings and the Dock monitor and starts the 60-second layout log.
  void start();
  void reconcile();

  // What the item of this app shows now: its picture and, when it has a length, its title.
  std::pair<std::optional<LazyImage>, std::optional<StyledText>> liveAppearance(
      const Uuid& id) const;
  // The click handler of every app item's button; the HUD's click forwarding calls it too.
  void itemClicked(StatusBarButton& button);
  // The item's button for an app, for callers that forward clicks to it.
  StatusBarButton* buttonFor(const Uuid& id);
  // The menu a right click opens on the app item whose button's window has this number (none
  // for other numbers), and choosing from it as that menu does.
  std::optional<Menu> menuInWindow(std::uint32_t windowNumber) const;
  void chooseFromMenu(const MenuItem& entry);
  void debugDumpFrames();

  void setOnShowSettings(std::function<void()> callback) { onShowSettings_ = std::move(callback); }
  void setStatisticsHook(StatisticsHook hook) { statistics_ = std::move(hook); }
  // Told the watched bundle identifiers after every reconciliation (the run report follows).
  void setWatchedObserver(std::function<void(const std::set<std::string>&)> observer) {
    watchedObserver_ = std::move(observer);
  }
  bool hasPendingSingleClick() const { return pendingSingleClick_.has_value(); }
  // How a single click opens the app's own item where the menu bar scan does not reach it (a
  // tray item's `Activate` on the desktop): true when the app had one and it was opened. Runs
  // on the user-initiated global queue. Without one, the scan and AXPress do it.
  void setOwnItemOpener(std::function<bool(const std::string& appID)> opener) {
    ownItemOpener_ = std::move(opener);
  }

 private:
  void seedPosition(const std::string& autosaveName);
  void update(StatusItem& item, const MonitoredApp& app);
  void showItemMenu(StatusBarButton& button, const MonitoredApp& app);
  Menu itemMenu(const MonitoredApp& app) const;
  MenuHandlers itemMenuHandlers();
  void chooseFromItemMenu(const std::string& action, const std::string& object);
  void singleClick(const MonitoredApp& app);
  void activate(const MonitoredApp& app);
  void reportBadgeReads();
  void logLayoutSnapshot(const std::string& trigger);
  Image icon(const std::string& bundleID);
  std::optional<MonitoredApp> appWithID(const Uuid& id) const;

  Dependencies deps_;
  std::map<Uuid, std::shared_ptr<StatusItem>> statusItems_;
  std::map<std::string, Image> iconCache_;
  Subscription settingsSubscription_;
  Subscription dockSubscription_;
  std::function<void()> onShowSettings_;
  std::optional<TaskHandle> pendingSingleClick_;
  std::string lastLayoutSnapshot_;
  std::shared_ptr<RepeatingTimer> layoutPollTimer_;
  std::map<std::string, std::string> lastReportedBadgeState_;
  StatisticsHook statistics_;
  std::function<void(const std::set<std::string>&)> watchedObserver_;
  std::function<bool(const std::string&)> ownItemOpener_;
};

}  // namespace lumarin
