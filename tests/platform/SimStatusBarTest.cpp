#include <gtest/gtest.h>

#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimStatusBar.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimulatedMac.h"
#include "support/Pictures.h"

namespace lumarin::sim {
namespace {

using namespace std::chrono_literals;

// A 14-inch notched laptop with Control Center's four items (196 points) and one app item.
class SimStatusBarTest : public ::testing::Test {
 protected:
  SimStatusBarTest() {
    mac_.world.setClock(&scheduler_.clock());
    mac_.world.setProgramProcess(4242, "Lumarin");
    auto scenario = parseScenario(R"({
      "apps": [{"bundleID": "com.example.tool", "name": "Tool", "running": true,
                "accessory": true, "menuExtras": [{"title": "T", "width": 30}]}]})",
                                  "test");
    EXPECT_TRUE(scenario) << scenario.error().message;
    mac_.build(*scenario);
  }

  std::shared_ptr<StatusItem> make(const std::string& name, std::optional<double> position,
                                   double length = 24) {
    if (position) {
      defaults_.set("NSStatusItem Preferred Position " + name, *position);
    }
    auto item = mac_.statusBar.makeStatusItem(length);
    item->setAutosaveName(name);
    return item;
  }

  // Distance of the item's right edge from the screen's right edge.
  double fromRight(StatusItem& item) {
    const auto window = item.button().window();
    EXPECT_TRUE(window);
    return window ? 1512 - window->frame.maxX() : -1;
  }

  ManualScheduler scheduler_;
  SimUserDefaults defaults_;
  SimulatedMac mac_{scheduler_, defaults_};
};

TEST_F(SimStatusBarTest, ItemsStandWhereTheirPositionsPutThemAmongTheOthers) {
  // Control Center's items end 8 + 196 points from the edge, the app's item 30 further.
  auto inside = make("a", 100.0);  // within Control Center's items: placed before the next one
  auto between = make("b", 210.0);
  auto beyond = make("c", 5000.0);  // beyond everything: the left end
  auto unnamed = make("d", std::nullopt);
  EXPECT_DOUBLE_EQ(fromRight(*inside), 8 + 94);  // right after the clock
  EXPECT_DOUBLE_EQ(fromRight(*between), 8 + 196 + 24);
  EXPECT_DOUBLE_EQ(fromRight(*beyond), 8 + 196 + 24 + 30 + 24);
  EXPECT_DOUBLE_EQ(fromRight(*unnamed), 8 + 196 + 24 + 30 + 24 + 24);

  // The window server lists each as a layer-25 window of the program, named by its title even
  // without screen recording (a process always sees its own windows' names).
  inside->button().setWindowTitle("Main");
  mac_.world.setScreenRecordingGranted(false);
  const auto window = inside->button().window();
  const auto listed = mac_.world.window(window->number);
  ASSERT_TRUE(listed);
  EXPECT_EQ(listed->layer, 25);
  EXPECT_EQ(listed->ownerPID, 4242);
  EXPECT_EQ(listed->name, "Main");
  EXPECT_EQ(window->frame.height(), 37);  // the notched laptop's bar

  // Removing an item closes the gap.
  mac_.statusBar.removeStatusItem(between);
  EXPECT_DOUBLE_EQ(fromRight(*beyond), 8 + 196 + 30 + 24);
  EXPECT_FALSE(between->button().window());
}

TEST_F(SimStatusBarTest, ZeroLengthKeepsThePlaceHidingForgetsIt) {
  auto left = make("left", 300.0);
  auto item = make("item", 210.0);
  const double before = fromRight(*left);
  item->setLength(0);
  EXPECT_DOUBLE_EQ(fromRight(*left), before - 24);
  EXPECT_TRUE(mac_.world.placedHostedItem(2).has_value());
  EXPECT_FALSE(mac_.world.placedHostedItem(2)->drawn);
  EXPECT_FALSE(mac_.statusBar.click("item", false, 1, 0));  // nothing to click
  item->setLength(24);
  EXPECT_DOUBLE_EQ(fromRight(*left), before);
  EXPECT_DOUBLE_EQ(fromRight(*item), 8 + 196 + 30);

  item->setVisible(false);
  EXPECT_FALSE(defaults_.contains("NSStatusItem Preferred Position item"));
  EXPECT_FALSE(item->button().window());
  item->setVisible(true);  // back at the left end
  EXPECT_GT(fromRight(*item), fromRight(*left));
}

