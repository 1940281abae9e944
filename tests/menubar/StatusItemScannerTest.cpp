#include "MenuBarFixture.h"
#include "menubar/StatusItemScanner.h"

namespace lumarin {
namespace {

using test::MenuBarFixture;

// Control Center's items take 1308..1504; apps follow to the left, newest leftmost.
const char* kBasicScenario = R"({
  "apps": [
    {"bundleID": "com.example.weather", "name": "Weather", "accessory": true, "running": true,
     "menuExtras": [{"identifier": "com.example.weather", "title": "  Weather  ", "width": 40},
                    {"width": 199.5}, {"width": 200}, {"width": 24}]},
    {"bundleID": "com.example.beta", "name": "beta", "accessory": true, "running": true,
     "menuExtras": [{"title": "b", "width": 24}]},
    {"bundleID": "com.example.alpha", "name": "Alpha", "accessory": true, "running": true,
     "menuExtras": [{"title": "a", "width": 24}]},
    {"bundleID": "com.apple.Spotlight", "name": "Spotlight", "accessory": true, "running": true,
     "menuExtras": [{"title": "Spotlight", "width": 30}]}
  ]})";

TEST_F(MenuBarFixture, AccessibilityPassFindsItemsWithWindowsIdentitiesAndWidthRule) {
  load(kBasicScenario);
  const auto items = scanner_.scan();
  auto weather = find(items, "Weather");
  ASSERT_TRUE(weather);
  EXPECT_EQ(weather->index, 0);
  EXPECT_EQ(weather->appName, "Weather");
  EXPECT_EQ(weather->bundleID, "com.example.weather");
  EXPECT_NE(weather->windowID, 0u);
  EXPECT_TRUE(weather->element);
  // Window names are "Item-n" here, so the window's name is the identity.
  EXPECT_EQ(weather->windowTitle, "Item-0");
  EXPECT_EQ(weather->id(), std::to_string(weather->pid) + "#0");
  EXPECT_TRUE(find(items, "Item-1"));   // 199.5 points wide: kept
  EXPECT_FALSE(find(items, "Item-2"));  // 200 points wide: left out
  auto fourth = find(items, "Item-3");
  ASSERT_TRUE(fourth);
  EXPECT_EQ(fourth->index, 3);             // indices count every child, also the skipped one
  EXPECT_FALSE(find(items, "Spotlight"));  // an excluded owner
  // The system's items come from their windows; the clock and the Control Center icon never.
  EXPECT_TRUE(find(items, "Wi-Fi"));
  EXPECT_TRUE(find(items, "Battery"));
  EXPECT_FALSE(find(items, "Clock"));
  EXPECT_FALSE(find(items, "BentoBox-0"));
  // Names sort case-insensitively: Alpha, Battery, beta, Weather..., Wi-Fi.
  std::vector<std::string> names;
  for (const auto& item : items) {
    if (names.empty() || names.back() != item.appName) {
      names.push_back(item.appName);
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Battery", "beta", "Weather", "Wi-Fi"}));
}

TEST_F(MenuBarFixture, IdentityFallsBackThroughTheElementsTexts) {
  load(kBasicScenario);
  world_.setScreenRecordingGranted(false);  // window names come back empty
  const auto items = scanner_.scan();
  // AXIdentifier equals the bundle id and is passed over; the trimmed title wins.
  EXPECT_TRUE(find(items, "Weather") && find(items, "Weather")->windowTitle == "Weather");
  EXPECT_TRUE(find(items, "Item-3"));  // no usable text at child position 3
  EXPECT_FALSE(find(items, "Wi-Fi"));  // without names no system window is recognised
}

TEST_F(MenuBarFixture, OwnProcessAndUntrustedScansGiveNothing) {
  load(kBasicScenario);
  const int weatherPid = world_.runningProcess("com.example.weather")->pid;
  StatusItemScanner own(StatusItemScanner::Dependencies{ax_, workspace_, skyLight_, windowServer_,
                                                        defaults_, debugLog_, weatherPid});
  const auto items = own.scan();
  EXPECT_FALSE(std::any_of(items.begin(), items.end(),
                           [&](const auto& item) { return item.pid == weatherPid; }));
  world_.setAccessibilityTrusted(false);
  EXPECT_TRUE(scanner_.scan().empty());
}

TEST_F(MenuBarFixture, BundleNamedWindowsAddItemsOnlyWhenNotAlreadyRepresented) {
  load(R"({"apps": [
    {"bundleID": "com.example.near", "name": "Near", "accessory": true, "running": true,
     "menuExtras": [{"windowName": "com.example.near", "axOffsetX": 5, "width": 30}]},
    {"bundleID": "com.example.far", "name": "Far", "accessory": true, "running": true,
     "menuExtras": [{"windowName": "com.example.far", "axOffsetX": 6, "width": 30}]},
    {"bundleID": "com.example.ghost", "name": "Ghost", "accessory": true, "running": true,
     "menuExtras": [{"windowName": "com.example.ghost", "accessible": false, "width": 30}]}
  ]})");
  const auto items = scanner_.scan();
  auto count = [&](const std::string& bundle) {
    return std::count_if(items.begin(), items.end(),
                         [&](const auto& item) { return item.bundleID == bundle; });
  };
  // The accessibility item's window match is tied to the bundle-named window: it is taken by
  // the tolerance match only within 4 points; 5 points off it stays free but is represented.
  EXPECT_EQ(count("com.example.near"), 1);
  EXPECT_EQ(count("com.example.far"), 2);
  ASSERT_EQ(count("com.example.ghost"), 1);
  auto ghost = std::find_if(items.begin(), items.end(),
                            [](const auto& i) { return i.bundleID == "com.example.ghost"; });
  EXPECT_EQ(ghost->index, 901);  // windows are walked in list order: Far's comes first
  EXPECT_FALSE(ghost->element);
  auto farMarker = std::find_if(items.begin(), items.end(), [](const auto& i) {
    return i.bundleID == "com.example.far" && i.index >= 900;
  });
  ASSERT_NE(farMarker, items.end());
  EXPECT_EQ(farMarker->index, 900);
}

