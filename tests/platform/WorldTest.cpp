#include <gtest/gtest.h>

#include "platform/sim/ManualScheduler.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimAccessibility.h"
#include "platform/sim/SimWorkspace.h"
#include "platform/sim/World.h"

namespace lumarin::sim {
namespace {

using namespace std::chrono_literals;

// A small Mac: Mail (running, badge "3"), Notes (kept, not running), Slack (running), a
// folder and the Trash; Teams installed but not in the Dock.
class WorldTest : public ::testing::Test {
 protected:
  WorldTest() {
    world_.setClock(&scheduler_.clock());
    world_.setTimeSink([this](Duration d) { scheduler_.elapse(d); });
    world_.addScreen(makeScreen(1, "Built-in", CocoaRect(0, 0, 1512, 982), 2, 185, 32, 70));
    install("com.apple.mail", "Mail");
    install("com.apple.Notes", "Notes");
    install("com.tinyspeck.slackmacgap", "Slack");
    install("com.microsoft.teams2", "Microsoft Teams");
    addAppTile("com.apple.mail", "3");
    addAppTile("com.apple.Notes", std::nullopt);
    addAppTile("com.tinyspeck.slackmacgap", std::nullopt);
    DockTile folder;
    folder.kind = TileKind::folder;
    folder.title = "Downloads";
    folder.url = "file:///Users/ana/Downloads/";
    world_.addTile(folder);
    DockTile trash;
    trash.kind = TileKind::trash;
    trash.title = "Trash";
    world_.addTile(trash);
    world_.launch("com.apple.mail");
    world_.launch("com.tinyspeck.slackmacgap");
  }

  void install(const std::string& id, const std::string& name) {
    InstalledBundle bundle;
    bundle.bundleID = id;
    bundle.name = name;
    bundle.path = "/Applications/" + name + ".app";
    world_.installBundle(bundle);
  }

  void addAppTile(const std::string& id, std::optional<std::string> badge) {
    DockTile tile;
    tile.bundleID = id;
    tile.badge = std::move(badge);
    world_.addTile(tile);
  }

  AXElement dockApp() { return ax_.createApplication(world_.dockPid()); }

  std::vector<AXElement> tiles() {
    auto lists = ax_.elementsAttribute(dockApp(), "AXChildren");
    EXPECT_TRUE(lists && lists->size() == 1);
    EXPECT_EQ(ax_.stringAttribute(lists->at(0), "AXRole"), "AXList");
    return ax_.elementsAttribute(lists->at(0), "AXChildren").value_or(std::vector<AXElement>{});
  }

  ManualScheduler scheduler_;
  World world_;
  SimAccessibility ax_{world_};
};

TEST_F(WorldTest, DockTreeIsExposedAsTheDockExposesIt) {
  const auto t = tiles();
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(ax_.stringAttribute(t[0], "AXRole"), "AXDockItem");
  EXPECT_EQ(ax_.stringAttribute(t[0], "AXSubrole"), "AXApplicationDockItem");
  EXPECT_EQ(ax_.stringAttribute(t[0], "AXTitle"), "Mail");
  EXPECT_EQ(ax_.urlAttribute(t[0], "AXURL")->string, "file:///Applications/Mail.app/");
  EXPECT_EQ(ax_.boolAttribute(t[0], "AXIsApplicationRunning"), true);
  EXPECT_EQ(ax_.stringAttribute(t[0], "AXStatusLabel"), "3");
  EXPECT_EQ(ax_.boolAttribute(t[1], "AXIsApplicationRunning"), false);
  EXPECT_EQ(ax_.stringAttribute(t[3], "AXSubrole"), "AXFolderDockItem");
  EXPECT_EQ(ax_.stringAttribute(t[4], "AXSubrole"), "AXTrashDockItem");
  // Elements are handles compared by identity: reading again gives the same ones.
  EXPECT_EQ(tiles()[2], t[2]);
  EXPECT_FALSE(t[0] == t[1]);
  int pid = 0;
  EXPECT_EQ(ax_.getPid(t[0], pid), kAXErrorSuccess);
  EXPECT_EQ(pid, world_.dockPid());
  auto position = ax_.pointAttribute(t[0], "AXPosition");
  ASSERT_TRUE(position);
  EXPECT_GT(position->y, 900);  // the Dock sits at the bottom, in top-left points
}

TEST_F(WorldTest, MissingValuesAndWrongKindsAreReportedAsMacOSDoes) {
  const auto t = tiles();
  AXValue value;
  // No badge: the attribute exists but has no value.
  EXPECT_EQ(ax_.copyAttributeValue(t[1], "AXStatusLabel", value), kAXErrorNoValue);
  EXPECT_EQ(ax_.copyAttributeValue(t[0], "AXNoSuchThing", value), kAXErrorAttributeUnsupported);
  // Folders have no running flag at all.
  EXPECT_EQ(ax_.copyAttributeValue(t[3], "AXIsApplicationRunning", value),
            kAXErrorAttributeUnsupported);
  // Asking for the wrong kind is the caller's "absent".
  EXPECT_FALSE(ax_.boolAttribute(t[0], "AXTitle"));
  EXPECT_FALSE(ax_.stringAttribute(t[0], "AXIsApplicationRunning"));
  EXPECT_FALSE(ax_.elementsAttribute(t[0], "AXTitle"));
  EXPECT_FALSE(AXValue(AXValue::Array{AXValue("x"), AXValue(AXElement(nullptr))}).asElements());
  EXPECT_EQ(AXValue(std::int64_t{1}).asBool(), true);
  EXPECT_FALSE(AXValue(std::int64_t{2}).asBool());

  std::vector<AXValue> values;
  ASSERT_EQ(ax_.copyMultipleAttributeValues(t[0], {"AXTitle", "AXBogus", "AXStatusLabel"}, values),
            kAXErrorSuccess);
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].asString(), "Mail");
  EXPECT_TRUE(values[1].isError());
  EXPECT_EQ(values[2].asString(), "3");
}

