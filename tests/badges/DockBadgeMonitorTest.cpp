#include <gtest/gtest.h>

#include "badges/DockBadgeMonitor.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimAccessibility.h"
#include "platform/sim/SimWorkspace.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

TEST(BadgeLabelTest, ParsesCountsOnlyFromPureNumerals) {
  struct Case {
    std::optional<std::string> label;
    bool badge;
    std::optional<std::int64_t> count;
  };
  const std::vector<Case> cases = {
      {"5", true, 5},
      {"1,234", true, 1234},
      {"1 234", true, 1234},
      {"12.5", true, 125},
      {"99+", true, std::nullopt},
      {"•", true, std::nullopt},
      {"!", true, std::nullopt},
      {"", false, std::nullopt},
      {std::nullopt, false, std::nullopt},
      {"1234567890123456789012345", true, std::nullopt},  // beyond 64 bits
      {"9223372036854775807", true, INT64_MAX},
      {"\xD9\xA1\xD9\xA2", true, std::nullopt},  // Arabic-Indic "12": numeric, not decimal ASCII
      {"½", true, std::nullopt},
      {",", true, std::nullopt},
      {"007", true, 7},
  };
  for (const auto& c : cases) {
    const auto badge = DockBadgeMonitor::parseBadge(c.label);
    ASSERT_EQ(badge.has_value(), c.badge) << c.label.value_or("(absent)");
    if (badge) {
      EXPECT_EQ(badge->label, *c.label);
      EXPECT_EQ(badge->count, c.count) << *c.label;
    }
  }
}

// The monitor on a simulated Mac with Mail ("3"), Messages, Slack (not running) and a folder.
class DockBadgeMonitorTest : public ::testing::Test {
 protected:
  DockBadgeMonitorTest() {
    auto scenario = sim::parseScenario(R"({
      "apps": [
        {"bundleID": "com.apple.mail", "name": "Mail", "running": true},
        {"bundleID": "com.apple.MobileSMS", "name": "Messages", "running": true},
        {"bundleID": "com.tinyspeck.slackmacgap", "name": "Slack"},
        {"bundleID": "com.apple.Notes", "name": "Notes"}
      ],
      "dock": [
        {"app": "com.apple.mail", "badge": "3"},
        {"app": "com.apple.MobileSMS"},
        {"app": "com.tinyspeck.slackmacgap"},
        {"kind": "folder", "title": "Downloads", "url": "file:///Users/ana/Downloads/"}
      ]})",
                                       "test");
    EXPECT_TRUE(scenario) << scenario.error().message;
    world_.setClock(&scheduler_.clock());
    world_.setTimeSink([this](Duration d) { scheduler_.elapse(d); });
    sim::buildWorld(*scenario, world_);
  }

  std::optional<DockItem> item(const std::string& id) const {
    auto it = monitor_->items()->find(id);
    return it == monitor_->items()->end() ? std::nullopt : std::optional<DockItem>(it->second);
  }

  ManualScheduler scheduler_;
  sim::World world_;
  sim::SimAccessibility ax_{world_};
  sim::SimWorkspace workspace_{world_, scheduler_};
  std::shared_ptr<DockBadgeMonitor> monitor_ =
      std::make_shared<DockBadgeMonitor>(ax_, workspace_, scheduler_);
};

TEST_F(DockBadgeMonitorTest, FirstTickPublishesEveryApplicationTile) {
  int publications = 0;
  auto token = monitor_->items().observe([&](const auto&) { ++publications; });
  monitor_->start();
  monitor_->start();  // a second start does nothing
  scheduler_.runUntilIdle();
  EXPECT_TRUE(*monitor_->isReading());
  EXPECT_EQ(monitor_->items()->size(), 3u);  // the folder is not an application tile
  EXPECT_EQ(item("com.apple.mail")->badge, (BadgeValue{"3", 3}));
  EXPECT_TRUE(item("com.apple.mail")->isRunning);
  EXPECT_FALSE(item("com.tinyspeck.slackmacgap")->isRunning);
  EXPECT_EQ(publications, 1);
  scheduler_.advanceBy(40s);  // an unchanged Dock publishes nothing more
  EXPECT_EQ(publications, 1);
}

TEST_F(DockBadgeMonitorTest, WatchedBadgeReachesItemsWithinOneSecondWithTwoCallsPerApp) {
  monitor_->start();
  monitor_->setWatched({"com.apple.mail", "com.apple.MobileSMS", "com.apple.Notes"});
  scheduler_.runUntilIdle();
  world_.resetCallCounts();
  scheduler_.advanceBy(1s);  // one incremental tick
  const auto counts = world_.callCounts();
  EXPECT_EQ(counts.total, 4u);  // two watched apps in the Dock; Notes is absent
  EXPECT_EQ(counts.reads.at("com.apple.dock").at("AXIsApplicationRunning"), 2u);
  EXPECT_EQ(counts.reads.at("com.apple.dock").at("AXStatusLabel"), 2u);

  world_.setBadge("com.apple.mail", "1,024");
  scheduler_.advanceBy(999ms);
  EXPECT_EQ(item("com.apple.mail")->badge->count, 3);
  scheduler_.advanceBy(1ms);
  EXPECT_EQ(item("com.apple.mail")->badge, (BadgeValue{"1,024", 1024}));
  world_.setBadge("com.apple.MobileSMS", "•");
  scheduler_.advanceBy(1s);
  EXPECT_EQ(item("com.apple.MobileSMS")->badge, (BadgeValue{"•", std::nullopt}));
}