TEST_F(SimStatusBarTest, ItemsUnderTheNotchOrTheFrontmostMenusAreNotDrawn) {
  // 600 points of items push the last ones under the camera housing (the notch's right edge
  // is (1512 - 185) / 2 = 663.5 points from the right).
  std::vector<std::shared_ptr<StatusItem>> items;
  for (int i = 0; i < 20; ++i) {
    items.push_back(make("i" + std::to_string(i), 300.0 + i, 30));
  }
  const auto first = mac_.world.placedHostedItem(1);
  const auto last = mac_.world.placedHostedItem(20);
  ASSERT_TRUE(first && last);
  EXPECT_TRUE(first->drawn);
  EXPECT_FALSE(last->drawn);
  EXPECT_FALSE(mac_.statusBar.click("i19", false, 1, 0));
}

TEST_F(SimStatusBarTest, ClicksReachTheButtonOrItsMenuAndMenusAreChosenByPath) {
  auto item = make("own", 300.0);
  std::vector<Event> seen;
  item->button().setAction([&](StatusBarButton&) { seen.push_back(*mac_.events.currentEvent()); },
                           kSendOnLeftMouseUp);
  ASSERT_TRUE(mac_.statusBar.click("own", false, 2, kModifierOption));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], (Event{EventType::leftMouseUp, 1, kModifierOption}));
  EXPECT_EQ(seen[1].clickCount, 2);
  ASSERT_TRUE(mac_.statusBar.click("own", true, 1, 0));  // right-mouse-up is not in the mask
  EXPECT_EQ(seen.size(), 2u);

  Menu menu;
  auto sub = std::make_shared<Menu>();
  sub->items = {MenuItem::command("Deep", "deep")};
  MenuItem parent;
  parent.title = "Parent";
  parent.submenu = sub;
  MenuItem off = MenuItem::command("Off", "off");
  off.enabled = false;
  menu.items = {parent, MenuItem::separator(), off};
  std::vector<std::string> events;
  item->setMenu(menu,
                MenuHandlers{[&](const MenuItem& m) { events.push_back("chose " + m.action); },
                             [&] { events.push_back("closed"); }});
  ASSERT_TRUE(mac_.statusBar.click("own", false, 1, 0));
  EXPECT_TRUE(seen.size() == 2u && mac_.statusBar.menuOpen());
  EXPECT_FALSE(mac_.statusBar.choose({"Parent"}));          // a submenu is not an entry
  EXPECT_FALSE(mac_.statusBar.choose({"Off"}));             // disabled
  EXPECT_FALSE(mac_.statusBar.choose({"Parent", "Nope"}));  // absent
  ASSERT_TRUE(mac_.statusBar.choose({"Parent", "Deep"}));
  EXPECT_EQ(events, (std::vector<std::string>{"closed", "chose deep"}));
  EXPECT_FALSE(mac_.statusBar.menuOpen());
  EXPECT_FALSE(mac_.statusBar.choose({"Parent", "Deep"}));  // nothing is open now
  EXPECT_FALSE(mac_.statusBar.dismissMenu());

  // A second menu closes the first.
  item->button().popUpMenu(menu, MenuHandlers{nullptr, [&] { events.push_back("first"); }});
  item->button().popUpMenu(menu, {});
  EXPECT_EQ(events.back(), "first");
  const auto json = mac_.statusBar.menusJson();
  ASSERT_EQ(json.size(), 3u);
  EXPECT_EQ(json[0]["outcome"], "chose");
  EXPECT_EQ(json[1]["outcome"], "closed");
  EXPECT_EQ(json[2]["outcome"], "open");
}

TEST_F(SimStatusBarTest, ButtonPictureIsDrawnIntoTheMenuBarWithItsLayers) {
  auto item = make("own", 300.0, kVariableStatusItemLength);
  EXPECT_DOUBLE_EQ(item->button().bounds().width, 0);  // nothing to show yet
  item->button().setImage(test::solidSquare(16, false));
  EXPECT_DOUBLE_EQ(item->button().bounds().width, 16 + 8);
  item->button().setAttributedTitle(StyledText{"12", 12, true, true, RgbColor{1, 0, 0, 1}});
  EXPECT_GT(item->button().bounds().width, 16 + 8 + 10);
  const auto hosted = mac_.world.hostedItem(1);
  ASSERT_TRUE(hosted);
  const Image picture = hosted->picture.rasterize(2);
  EXPECT_FALSE(picture.isEmpty());
  EXPECT_EQ(picture.pixelWidth, static_cast<int>(std::lround(item->button().bounds().width * 2)));
}

}  // namespace
}  // namespace lumarin::sim
