#include <gtest/gtest.h>

#include "hud/HUDLayoutBus.h"
#include "support/DesktopFixture.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

class HUDLayoutBusTest : public test::DesktopFixture {
 protected:
  void SetUp() override {
    load(R"({"apps": []})");
    bus_->start();
    bus_->start();  // once only
    bus_->setOnPeerChange([this](const HUDLayoutBus::PeerState& s) { peers_.push_back(s); });
  }

  // The sibling (or anyone) posts on the session's bus.
  void announce(const Properties& info) {
    mac_.world.postNotification(HUDLayoutBus::kNoteName, info);
    scheduler_.runUntilIdle();
  }

  std::shared_ptr<HUDLayoutBus> bus_ =
      std::make_shared<HUDLayoutBus>(mac_.notifications, scheduler_.clock(), log_);
  std::vector<HUDLayoutBus::PeerState> peers_;
};

TEST_F(HUDLayoutBusTest, TakesOnlyTheSiblingsWellFormedAnnouncements) {
  announce({{"app", std::string("pellior")}});  // no "visible"
  announce({{"app", std::string("pellior")}, {"visible", std::string("yes")}});
  announce({{"app", std::string("Lumarin")}, {"visible", true}});  // our own
  EXPECT_FALSE(bus_->heardFromPellior());
  EXPECT_TRUE(peers_.empty());

  // Only "app" and "visible": a zero frame; a number of another kind counts as 0.
  announce({{"app", std::string("pellior")}, {"visible", true}, {"w", std::string("300")}});
  ASSERT_EQ(peers_.size(), 1u);
  EXPECT_TRUE(bus_->heardFromPellior());
  EXPECT_EQ(peers_[0].frame, CocoaRect(0, 0, 0, 0));
  announce({{"app", std::string("pellior")},
            {"visible", true},
            {"x", 100.0},
            {"y", 500.5},
            {"w", 320.0},
            {"h", 240.0}});
  EXPECT_EQ(bus_->pellior()->frame, CocoaRect(100, 500.5, 320, 240));
  EXPECT_EQ(logLines("hudbus: pellior visible=true frame=320x240@(100,500)").size(), 1u);
}

TEST_F(HUDLayoutBusTest, FreshVisiblePeerIsTenSecondsAtMost) {
  announce({{"app", std::string("pellior")}, {"visible", true}});
  scheduler_.advanceBy(10s);
  EXPECT_TRUE(bus_->freshVisiblePeer(10));
  scheduler_.advanceBy(500ms);
  EXPECT_FALSE(bus_->freshVisiblePeer(10));
  announce({{"app", std::string("pellior")}, {"visible", false}});
  EXPECT_FALSE(bus_->freshVisiblePeer(10));
}

TEST_F(HUDLayoutBusTest, PostsOurStateForTheSibling) {
  std::vector<Properties> seen;
  auto subscription =
      mac_.world.subscribeNotifications([&](const std::string& name, const Properties& info) {
        if (name == HUDLayoutBus::kNoteName) {
          seen.push_back(info);
        }
      });
  bus_->post(true, CocoaRect(10, 20, 300, 200));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(std::get<std::string>(seen[0].at("app")), "Lumarin");
  EXPECT_TRUE(std::get<bool>(seen[0].at("visible")));
  EXPECT_DOUBLE_EQ(std::get<double>(seen[0].at("w")), 300);
  scheduler_.runUntilIdle();
  EXPECT_TRUE(peers_.empty());  // our own announcement comes back and is dropped
}

}  // namespace
}  // namespace lumarin
