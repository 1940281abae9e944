#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "badges/AppIcons.h"
#include "badges/DockBadgeMonitor.h"
#include "diagnostics/DebugLog.h"
#include "l10n/FrameworkLanguage.h"
#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimAccessibility.h"
#include "platform/sim/SimAppShell.h"
#include "platform/sim/SimLoginItems.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimSystemLog.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimWorkspace.h"
#include "platform/sim/World.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

class AppDelegateTest : public ::testing::Test {
 protected:
  AppDelegateTest() {
    platform_.scheduler = &scheduler_;
    platform_.clock = &scheduler_.clock();
    platform_.processInfo = &process_;
    platform_.appShell = &shell_;
  }

  test::TempDir dir_;
  ManualScheduler scheduler_;
  SimProcessInfo process_;
  SimAppShell shell_;
  Platform platform_;
  DebugLog log_{dir_.path(), scheduler_.clock()};
  SimUserDefaults defaults_;
  FrameworkLanguage frameworkLanguage_;
  L10n l10n_{defaults_, frameworkLanguage_, nullptr};
  SimLoginItems loginItems_;
  SimSystemLog systemLog_;
  AppSettings settings_{AppSettings::Dependencies{defaults_, loginItems_, systemLog_, log_,
                                                  scheduler_.clock(), &l10n_}};

  sim::World world_;
  sim::SimAccessibility ax_{world_};
  sim::SimWorkspace workspace_{world_, scheduler_};
  std::shared_ptr<DockBadgeMonitor> monitor_ =
      std::make_shared<DockBadgeMonitor>(ax_, workspace_, scheduler_);
  AppIcons icons_{workspace_};

  std::shared_ptr<AppDelegate> makeDelegate() {
    return std::make_shared<AppDelegate>(platform_, log_,
                                         AppServices{settings_, l10n_, monitor_, icons_});
  }
};

TEST_F(AppDelegateTest, MainMenuHoldsQuitAndTheEditCommands) {
  auto delegate = makeDelegate();
  delegate->applicationDidFinishLaunching();
  const Menu& menu = shell_.mainMenu();
  ASSERT_EQ(menu.items.size(), 2u);
  ASSERT_TRUE(menu.items[0].submenu);
  const auto& quit = menu.items[0].submenu->items.at(0);
  EXPECT_EQ(quit.title, "Quit Lumarin");
  EXPECT_EQ(quit.keyEquivalent, "q");
  EXPECT_EQ(quit.modifiers, kModifierCommand);
  const Menu& edit = *menu.items[1].submenu;
  EXPECT_EQ(edit.title, "Edit");
  std::vector<std::string> shape;
  for (const auto& item : edit.items) {
    shape.push_back(item.isSeparator ? "-" : item.title + ":" + item.keyEquivalent);
  }
  EXPECT_EQ(shape, (std::vector<std::string>{"Undo:z", "Redo:Z", "-", "Cut:x", "Copy:c", "Paste:v",
                                             "Select All:a"}));
  EXPECT_FALSE(delegate->applicationShouldTerminateAfterLastWindowClosed());

  // The quit entry follows the interface language.
  settings_.setLanguageCode("de");
  makeDelegate()->applicationDidFinishLaunching();
  EXPECT_EQ(shell_.mainMenu().items[0].submenu->items.at(0).title, "Lumarin beenden");
}

TEST_F(AppDelegateTest, HousekeepingTicksEveryThreeSecondsWhileTheDelegateLives) {
  auto delegate = makeDelegate();
  delegate->applicationDidFinishLaunching();
  scheduler_.advanceBy(2999ms);
  EXPECT_EQ(delegate->housekeepingTicks(), 0u);
  scheduler_.advanceBy(1ms);
  EXPECT_EQ(delegate->housekeepingTicks(), 1u);
  scheduler_.advanceBy(30s);
  EXPECT_EQ(delegate->housekeepingTicks(), 11u);
  delegate.reset();
  scheduler_.advanceBy(30s);  // the timer holds the delegate weakly: it is gone with it
  monitor_.reset();           // and so is the Dock monitor's tick
  scheduler_.advanceBy(2s);
  EXPECT_EQ(scheduler_.pendingTaskCount(), 0u);
}

TEST_F(AppDelegateTest, LaunchStartsTheDockMonitorWatchingTheMonitoredApps) {
  sim::InstalledBundle mail;
  mail.bundleID = "com.apple.mail";
  mail.name = "Mail";
  mail.path = "/System/Applications/Mail.app";
  world_.installBundle(mail);
  sim::DockTile tile;
  tile.bundleID = "com.apple.mail";
  tile.badge = "3";
  world_.addTile(tile);
  settings_.add("com.apple.mail", "Mail");
  auto delegate = makeDelegate();
  delegate->applicationDidFinishLaunching();
  scheduler_.runUntilIdle();
  ASSERT_EQ(monitor_->items()->count("com.apple.mail"), 1u);
  world_.setBadge("com.apple.mail", "4");
  scheduler_.advanceBy(1s);
  EXPECT_EQ(monitor_->items()->at("com.apple.mail").badge->count, 4);
  // First-run seeding reads the Dock through the monitor.
  settings_.remove(settings_.monitoredApps()->at(0).id);
  settings_.seedDefaultAppsIfNeeded();
  EXPECT_EQ(settings_.monitoredApps()->size(), 1u);
}

TEST_F(AppDelegateTest, TerminationWritesItsLine) {
  process_.pid = 777;
  makeDelegate()->applicationWillTerminate();
  EXPECT_NE(log_.tail().find(" startup: applicationWillTerminate pid=777\n"), std::string::npos);
}

}  // namespace
}  // namespace lumarin