TEST_F(DockBadgeMonitorTest, AbsentWatchedAppIsFoundAtTheNextFullReadOrAtOnceOnLaunch) {
  monitor_->start();
  monitor_->setWatched({"com.apple.Notes"});
  scheduler_.runUntilIdle();
  sim::DockTile notes;
  notes.bundleID = "com.apple.Notes";
  world_.addTile(notes);  // kept, not running: no launch notification
  scheduler_.advanceBy(30s);
  EXPECT_FALSE(item("com.apple.Notes"));
  scheduler_.advanceBy(1s);  // more than 30 s since the last full read
  ASSERT_TRUE(item("com.apple.Notes"));
  EXPECT_FALSE(item("com.apple.Notes")->isRunning);
  world_.launch("com.apple.Notes");  // a launch triggers a full read at once
  scheduler_.runUntilIdle();
  EXPECT_TRUE(item("com.apple.Notes")->isRunning);
}

TEST_F(DockBadgeMonitorTest, QuitPublishesAtOnceAndRemovedOrRestartedTilesLeaveNoStaleBadge) {
  monitor_->start();
  monitor_->setWatched({"com.apple.mail"});
  scheduler_.runUntilIdle();
  world_.quit("com.apple.mail");
  scheduler_.runUntilIdle();
  EXPECT_FALSE(item("com.apple.mail")->isRunning);
  EXPECT_EQ(item("com.apple.mail")->badge->count, 3);

  world_.restartDock();
  world_.setBadge("com.apple.mail", "8");
  scheduler_.advanceBy(1s);  // stale element: the tick turns into a full read
  EXPECT_EQ(item("com.apple.mail")->badge->count, 8);

  world_.removeTile("com.apple.mail");
  scheduler_.advanceBy(1s);
  EXPECT_FALSE(item("com.apple.mail"));
  EXPECT_EQ(monitor_->items()->size(), 2u);
}

TEST_F(DockBadgeMonitorTest, TitleChangeAloneAndUnchangedWatchedSetPublishNothing) {
  monitor_->start();
  monitor_->setWatched({"com.apple.mail"});
  scheduler_.runUntilIdle();
  int publications = 0;
  auto token = monitor_->items().observe([&](const auto&) { ++publications; });
  world_.renameTile("com.apple.mail", "Post");
  monitor_->setWatched({"com.apple.mail"});
  scheduler_.advanceBy(40s);
  EXPECT_EQ(publications, 0);
  EXPECT_EQ(item("com.apple.mail")->name, "Mail");
}

TEST_F(DockBadgeMonitorTest, WithoutWatchedAppsItemsStillRefreshAboutEveryThirtyOneSeconds) {
  monitor_->start();
  scheduler_.runUntilIdle();
  world_.setBadge("com.apple.MobileSMS", "2");
  scheduler_.advanceBy(30s);
  EXPECT_FALSE(item("com.apple.MobileSMS")->badge);
  scheduler_.advanceBy(1s);
  EXPECT_EQ(item("com.apple.MobileSMS")->badge->count, 2);
}

TEST_F(DockBadgeMonitorTest, WithoutAccessibilityEveryTickFailsFastUntilGranted) {
  world_.setAccessibilityTrusted(false);
  monitor_->start();
  monitor_->setWatched({"com.apple.mail"});
  scheduler_.advanceBy(10s);
  EXPECT_FALSE(*monitor_->isReading());
  EXPECT_TRUE(monitor_->items()->empty());
  EXPECT_EQ(scheduler_.now(), Duration(10s));  // no call waited for a timeout
  EXPECT_TRUE(monitor_->snapshotDockItems().empty());
  world_.setAccessibilityTrusted(true);
  scheduler_.advanceBy(1s);
  EXPECT_TRUE(*monitor_->isReading());
  EXPECT_EQ(item("com.apple.mail")->badge->count, 3);
  world_.setAccessibilityTrusted(false);
  scheduler_.advanceBy(31s);
  EXPECT_FALSE(*monitor_->isReading());
  EXPECT_EQ(monitor_->items()->size(), 3u);  // the last reading stays
}

TEST_F(DockBadgeMonitorTest, SnapshotIsInDockOrderAndChangesNoState) {
  const auto snapshot = monitor_->snapshotDockItems();
  ASSERT_EQ(snapshot.size(), 3u);
  EXPECT_EQ(snapshot[0].bundleID, "com.apple.mail");
  EXPECT_EQ(snapshot[2].bundleID, "com.tinyspeck.slackmacgap");
  scheduler_.runUntilIdle();
  EXPECT_TRUE(monitor_->items()->empty());
  EXPECT_FALSE(*monitor_->isReading());
}

TEST_F(DockBadgeMonitorTest, TileOfADeletedAppIsLeftOut) {
  sim::DockTile ghost;
  ghost.bundleID = "com.example.gone";
  ghost.title = "Gone";
  ghost.url = "file:///Applications/Gone.app/";
  world_.addTile(ghost, 0);
  const auto snapshot = monitor_->snapshotDockItems();
  ASSERT_EQ(snapshot.size(), 3u);
  EXPECT_EQ(snapshot[0].bundleID, "com.apple.mail");
}

TEST_F(DockBadgeMonitorTest, SlowDockCostsVirtualTimeButStillReads) {
  world_.setLatency("com.apple.dock", 0.05);
  monitor_->start();
  scheduler_.runUntilIdle();
  EXPECT_TRUE(*monitor_->isReading());
  // 19 calls (the two lists, four subroles, four attributes of three app tiles) at 50 ms.
  EXPECT_EQ(scheduler_.now(), Duration(950ms));
}

}  // namespace
}  // namespace lumarin
