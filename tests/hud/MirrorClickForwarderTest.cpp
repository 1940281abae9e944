#include <gtest/gtest.h>

#include "badges/AppStatusItemsController.h"
#include "hud/MirrorClickForwarder.h"
#include "hud/MirrorFixture.h"
#include "platform/StatusBar.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

// A notched 14-inch laptop; Busy's 14 items push the leftmost ones under the notch.
constexpr const char* kClickScenario = R"({
  "apps": [
    {"bundleID": "com.example.slow", "name": "Slow", "running": true, "accessory": true,
     "menuExtras": [{"title": "S", "width": 30}]},
    {"bundleID": "com.example.busy", "name": "Busy", "running": true, "accessory": true,
     "menuExtras": [{"title": "b1", "width": 40}, {"title": "b2", "width": 40},
                    {"title": "b3", "width": 40}, {"title": "b4", "width": 40},
                    {"title": "b5", "width": 40}, {"title": "b6", "width": 40},
                    {"title": "b7", "width": 40}, {"title": "b8", "width": 40},
                    {"title": "b9", "width": 40}, {"title": "b10", "width": 40},
                    {"title": "b11", "width": 40}, {"title": "b12", "width": 40},
                    {"title": "b13", "width": 40}, {"title": "b14", "width": 40}]}
  ]})";

class MirrorClickForwarderTest : public test::MirrorFixture {
 protected:
  void SetUp() override {
    load(kClickScenario);
    refresh();
  }

  const ExternalStatusItem& target(const std::string& title) {
    for (const auto& [id, target] : model()->targetsByID()) {
      if (const auto* item = std::get_if<ExternalStatusItem>(&target);
          item && item->element &&
          mac_.accessibility.stringAttribute(*item->element, "AXTitle") == title) {
        return *item;
      }
    }
    ADD_FAILURE() << "no tile for " << title;
    static ExternalStatusItem none;
    return none;
  }

  void click(const MirrorModel::Target& target, bool right, unsigned modifiers = 0) {
    forwarder()->forward(target, right, modifiers);
    scheduler_.advanceBy(100ms);  // the button's hold and the cursor's return
  }
};

TEST_F(MirrorClickForwarderTest, VisibleItemsArePressedOrClickedAtTheirPlace) {
  // A press that reports −25204 happened: no synthesised click follows.
  const ExternalStatusItem slow = target("S");
  mac_.world.setLatency("com.example.slow", 0.5);
  click(slow, false);
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_TRUE(reports_[0].ok);
  EXPECT_EQ(reports_[0].path, "ax");
  EXPECT_EQ(reports_[0].targetApp, "com.example.slow");
  EXPECT_FALSE(reports_[0].notchHidden);
  EXPECT_TRUE(mac_.events.posted().empty());
  EXPECT_EQ(mac_.world.performedActions().back().result, kAXErrorCannotComplete);

  // Command held: a synthesised click with the flag, and no accessibility action. The menu
  // bar delivers it to the item under the point; the cursor goes back where it was.
  const auto actions = mac_.world.performedActions().size();
  click(slow, false, kModifierCommand | (1u << 23));
  EXPECT_EQ(mac_.world.performedActions().size(), actions);
  const auto posted = mac_.events.posted();
  ASSERT_EQ(posted.size(), 3u);
  EXPECT_EQ(posted[0].type, EventType::leftMouseDown);
  EXPECT_EQ(posted[1].type, EventType::leftMouseUp);
  EXPECT_EQ(posted[1].flags, kModifierCommand);  // the function key does not pass
  EXPECT_EQ(posted[1].hit, "com.example.slow item");
  EXPECT_NEAR(posted[1].at - posted[0].at, 0.030, 1e-9);
  EXPECT_EQ(posted[2].type, EventType::mouseMoved);
  EXPECT_EQ(reports_.back().path, "skylight");

  // A right click is always a synthesised right click, never "AXShowMenu".
  click(slow, true);
  EXPECT_EQ(mac_.events.posted()[4].type, EventType::rightMouseUp);
  EXPECT_EQ(mac_.world.performedActions().size(), actions);
  const auto menus = mac_.world.openedMenus();
  ASSERT_FALSE(menus.empty());
  EXPECT_EQ(menus.back().via, "click");
  EXPECT_TRUE(menus.back().right);
}