TEST_F(WorldTest, SlowAndSilentProcessesCostTheirTimeoutAndFailWithCannotComplete) {
  const auto app = dockApp();
  world_.setLatency("com.apple.dock", 0.5);
  AXValue value;
  EXPECT_EQ(ax_.copyAttributeValue(app, "AXChildren", value), kAXErrorSuccess);
  EXPECT_EQ(scheduler_.now(), Duration(500ms));

  // The timeout belongs to this one element.
  ASSERT_EQ(ax_.setMessagingTimeout(app, 0.2), kAXErrorSuccess);
  EXPECT_EQ(ax_.copyAttributeValue(app, "AXChildren", value), kAXErrorCannotComplete);
  EXPECT_EQ(scheduler_.now(), Duration(700ms));
  const auto list = ax_.createApplication(world_.dockPid());
  EXPECT_EQ(list, app);  // same process, same root element

  world_.setLatency("com.apple.dock", 0);
  world_.setResponsive("com.apple.dock", false);
  EXPECT_EQ(ax_.copyAttributeValue(app, "AXChildren", value), kAXErrorCannotComplete);
  EXPECT_EQ(scheduler_.now(), Duration(900ms));
  ASSERT_EQ(ax_.setMessagingTimeout(app, 0), kAXErrorSuccess);  // back to the default
  EXPECT_EQ(ax_.copyAttributeValue(app, "AXChildren", value), kAXErrorCannotComplete);
  EXPECT_EQ(scheduler_.now(), Duration(900ms) + seconds(World::kDefaultMessagingTimeout));
  EXPECT_EQ(world_.callCounts().errors.at("com.apple.dock").at("kAXErrorCannotComplete"), 3u);

  // A process that does not exist answers nothing, at once.
  EXPECT_EQ(ax_.copyAttributeValue(ax_.createApplication(99999), "AXRole", value),
            kAXErrorCannotComplete);
}

TEST_F(WorldTest, RemovedTilesAndARestartedDockLeaveStaleElements) {
  auto t = tiles();
  ASSERT_TRUE(world_.removeTile("com.apple.Notes"));
  AXValue value;
  EXPECT_EQ(ax_.copyAttributeValue(t[1], "AXIsApplicationRunning", value),
            kAXErrorInvalidUIElement);
  EXPECT_EQ(ax_.copyAttributeValue(t[0], "AXIsApplicationRunning", value), kAXErrorSuccess);
  EXPECT_EQ(tiles().size(), 4u);

  const auto oldApp = dockApp();
  const int oldPid = world_.dockPid();
  world_.restartDock();
  EXPECT_NE(world_.dockPid(), oldPid);
  EXPECT_EQ(ax_.copyAttributeValue(oldApp, "AXChildren", value), kAXErrorInvalidUIElement);
  EXPECT_EQ(ax_.copyAttributeValue(t[0], "AXStatusLabel", value), kAXErrorInvalidUIElement);
  const auto fresh = tiles();
  ASSERT_EQ(fresh.size(), 4u);
  EXPECT_EQ(ax_.stringAttribute(fresh[0], "AXStatusLabel"), "3");  // state survives a restart
}

