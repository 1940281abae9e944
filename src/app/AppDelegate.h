#pragma once

#include <memory>

#include "platform/Menu.h"
#include "platform/Platform.h"

namespace lumarin {

class AppSettings;
class DebugLog;
class L10n;
class RepeatingTimer;

// The application delegate: creates the long-lived controllers in their fixed order when
// launching has finished and runs the 3-second housekeeping timer. Main thread only. Held by
// a shared_ptr; its timer and callbacks hold it weakly.
class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
 public:
  static constexpr double kHousekeepingInterval = 3.0;

  AppDelegate(const Platform& platform, const DebugLog& log, AppSettings& settings,
              const L10n& l10n);
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  void applicationDidFinishLaunching();
  void applicationWillTerminate();
  // Closing the settings window or onboarding never ends the program.
  bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }

  // The main menu an accessory keeps for its key equivalents: Quit, and the Edit menu.
  static Menu makeMainMenu(const std::string& quitTitle);

  std::size_t housekeepingTicks() const { return housekeepingTicks_; }

 private:
  void installEditMenu();
  void scheduleHousekeeping();
  void housekeeping();

  Platform platform_;
  const DebugLog& log_;
  AppSettings& settings_;
  const L10n& l10n_;
  std::shared_ptr<RepeatingTimer> housekeepingTimer_;
  std::size_t housekeepingTicks_ = 0;
};

}  // namespace lumarin