TEST_F(MirrorClickForwarderTest, HiddenItemsAreReachedOnlyThroughTheirElement) {
  const ExternalStatusItem& hidden = target("b14");
  ASSERT_TRUE(isHiddenByNotch(mac_.screens.screens(), hidden.frame.minX(), hidden.frame.midX()));
  click(hidden, false);
  EXPECT_EQ(reports_.back().path, "ax");
  EXPECT_TRUE(reports_.back().notchHidden);
  click(hidden, true);
  EXPECT_EQ(mac_.world.performedActions().back().action, "AXShowMenu");
  EXPECT_TRUE(mac_.events.posted().empty());
  EXPECT_EQ(mac_.world.openedMenus().back().item, "b14");

  // Without an element there is no way to it.
  ExternalStatusItem bare = hidden;
  bare.element.reset();
  click(bare, false);
  EXPECT_FALSE(reports_.back().ok);
  EXPECT_EQ(reports_.back().path, "none");
  EXPECT_TRUE(reports_.back().notchHidden);
  EXPECT_EQ(logLines("mirror: click dropped Busy (notch-hidden, no AX path)").size(), 1u);
  EXPECT_TRUE(mac_.events.posted().empty());

  // A drawn hint of false counts as hidden far from the notch.
  ExternalStatusItem hinted = target("S");
  hinted.element.reset();
  hinted.drawnHint = false;
  click(hinted, false);
  EXPECT_EQ(reports_.back().path, "none");
}

TEST_F(MirrorClickForwarderTest, VisibilityLimitsAndWindowlessItems) {
  auto visibleFor = [&](double minX, double width) {
    ExternalStatusItem item;
    item.pid = 999;
    item.appName = "Probe";
    item.frame = GlobalRect(minX, 0, width, 24);
    item.drawnHint = true;  // whatever the notch would say
    click(item, false);
    return logLines("mirror: click Probe").back().find(" visible=true ") != std::string::npos;
  };
  EXPECT_FALSE(visibleFor(1400, 1));  // must be wider than one point
  EXPECT_TRUE(visibleFor(1400, 2));
  EXPECT_TRUE(visibleFor(-1, 30));
  EXPECT_FALSE(visibleFor(-1.5, 30));
  // Window id 0: the click lands on the centre of the accessibility frame.
  ExternalStatusItem item = target("S");
  item.windowID = 0;
  click(item, true);
  const auto posted = mac_.events.posted();
  ASSERT_GE(posted.size(), 2u);
  const auto& up = posted[posted.size() - 2];  // the last is the cursor going back
  EXPECT_EQ(up.type, EventType::rightMouseUp);
  EXPECT_DOUBLE_EQ(up.point.x, item.frame.midX());
  EXPECT_DOUBLE_EQ(up.point.y, item.frame.midY());
}

TEST_F(MirrorClickForwarderTest, OwnItemsGoThroughTheirButton) {
  defaults_.set("NSStatusItem Preferred Position lumarin.com.example.slow", 10.0);
  auto item = mac_.statusBar.makeStatusItem(kSquareStatusItemLength);
  item->setAutosaveName("lumarin.com.example.slow");
  int clicks = 0;
  item->button().setAction([&](StatusBarButton&) { ++clicks; }, kSendOnLeftMouseUp);
  item->button().setIdentifier(Uuid::random().toString());
  const auto number = item->button().window()->number;
  // A UUID identifier but no app items controller: the button clicks itself.
  click(MirrorModel::OwnTarget{number}, false);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(reports_.back().path, "ax");
  EXPECT_EQ(reports_.back().targetApp, "com.kestova.Lumarin");
  EXPECT_EQ(logLines("→ performClick").size(), 1u);
  // A window that is gone.
  click(MirrorModel::OwnTarget{9999}, false);
  EXPECT_FALSE(reports_.back().ok);
  EXPECT_EQ(logLines("mirror: own#9999 button not found").size(), 1u);
  // A right click is a synthesised right click at the item's place, which reaches the item.
  item->button().setAction([&](StatusBarButton&) { ++clicks; },
                           kSendOnLeftMouseUp | kSendOnRightMouseUp);
  click(MirrorModel::OwnTarget{number}, true);
  EXPECT_EQ(reports_.back().path, "skylight");
  const auto posted = mac_.events.posted();
  ASSERT_GE(posted.size(), 3u);
  EXPECT_EQ(posted[posted.size() - 2].hit, "own item");
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(posted.back().type, EventType::mouseMoved);
}

}  // namespace
}  // namespace lumarin
