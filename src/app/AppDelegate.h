#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppServices.h"
#include "app/SettingsTab.h"
#include "base/Signal.h"
#include "platform/Menu.h"
#include "platform/Platform.h"

namespace lumarin {

class AppStatusItemsController;
class GlobalHotKey;
class DebugLog;
class RepeatingTimer;
class OwnItemMenus;
class StatusItemController;

// The application delegate: creates the long-lived controllers in their fixed order when
// launching has finished and runs the 3-second housekeeping timer. Main thread only. Held by
// a shared_ptr; its timer and callbacks hold it weakly.
class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
 public:
  static constexpr double kHousekeepingInterval = 3.0;

  // Takes the settings store and wires the first-run seeding to the Dock snapshot.
  AppDelegate(const Platform& platform, const DebugLog& log, AppServices services);
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;
  ~AppDelegate();

  void applicationDidFinishLaunching();
  // The system's get-URL event: a sign-in callback completes the pending sign-in and opens
  // the settings on the Account tab; anything that is not a URL is ignored.
  void handleGetURLEvent(const std::optional<std::string>& directObject);
  // Whether `text` is an absolute URL: a scheme, ":", and no spaces or control characters.
  static bool isURL(const std::string& text);
  void applicationWillTerminate();
  // Closing the settings window or onboarding never ends the program.
  bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }

  // The main menu an accessory keeps for its key equivalents: Quit, and the Edit menu.
  static Menu makeMainMenu(const std::string& quitTitle);

  std::size_t housekeepingTicks() const { return housekeepingTicks_; }
  // Whether this launch came back from the screen-recording permission flow.
  bool resumedPermissionFlow() const { return resumedPermissionFlow_; }
  // The own items' menus as the HUD searches them; holds the delegate weakly.
  std::shared_ptr<OwnItemMenus> ownItemMenus();

  const std::shared_ptr<StatusItemController>& statusItemController() const {
    return statusItemController_;
  }
  const std::shared_ptr<AppStatusItemsController>& appItemsController() const {
    return appItemsController_;
  }

  // The updater while the program has one (the bundle names a feed).
  UpdaterController* updater() const { return updater_.get(); }
  // Opens or closes the HUD, or records the request in runs without it.
  void toggleHUD(const std::string& trigger);

  // What was asked of the windows that arrive with later parts of the program:
  // "settings:general", "settings:last", "onboarding", "updates"; "hud:menu" and "hud:hotkey"
  // in runs without the HUD.
  const std::vector<std::string>& requests() const { return requests_; }

 private:
  void installGetURLHandler();
  void installEditMenu();
  void createStatusItems();
  void registerHotKeys();
  void request(const std::string& what);
  void showSettings(std::optional<SettingsTab> tab);
  void scheduleHousekeeping();
  void startStatistics();
  void decideOnboarding();
  void showOnboarding(bool startAtPermissions, std::function<void()> onFinished);
  void recordStatistic(const std::string& name, const Properties& properties) const;
  void housekeeping();

  Platform platform_;
  const DebugLog& log_;
  AppServices services_;
  std::shared_ptr<StatusItemController> statusItemController_;
  std::shared_ptr<AppStatusItemsController> appItemsController_;
  std::shared_ptr<GlobalHotKey> hotKey_;
  std::shared_ptr<RepeatingTimer> housekeepingTimer_;
  std::unique_ptr<UpdaterController> updater_;
  std::size_t housekeepingTicks_ = 0;
  bool resumedPermissionFlow_ = false;
  std::vector<std::string> requests_;
};

}  // namespace lumarin
