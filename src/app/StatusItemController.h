#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/SettingsTab.h"
#include "base/Signal.h"
#include "platform/Menu.h"

namespace lumarin {

class Accessibility;
class AppIcons;
class AppSettings;
class AppShell;
class Bundle;
class Clock;
class DistributedNotifications;
class BadgeSource;
class L10n;
class Panels;
class ProcessInfo;
class Scheduler;
class StatusBar;
class StatusItem;
class SystemLog;
class UserDefaults;
class Workspace;

// The program's own menu bar item: the template glyph (with a pulsing red dot while the
// accessibility permission is missing) and its menu, built anew on every click from the
// current permission, Dock and settings state. Main queue. Create with std::make_shared and
// call `start()`; callbacks hold the controller weakly.
class StatusItemController : public std::enable_shared_from_this<StatusItemController> {
 public:
  static constexpr const char* kAutosaveName = "Lumarin.ControlItem.Main";
  static constexpr const char* kPositionKey =
      "NSStatusItem Preferred Position Lumarin.ControlItem.Main";
  static constexpr double kSeedPosition = 300;
  static constexpr double kIconSize = 16;
  static constexpr double kTrustNotificationDelay = 0.5;
  static constexpr const char* kTrustNotification = "com.apple.accessibility.api";

  struct Dependencies {
    AppSettings& settings;
    const L10n& l10n;
    std::shared_ptr<BadgeSource> monitor;
    StatusBar& statusBar;
    // Null where the platform asks no accessibility permission (the desktop): no alert then.
    Accessibility* accessibility;
    Workspace& workspace;
    AppShell& appShell;
    Panels& panels;
    // Null without a notification centre to hear trust changes from.
    DistributedNotifications* notifications;
    Scheduler& scheduler;
    UserDefaults& defaults;
    const Bundle& bundle;
    const ProcessInfo& processInfo;
    SystemLog& systemLog;
    AppIcons& appIcons;
    std::string ownBundleID;
    // Where "Other App…" starts browsing.
    std::string applicationsDirectory = "/Applications";
    // Whether the menu offers the HUD (and following Control Center, where there is one).
    bool offersHUD = true;
    bool offersControlCenter = true;
  };

  explicit StatusItemController(Dependencies dependencies);
  StatusItemController(const StatusItemController&) = delete;
  StatusItemController& operator=(const StatusItemController&) = delete;

  // Seeds the position, creates the item, draws it and subscribes to the permission signals.
  void start();
  void refreshIcon();
  // The menu as a click opens it; `forSearch`: only its commands, built without asking the
  // system anything (the HUD's search).
  Menu buildMenu(bool forSearch = false);
  // Runs the menu entry's action, as the menu does when the user chooses it.
  void perform(const MenuItem& entry);

  void setOnShowSettings(std::function<void(std::optional<SettingsTab>)> callback) {
    onShowSettings_ = std::move(callback);
  }
  void setOnShowOnboarding(std::function<void()> callback) {
    onShowOnboarding_ = std::move(callback);
  }
  // Toggles the HUD with a trigger ("menu"), and checks for updates.
  void setOnToggleHUD(std::function<void(const std::string&)> callback) {
    onToggleHUD_ = std::move(callback);
  }
  void setOnCheckForUpdates(std::function<void()> callback) {
    onCheckForUpdates_ = std::move(callback);
  }
  const std::shared_ptr<StatusItem>& statusItem() const { return statusItem_; }

 private:
  void handleClick();
  // Where the status bar reads an item's menu before the click (a desktop tray), the menu
  // stays attached and is rebuilt, once per main-queue turn, whenever what it shows changes.
  void attachMenuSoon();
  void attachMenu();
  bool trusted() const;
  std::shared_ptr<Menu> addAppMenu();
  void browseApp();

  Dependencies deps_;
  std::shared_ptr<StatusItem> statusItem_;
  Subscription readingSubscription_;
  Subscription trustSubscription_;
  std::vector<Subscription> menuSubscriptions_;
  bool menuAttachPending_ = false;
  std::function<void(std::optional<SettingsTab>)> onShowSettings_;
  std::function<void()> onShowOnboarding_;
  std::function<void(const std::string&)> onToggleHUD_;
  std::function<void()> onCheckForUpdates_;
};

}  // namespace lumarin
