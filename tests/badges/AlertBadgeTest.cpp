#include <gtest/gtest.h>

#include "badges/AlertBadge.h"
#include "platform/StatusBar.h"
#include "support/DesktopFixture.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

TEST(KeyframeAnimationTest, PlaysTheHeartbeatAndRepeats) {
  KeyframeAnimation beat;
  beat.values = {1.0, 0.74, 1.0, 0.82, 1.0, 1.0};
  beat.keyTimes = {0, 0.12, 0.28, 0.42, 0.6, 1.0};
  beat.duration = 1.6;
  beat.repeatsForever = true;
  beat.beginTime = seconds(10);
  EXPECT_DOUBLE_EQ(beat.valueAt(seconds(10)), 1.0);
  EXPECT_NEAR(beat.valueAt(seconds(10 + 0.12 * 1.6)), 0.74, 1e-9);
  EXPECT_NEAR(beat.valueAt(seconds(10 + 0.42 * 1.6)), 0.82, 1e-9);
  // Eased: halfway between two keyframes is halfway in value, nearer the ends it lingers.
  EXPECT_NEAR(beat.valueAt(seconds(10 + 0.06 * 1.6)), 0.87, 1e-9);
  EXPECT_GT(beat.valueAt(seconds(10 + 0.01 * 1.6)), 0.99);
  // The second beat is the first one again.
  EXPECT_NEAR(beat.valueAt(seconds(10 + 1.6 + 0.12 * 1.6)), 0.74, 1e-9);
  EXPECT_DOUBLE_EQ(beat.valueAt(seconds(5)), 1.0);  // before it began
  beat.repeatsForever = false;
  EXPECT_DOUBLE_EQ(beat.valueAt(seconds(30)), 1.0);
  // Malformed key times never index out of range.
  beat.keyTimes = {0, 1};
  EXPECT_DOUBLE_EQ(beat.valueAt(seconds(11)), 1.0);
}

class AlertBadgeTest : public test::DesktopFixture {
 protected:
  void SetUp() override {
    load(R"({"apps": []})");
    item_ = mac_.statusBar.makeStatusItem(kSquareStatusItemLength);
    item_->setAutosaveName("Lumarin.ControlItem.Main");
  }
  std::shared_ptr<StatusItem> item_;
};

TEST_F(AlertBadgeTest, AddsMovesAndRemovesOneDot) {
  StatusBarButton& button = item_->button();
  AlertBadge::update(button, true, 16, scheduler_.clock(), false);
  auto dot = button.layer(AlertBadge::kLayerName);
  ASSERT_TRUE(dot);
  // 13/16 across and 3.1/16 below the top of a 16-point icon centred in a flipped 22-point
  // button; 5.8 points across, round.
  EXPECT_DOUBLE_EQ(dot->position.x, 11 - 8 + 13);
  EXPECT_DOUBLE_EQ(dot->position.y, 11 - 8 + 3.1);
  EXPECT_DOUBLE_EQ(dot->bounds.width, 5.8);
  EXPECT_DOUBLE_EQ(dot->cornerRadius, 2.9);
  EXPECT_DOUBLE_EQ(dot->contentsScale, 2);
  ASSERT_EQ(dot->animations.count(AlertBadge::kAnimationKey), 1u);
  EXPECT_EQ(dot->animations.at(AlertBadge::kAnimationKey).keyPath, "transform.scale");

  // A second update keeps the one dot and its running animation.
  scheduler_.advanceBy(5s);
  AlertBadge::update(button, true, 16, scheduler_.clock(), false);
  EXPECT_EQ(button.layer(AlertBadge::kLayerName)->animations.at("heartbeat").beginTime,
            dot->animations.at("heartbeat").beginTime);

  AlertBadge::update(button, false, 16, scheduler_.clock(), false);
  EXPECT_FALSE(button.layer(AlertBadge::kLayerName));
  AlertBadge::update(button, false, 16, scheduler_.clock(), false);  // nothing to remove

  // With reduce motion the dot stands still.
  AlertBadge::update(button, true, 16, scheduler_.clock(), true);
  EXPECT_TRUE(button.layer(AlertBadge::kLayerName)->animations.empty());
}

}  // namespace
}  // namespace lumarin
