#include <gtest/gtest.h>

#include "platform/sim/ManualScheduler.h"
#include "platform/sim/Report.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimAccessibility.h"
#include "platform/sim/SimWorkspace.h"
#include "platform/sim/Timeline.h"

namespace lumarin::sim {
namespace {

using namespace std::chrono_literals;

TEST(ScenarioTest, BuiltInScenarioIsARealisticNotchedLaptop) {
  auto scenario = parseScenario(defaultScenarioText(), "built-in");
  ASSERT_TRUE(scenario) << scenario.error().message;
  ASSERT_EQ(scenario->screens.size(), 1u);
  const Screen& screen = scenario->screens[0];
  EXPECT_EQ(screen.frame, CocoaRect(0, 0, 1512, 982));
  EXPECT_EQ(screen.backingScale, 2);
  EXPECT_EQ(screen.safeAreaTop, 32);
  ASSERT_TRUE(screen.auxiliaryTopLeft && screen.auxiliaryTopRight);
  EXPECT_EQ(screen.auxiliaryTopRight->minX() - screen.auxiliaryTopLeft->maxX(), 185);
  EXPECT_EQ(screen.visibleFrame.maxY(), 982 - 37 - 1);

  World world;
  buildWorld(*scenario, world);
  std::map<std::string, std::optional<std::string>> badges;
  for (const auto& tile : world.dockTiles()) {
    badges[tile.bundleID] = tile.badge;
  }
  EXPECT_EQ(badges["com.apple.mail"], "3");
  EXPECT_EQ(badges["com.apple.MobileSMS"], "12");
  EXPECT_EQ(badges["com.tinyspeck.slackmacgap"], "•");
  EXPECT_EQ(badges["com.apple.iCal"], std::nullopt);
  EXPECT_FALSE(world.runningProcess("com.apple.Notes"));  // kept, not running
  EXPECT_TRUE(world.runningProcess("com.apple.finder"));
}

TEST(ScenarioTest, MalformedScenariosNameTheFilePathAndProblem) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{", "s.json: not valid JSON"},
      {"[]", "s.json: $: expected an object, found array"},
      {R"({"nmae": "x"})", "s.json: $.nmae: unknown key"},
      {R"({"apps": [{"name": "Mail"}]})", "s.json: $.apps[0].bundleID: is required"},
      {R"({"apps": [{"bundleID": 7, "name": "Mail"}]})",
       "s.json: $.apps[0].bundleID: expected a string, found number"},
      {R"({"apps": [{"bundleID": "a", "name": "A"}, {"bundleID": "a", "name": "B"}]})",
       "s.json: $.apps[1].bundleID: \"a\" is declared twice"},
      {R"({"screens": [{"size": [100, 100]}]})",
       "s.json: $.screens[0].size: a screen is at least 320 x 240 points"},
      {R"({"screens": [{"size": [1512, 982], "scale": 9}]})",
       "s.json: $.screens[0].scale: must be between 1 and 3"},
      {R"({"dock": [{"app": "com.apple.mail"}]})",
       "s.json: $.dock[0].app: no application \"com.apple.mail\" is declared in $.apps"},
      {R"({"dock": [{"kind": "shelf"}]})", "s.json: $.dock[0].kind: unknown tile kind \"shelf\""},
      {R"({"timeline": [{"at": 1, "do": "explode"}]})",
       "s.json: $.timeline[0].do: unknown action \"explode\""},
      {R"({"timeline": [{"do": "restartDock"}]})", "s.json: $.timeline[0].at: is required"},
      {R"({"timeline": [{"at": -1, "do": "restartDock"}]})",
       "s.json: $.timeline[0].at: must be between 0 and 1000000000"},
      {R"({"apps": [{"bundleID": "a", "name": "A"}],
           "timeline": [{"at": 1, "do": "setBadge", "app": "a"}]})",
       "s.json: $.timeline[0].label: is required (a string, or null to clear)"},
      {R"({"timeline": [{"at": 1, "do": "launch", "app": "b"}]})",
       "s.json: $.timeline[0].app: no application \"b\" is declared in $.apps"},
      {R"({"timeline": [{"at": 1, "do": "restartDock", "app2": "b"}]})",
       "s.json: $.timeline[0].app2: unknown key for \"restartDock\""},
      {R"({"menuBar": {"arrangement": "floating"}})",
       "s.json: $.menuBar.arrangement: expected \"perItemWindows\" or \"unifiedBar\""},
      {R"({"systemItems": [{"glyphColor": "blue"}]})",
       "s.json: $.systemItems[0].glyphColor: expected a colour as \"#RRGGBB\""},
      {R"({"apps": [{"bundleID": "a", "name": "A", "menuExtras": [{"width": 0}]}]})",
       "s.json: $.apps[0].menuExtras[0].width: must be between 1 and 400"},
      {R"({"defaults": {"x": {"$data": "not base64!"}}})",
       "s.json: $.defaults.x: not a settings value"},
      {R"({"input": {"doubleClickInterval": 0}})",
       "s.json: $.input.doubleClickInterval: must be between 0.1 and 5"},
      {R"({"timeline": [{"at": 1, "do": "clickStatusItem"}]})",
       "s.json: $.timeline[0]: names either \"item\" (\"own\") or \"app\""},
      {R"({"timeline": [{"at": 1, "do": "clickStatusItem", "item": "own", "clicks": 3}]})",
       "s.json: $.timeline[0].clicks: must be between 1 and 2"},
      {R"({"timeline": [{"at": 1, "do": "clickStatusItem", "item": "own", "button": "middle"}]})",
       "s.json: $.timeline[0].button: expected \"left\" or \"right\""},
      {R"({"timeline": [{"at": 1, "do": "clickStatusItem", "item": "own", "modifiers": ["fn"]}]})",
       "s.json: $.timeline[0].modifiers[0]: expected \"command\""},
      {R"({"timeline": [{"at": 1, "do": "chooseMenuItem", "path": []}]})",
       "s.json: $.timeline[0].path: expected a non-empty array of entry titles"},
      {R"({"timeline": [{"at": 1, "do": "chooseMenuItem", "path": ["Add App", ""]}]})",
       "s.json: $.timeline[0].path[1]: expected a non-empty string"},
      {R"({"timeline": [{"at": 1, "do": "answerOpenPanel", "path": "/tmp/x.txt"}]})",
       "s.json: $.timeline[0].path: no application bundle is declared at \"/tmp/x.txt\""},
      {R"({"timeline": [{"at": 1, "do": "answerOpenPanel"}]})",
       "s.json: $.timeline[0]: gives either \"path\""},
  };
  for (const auto& [text, expected] : cases) {
    auto result = parseScenario(text, "s.json");
    ASSERT_FALSE(result) << text;
    EXPECT_EQ(result.error().code, 2);
    EXPECT_EQ(result.error().message.rfind(expected, 0), 0u)
        << "got: " << result.error().message << "\nexpected: " << expected;
  }
}