TEST_F(WorldTest, TrustCanBeRevokedAndGrantedWhileRunning) {
  const auto t = tiles();
  world_.setAccessibilityTrusted(false);
  AXValue value;
  EXPECT_FALSE(ax_.isProcessTrusted());
  EXPECT_EQ(ax_.copyAttributeValue(t[0], "AXTitle", value), kAXErrorAPIDisabled);
  EXPECT_EQ(ax_.performAction(t[0], "AXPress"), kAXErrorAPIDisabled);
  EXPECT_FALSE(ax_.isProcessTrustedWithOptions(true));
  EXPECT_FALSE(ax_.isProcessTrustedWithOptions(false));
  EXPECT_EQ(world_.callCounts().trustPrompts, 1u);
  world_.setAccessibilityTrusted(true);
  EXPECT_EQ(ax_.stringAttribute(t[0], "AXTitle"), "Mail");
}

TEST_F(WorldTest, DockTilesFollowLaunchesAndQuits) {
  SimWorkspace workspace(world_, scheduler_);
  std::vector<std::string> events;
  auto launches = workspace.observeLaunches(
      [&](const RunningApplication& app) { events.push_back("launch " + *app.bundleIdentifier); });
  auto quits = workspace.observeTerminations(
      [&](const RunningApplication& app) { events.push_back("quit " + *app.bundleIdentifier); });

  // An app that is not kept gets a tile while it runs and loses it when it quits.
  world_.launch("com.microsoft.teams2");
  auto t = tiles();
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(ax_.stringAttribute(t[3], "AXTitle"), "Microsoft Teams");
  world_.quit("com.microsoft.teams2");
  EXPECT_EQ(tiles().size(), 5u);
  AXValue value;
  EXPECT_EQ(ax_.copyAttributeValue(t[3], "AXTitle", value), kAXErrorInvalidUIElement);

  // A kept app's tile stays and shows it stopped.
  world_.quit("com.apple.mail");
  EXPECT_EQ(ax_.boolAttribute(tiles()[0], "AXIsApplicationRunning"), false);
  EXPECT_TRUE(events.empty());  // delivered on the main queue, not on the caller's stack
  scheduler_.runUntilIdle();
  EXPECT_EQ(events, (std::vector<std::string>{"launch com.microsoft.teams2",
                                              "quit com.microsoft.teams2", "quit com.apple.mail"}));
}

TEST_F(WorldTest, PressingATileLaunchesItsAppAndActionsAreRecorded) {
  const auto t = tiles();
  EXPECT_EQ(ax_.performAction(t[1], "AXPress"), kAXErrorSuccess);
  EXPECT_TRUE(world_.runningProcess("com.apple.Notes"));
  EXPECT_EQ(ax_.boolAttribute(t[1], "AXIsApplicationRunning"), true);
  const auto list = ax_.elementsAttribute(dockApp(), "AXChildren")->at(0);
  EXPECT_EQ(ax_.performAction(list, "AXPress"), kAXErrorActionUnsupported);
  const auto actions = world_.performedActions();
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_EQ(actions[0].title, "Notes");
  EXPECT_EQ(actions[0].action, "AXPress");
  EXPECT_EQ(actions[1].result, kAXErrorActionUnsupported);
  EXPECT_EQ(world_.callCounts().reads.at("com.apple.dock").at("action:AXPress"), 2u);
}

TEST_F(WorldTest, WorkspaceResolvesBundlesAndIcons) {
  SimWorkspace workspace(world_, scheduler_);
  EXPECT_EQ(workspace.urlForApplication("com.apple.mail"), "file:///Applications/Mail.app/");
  EXPECT_FALSE(workspace.urlForApplication("com.example.none"));
  auto bundle = workspace.bundleAtURL("file:///Applications/Mail.app/");
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->bundleIdentifier, "com.apple.mail");
  EXPECT_FALSE(workspace.bundleAtURL("file:///Applications/Deleted.app/"));
  const Image icon = workspace.iconForFile("file:///Applications/Mail.app/");
  EXPECT_EQ(icon.pointSize, (Size{32, 32}));
  EXPECT_EQ(icon.pixelWidth, 128);
  EXPECT_EQ(icon.alpha(64, 64), 255);  // the body of the icon is opaque
  EXPECT_EQ(icon.alpha(1, 1), 0);      // its corners are transparent
  EXPECT_FALSE(workspace.iconForFile("file:///Nowhere/x.txt").isEmpty());
  const auto running = workspace.runningApplications();
  ASSERT_EQ(running.size(), 3u);  // in launch order: the Dock, Mail, Slack
  EXPECT_EQ(running[0].bundleIdentifier, "com.apple.dock");
  EXPECT_EQ(running[2].bundleIdentifier, "com.tinyspeck.slackmacgap");
  EXPECT_TRUE(running[2].isActive);
  EXPECT_TRUE(workspace.openApplication("file:///Applications/Notes.app/"));
  EXPECT_TRUE(workspace.runningApplications().back().isActive);
  EXPECT_FALSE(workspace.openApplication("file:///Applications/Deleted.app/"));
}

}  // namespace
}  // namespace lumarin::sim