TEST_F(MenuBarFixture, SystemWindowsFollowTheOnscreenAndNameRules) {
  load(R"({"systemItems": [
    {"identifier": "com.apple.menuextra.clock", "windowName": "Clock", "width": 94},
    {"windowName": "WiFi", "width": 30, "offscreen": true},
    {"windowName": "KeyboardBrightness", "width": 30},
    {"windowName": "DisplayMirror", "width": 30, "offscreen": true},
    {"windowName": "com.apple.dotted", "width": 30}
  ]})");
  const auto items = scanner_.scan();
  EXPECT_TRUE(find(items, "Wi-Fi"));                // off screen but always accepted
  EXPECT_TRUE(find(items, "Keyboard Brightness"));  // on screen, camel case split
  EXPECT_FALSE(find(items, "Display Mirror"));      // off screen and not always accepted
  EXPECT_FALSE(find(items, "Clock"));
  EXPECT_FALSE(find(items, "com.apple.dotted"));
  const int host = world_.runningProcess("com.apple.controlcenter")->pid;
  for (const auto& item : items) {
    EXPECT_EQ(item.pid, host);
    EXPECT_GE(item.index, 10000);
    EXPECT_FALSE(item.bundleID);
  }
  // Indices follow the windows' x order: Keyboard Brightness is left of Wi-Fi.
  EXPECT_LT(find(items, "Keyboard Brightness")->index, find(items, "Wi-Fi")->index);
}