TEST(ScenarioTest, TimelineAppliesEventsAtTheirTimesInFileOrderOnTies) {
  auto scenario = parseScenario(R"({
    "apps": [{"bundleID": "com.apple.mail", "name": "Mail", "running": true}],
    "dock": [{"app": "com.apple.mail"}],
    "timeline": [
      {"at": 2, "do": "setBadge", "app": "com.apple.mail", "label": "2"},
      {"at": 1, "do": "setBadge", "app": "com.apple.mail", "label": "1"},
      {"at": 2, "do": "setBadge", "app": "com.apple.mail", "label": "2b"},
      {"at": 3, "do": "removeTile", "app": "com.apple.mail"},
      {"at": 4, "do": "setBadge", "app": "com.apple.mail", "label": "lost"}
    ]})",
                                "t.json");
  ASSERT_TRUE(scenario) << scenario.error().message;
  ManualScheduler scheduler;
  World world;
  world.setClock(&scheduler.clock());
  buildWorld(*scenario, world);
  Timeline timeline(*scenario, world, scheduler);
  timeline.start();
  scheduler.advanceBy(1500ms);
  EXPECT_EQ(world.dockTiles().at(0).badge, "1");
  scheduler.advanceBy(1s);
  EXPECT_EQ(world.dockTiles().at(0).badge, "2b");
  scheduler.advanceBy(10s);
  EXPECT_TRUE(world.dockTiles().empty());
  const auto applied = timeline.applied();
  ASSERT_EQ(applied.size(), 5u);
  EXPECT_EQ(applied[0].at, 1.0);
  EXPECT_TRUE(applied[3].effective);
  EXPECT_FALSE(applied[4].effective);  // a badge for an app without a tile changes nothing
}

TEST(ScenarioTest, SameScenarioGivesTheSameReportByteForByte) {
  auto scenario = parseScenario(defaultScenarioText(), "built-in");
  ASSERT_TRUE(scenario);
  auto runOnce = [&] {
    ManualScheduler scheduler;
    World world;
    world.setClock(&scheduler.clock());
    world.setTimeSink([&](Duration d) { scheduler.elapse(d); });
    buildWorld(*scenario, world);
    SimAccessibility ax(world);
    SimWorkspace workspace(world, scheduler);
    Timeline timeline(*scenario, world, scheduler);
    timeline.start();
    // Something reads the Dock every second through a kept element, so the report has
    // calls to count and the restart leaves it stale once.
    AXElement root;
    auto poll = scheduler.mainQueue().scheduleRepeating(1s, 0ns, [&] {
      AXValue children;
      if (root.isNull() ||
          ax.copyAttributeValue(root, "AXChildren", children) == kAXErrorInvalidUIElement) {
        root = ax.createApplication(world.dockPid());
        ax.setMessagingTimeout(root, 0.3);
      }
    });
    scheduler.advanceBy(60s);
    return makeReport(*scenario, 60, world, timeline, workspace);
  };
  const std::string first = runOnce();
  EXPECT_EQ(first, runOnce());
  EXPECT_NE(first.find("\"kAXErrorInvalidUIElement\""), std::string::npos)
      << "the Dock restart at 40 s leaves a stale root for one read";
}

}  // namespace
}  // namespace lumarin::sim
