#include <gtest/gtest.h>

#include "hud/ControlCenterWatcher.h"
#include "menubar/MenuBarGeometry.h"
#include "support/DesktopFixture.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;
using Kind = ControlCenterWatcher::Kind;

TEST(ControlCenterClassifyTest, LayersSizesAndTops) {
  const std::vector<MenuBarScreen> screens = {{GlobalRect(0, 0, 1512, 982), 2, 1},
                                              {GlobalRect(1512, -200, 2560, 1440), 1, 2}};
  auto kind = [&](int layer, GlobalRect r) {
    return ControlCenterWatcher::classify({layer, r}, screens);
  };
  EXPECT_EQ(kind(101, GlobalRect(1100, 1.5, 344, 600)), Kind::panel);
  EXPECT_EQ(kind(101, GlobalRect(1100, 3, 344, 600)), Kind::menu);
  // On the second screen its own top counts, not the first screen's.
  EXPECT_EQ(kind(101, GlobalRect(3000, -199, 344, 600)), Kind::panel);
  EXPECT_EQ(kind(101, GlobalRect(3000, 0, 344, 600)), Kind::menu);
  EXPECT_EQ(kind(101, GlobalRect(1100, 0, 99, 500)), Kind::ignored);
  EXPECT_EQ(kind(22, GlobalRect(1100, 0, 500, 99)), Kind::ignored);
  EXPECT_EQ(kind(101, GlobalRect(0, 0, 1512 * 0.95, 982 * 0.95)), Kind::ignored);
  EXPECT_EQ(kind(22, GlobalRect(600, 300, 300, 300)), Kind::panel);
  EXPECT_EQ(kind(23, GlobalRect(600, 300, 300, 300)), Kind::menu);
  EXPECT_EQ(kind(25, GlobalRect(600, 0, 300, 300)), Kind::ignored);
}

class ControlCenterWatcherTest : public test::DesktopFixture {
 protected:
  void SetUp() override {
    load(R"({"apps": []})");
    watcher_->setOnChange(
        [this](bool open, std::optional<GlobalRect> rect) { changes_.emplace_back(open, rect); });
  }

  std::shared_ptr<ControlCenterWatcher> watcher_ = std::make_shared<ControlCenterWatcher>(
      ControlCenterWatcher::Dependencies{scheduler_, mac_.windowServer, mac_.screens,
                                         mac_.workspace, mac_.accessibility, mac_.events, log_});
  std::vector<std::pair<bool, std::optional<GlobalRect>>> changes_;
};

TEST_F(ControlCenterWatcherTest, ReportsOpeningAndClosingOnceWithThePanelsRectangle) {
  watcher_->start();
  watcher_->start();  // once
  scheduler_.advanceBy(2s);
  EXPECT_FALSE(watcher_->pollsFast());  // nothing open, nothing done: once a second
  EXPECT_TRUE(changes_.empty());
  ASSERT_TRUE(mac_.world.setControlCenterOpen(true));
  scheduler_.advanceBy(1s);
  ASSERT_EQ(changes_.size(), 1u);
  EXPECT_TRUE(changes_[0].first);
  ASSERT_TRUE(changes_[0].second);
  EXPECT_EQ(changes_[0].second->minY(), 0);
  EXPECT_TRUE(watcher_->pollsFast());  // fast while open
  scheduler_.advanceBy(2s);
  EXPECT_EQ(changes_.size(), 1u);
  mac_.world.setControlCenterOpen(false);
  scheduler_.advanceBy(250ms);
  ASSERT_EQ(changes_.size(), 2u);
  EXPECT_FALSE(changes_[1].first);
  EXPECT_FALSE(changes_[1].second);
  EXPECT_EQ(logLines("ccwatch: open rect=344x620@(").size(), 1u);
  EXPECT_EQ(logLines("ccwatch: close rect=- screens=1512x982@0,0").size(), 1u);
}

TEST_F(ControlCenterWatcherTest, ClicksNearTheTopSpeedPollingUpForThreeSeconds) {
  watcher_->start();
  scheduler_.advanceBy(2s);
  ASSERT_FALSE(watcher_->pollsFast());
  mac_.events.userClick(GlobalPoint{700, 500}, false);  // low on the screen
  scheduler_.advanceBy(100ms);
  EXPECT_FALSE(watcher_->pollsFast());
  mac_.events.userClick(GlobalPoint{700, 20}, false);  // in the menu bar
  scheduler_.advanceBy(100ms);
  EXPECT_TRUE(watcher_->pollsFast());
  const int polls = watcher_->pollCount();
  scheduler_.advanceBy(2500ms);
  EXPECT_GE(watcher_->pollCount() - polls, 10);
  scheduler_.advanceBy(1s);
  EXPECT_FALSE(watcher_->pollsFast());
  mac_.events.userFlagsChanged(1u << 23);  // the function key
  scheduler_.advanceBy(100ms);
  EXPECT_TRUE(watcher_->pollsFast());
}

TEST_F(ControlCenterWatcherTest, FollowsARestartedControlCenterAndStopsQuietly) {
  watcher_->start();
  scheduler_.advanceBy(1s);
  mac_.world.quit("com.apple.controlcenter");
  mac_.world.launch("com.apple.controlcenter");
  scheduler_.advanceBy(45s);  // within 40 polls
  const auto lines = logLines("ccwatch: CC pid ");
  ASSERT_EQ(lines.size(), 2u);  // found at the start, then the new process
  EXPECT_NE(lines[0].find("ccwatch: CC pid 0 → "), std::string::npos);
  EXPECT_EQ(lines[1].find(" (not running?)"), std::string::npos);
  mac_.world.setControlCenterOpen(true);
  scheduler_.advanceBy(1s);
  ASSERT_EQ(changes_.size(), 1u);
  watcher_->stop();
  scheduler_.runUntilIdle();
  EXPECT_FALSE(watcher_->isOpen());
  EXPECT_FALSE(watcher_->panelRect());
  EXPECT_EQ(changes_.size(), 1u);  // no report for stopping
  const int polls = watcher_->pollCount();
  scheduler_.advanceBy(5s);
  EXPECT_EQ(watcher_->pollCount(), polls);
}

}  // namespace
}  // namespace lumarin