TEST_F(MenuBarFixture, EmptyMenuBarWindowListFallsBackToStatusWindows) {
  load(kBasicScenario);
  windowServer_.setMenuBarListFails(true);
  const auto items = scanner_.scan();
  auto weather = find(items, "Weather");
  ASSERT_TRUE(weather);
  EXPECT_NE(weather->windowID, 0u);    // from the public list's layer-25 windows
  EXPECT_FALSE(find(items, "Wi-Fi"));  // only the accessibility pass runs
}

TEST_F(MenuBarFixture, UnresponsiveAppCostsAtMostItsTimeoutAndTheScanGoesOn) {
  load(kBasicScenario);
  world_.setResponsive("com.example.weather", false);
  const Duration before = scheduler_.now();
  const auto items = scanner_.scan();
  EXPECT_LE(scheduler_.now() - before, seconds(0.1));
  EXPECT_FALSE(find(items, "Weather"));
  EXPECT_TRUE(find(items, "Alpha"));
}

TEST(StatusItemScannerNamesTest, DisplayNamesAndCamelCase) {
  EXPECT_EQ(StatusItemScanner::systemItemDisplayName("WiFi"), "Wi-Fi");
  EXPECT_EQ(StatusItemScanner::systemItemDisplayName("AudioVideoModule"), "Camera & Mic");
  EXPECT_EQ(StatusItemScanner::systemItemDisplayName("Tethering"), "Personal Hotspot");
  EXPECT_EQ(StatusItemScanner::systemItemDisplayName("FocusModes"), "Focus");
  for (const char* none : {"", "Item-3", "Clock", "Menubar", "MenuBar", "BentoBox-0", "com.example",
                           "E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "System Status Item Clone"}) {
    EXPECT_FALSE(StatusItemScanner::systemItemDisplayName(none)) << none;
  }
  EXPECT_EQ(StatusItemScanner::splitCamelCase("KeyboardBrightness"), "Keyboard Brightness");
  EXPECT_EQ(StatusItemScanner::splitCamelCase("Already Split"), "Already Split");
  EXPECT_EQ(StatusItemScanner::splitCamelCase("ABC"), "A B C");
}

TEST(StatusItemScannerOrderTest, EqualNamesKeepIndexOrderAndCaseOnlyDifferencesKeepPassOrder) {
  std::vector<ExternalStatusItem> items(4);
  items[0].appName = "beta";
  items[0].index = 0;
  items[1].appName = "Zed";
  items[1].index = 2;
  items[2].appName = "Zed";
  items[2].index = 1;
  items[3].appName = "Alpha";
  StatusItemScanner::sortItems(items);
  EXPECT_EQ(items[0].appName, "Alpha");
  EXPECT_EQ(items[1].appName, "beta");
  EXPECT_EQ(items[2].index, 1);
  EXPECT_EQ(items[3].index, 2);
}

TEST_F(MenuBarFixture, StatisticsEveryTenthReportAndSnapshotLogOnlyOnChange) {
  load(kBasicScenario);
  std::vector<int> recorded;
  scanner_.setStatisticsHook([&](const std::string& event, int items, int, int) {
    EXPECT_EQ(event, "scan.result");
    recorded.push_back(items);
  });
  for (int i = 1; i <= 25; ++i) {
    scanner_.reportScanResult(i, 0, 5);
  }
  EXPECT_EQ(recorded, (std::vector<int>{10, 20}));

  const auto items = scanner_.scan();
  scanner_.logScanSnapshot(items);  // tester mode off: nothing
  EXPECT_EQ(debugLog_.tail(), "");
  defaults_.set("testerModeEnabled", true);
  scanner_.logScanSnapshot(items);
  scanner_.logScanSnapshot(items);
  scanner_.logScanSnapshot({});
  const std::string log = debugLog_.tail();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
  EXPECT_NE(log.find("scan: Alpha[Item-0]wid="), std::string::npos) << log;
  EXPECT_NE(log.find("scan: (no items)"), std::string::npos);
}

}  // namespace
}  // namespace lumarin
