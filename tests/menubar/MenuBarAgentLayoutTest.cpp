#include "MenuBarFixture.h"
#include "menubar/MenuBarAgentLayout.h"
#include "menubar/MenuBarGeometry.h"
#include "platform/Screens.h"
#include "support/TimeoutAuditAccessibility.h"

namespace lumarin {
namespace {

using test::MenuBarFixture;
using test::TimeoutAuditAccessibility;
using Layout = MenuBarAgentLayout::Layout;
using Slot = MenuBarAgentLayout::Slot;

Slot slot(double x, double w, bool chevron = false) {
  return Slot{GlobalRect(x, 0, w, 37), chevron, AXElement()};
}

TEST(MenuBarAgentLayoutTest, DrawnSlotsStartAtTheChevronsMaxXMinusOne) {
  Layout layout{GlobalRect(0, 0, 1512, 37),
                {slot(400, 30), slot(500, 20, true), slot(518.5, 30), slot(519, 30)}};
  const auto drawn = layout.drawnSlots();
  ASSERT_EQ(drawn.size(), 1u);
  EXPECT_EQ(drawn[0].rect.minX(), 519);
  Layout plain{GlobalRect(0, 0, 1512, 37), {slot(400, 30), slot(500, 30)}};
  EXPECT_EQ(plain.drawnSlots().size(), 2u);
}

TEST(MenuBarAgentLayoutTest, MatchingToleratesWidthsFromMinus4ToPlus24) {
  const std::vector<std::pair<std::string, GlobalRect>> item = {
      {"1#0", GlobalRect(100, 0, 20, 37)}};
  auto centred = [](double w) { return slot(110 - w / 2, w); };
  auto matches = [&](double w) {
    Layout layout{GlobalRect(0, 0, 1512, 37), {centred(w)}};
    return MenuBarAgentLayout::match(item, layout).matched.count("1#0") == 1;
  };
  EXPECT_TRUE(matches(44));
  EXPECT_FALSE(matches(45));
  EXPECT_TRUE(matches(16));
  EXPECT_FALSE(matches(15));
  // Mid x more than 3 points away: no match, the slot stays unclaimed.
  Layout off{GlobalRect(0, 0, 1512, 37), {slot(103.5, 20)}};
  const auto placement = MenuBarAgentLayout::match(item, off);
  EXPECT_TRUE(placement.matched.empty());
  EXPECT_EQ(placement.unclaimed, (std::vector<std::size_t>{0}));
  // Two items choosing one slot contest it.
  const std::vector<std::pair<std::string, GlobalRect>> two = {{"1#0", GlobalRect(100, 0, 20, 37)},
                                                               {"2#0", GlobalRect(101, 0, 20, 37)}};
  Layout one{GlobalRect(0, 0, 1512, 37), {slot(100, 20)}};
  const auto contested = MenuBarAgentLayout::match(two, one);
  ASSERT_EQ(contested.contested.size(), 1u);
  EXPECT_EQ(contested.contested.at(0), (std::vector<std::string>{"1#0", "2#0"}));
}

TEST(MenuBarAgentLayoutTest, DisplayedLayoutNeedsTheScreenChevronAndSystemRects) {
  const GlobalRect screen(0, 0, 1512, 982);
  Layout withChevron{GlobalRect(0, 0, 1512, 37), {slot(800, 20, true), slot(830, 30)}};
  Layout without{GlobalRect(0.5, 0, 1512.5, 37), {slot(830, 30)}};
  Layout elsewhere{GlobalRect(1512, 0, 1920, 24), {slot(1600, 30)}};
  const std::vector<Layout> layouts = {withChevron, without, elsewhere};
  EXPECT_EQ(MenuBarAgentLayout::displayedLayout(layouts, screen, GlobalRect(800, 0, 20, 37), {}),
            withChevron);
  EXPECT_EQ(MenuBarAgentLayout::displayedLayout(layouts, screen, std::nullopt, {}), without);
  EXPECT_FALSE(
      MenuBarAgentLayout::displayedLayout(layouts, screen, GlobalRect(700, 0, 20, 37), {}));
  EXPECT_FALSE(MenuBarAgentLayout::displayedLayout(layouts, screen, std::nullopt,
                                                   {GlobalRect(900, 0, 30, 37)}));
}

TEST(MenuBarAgentLayoutPlaceTest, ItemOnTheSharedEdgeOfTwoScreensComesBackOnce) {
  ExternalStatusItem edge;
  edge.pid = 5;
  edge.frame = GlobalRect(1425, 0, 30, 24);  // mid x 1440, where the screens meet
  sim::World world;
  sim::SimAccessibility ax(world);
  ManualScheduler scheduler;
  sim::SimWorkspace workspace(world, scheduler);
  MenuBarAgentLayout agent(ax, workspace);
  const std::vector<MenuBarScreen> screens = {{GlobalRect(0, 0, 1440, 900), 2, 1},
                                              {GlobalRect(1440, 0, 1920, 1080), 1, 2}};
  const auto [placed, note] = agent.place({edge}, {}, screens, std::nullopt, {}, {},
                                          [](const ExternalStatusItem&) { return true; });
  ASSERT_EQ(placed.size(), 1u);
  EXPECT_EQ(note, "fallback(windows=0)");
}

// A notched laptop whose strip is full: several items go behind the chevron.
const char* kFullBar = R"({
  "menuBar": {"arrangement": "ARRANGEMENT"},
  "apps": [
    {"bundleID": "com.example.a", "name": "A", "accessory": true, "running": true,
     "menuExtras": [{"title": "a1", "width": 60}, {"title": "a2", "width": 60}]},
    {"bundleID": "com.example.b", "name": "B", "accessory": true, "running": true,
     "menuExtras": [{"title": "b1", "width": 120}, {"title": "b2", "width": 120}]},
    {"bundleID": "com.example.c", "name": "C", "accessory": true, "running": true,
     "menuExtras": [{"title": "c1", "width": 90}, {"title": "c2", "width": 30}]}
  ]})";

std::string fullBar(const std::string& arrangement) {
  std::string text = kFullBar;
  text.replace(text.find("ARRANGEMENT"), 11, arrangement);
  return text;
}

TEST_F(MenuBarFixture, UnifiedBarPlacesScannedItemsOnTheDrawnSlots) {
  load(fullBar("unifiedBar"));
  const auto chevron = world_.overflowChevron();
  ASSERT_TRUE(chevron);
  const auto items = scanner_.scan();
  const auto layouts = agent_.snapshot();
  ASSERT_EQ(layouts.size(), 1u);
  const auto cc = extras_.snapshot();
  EXPECT_EQ(cc.overflowChevron, chevron);
  ASSERT_EQ(cc.items.size(), 4u);
  std::vector<GlobalRect> systemRects;
  for (const auto& item : cc.items) {
    systemRects.push_back(item.frame);
  }
  const auto [placed, note] =
      agent_.place(items, layouts, menuBarScreens(screens_), chevron, systemRects, {}, nullptr);
  ASSERT_EQ(placed.size(), items.size());
  // Every item is marked as the simulated bar draws it.
  std::map<std::string, bool> truth;
  for (const auto& extra : world_.menuExtras()) {
    truth[extra.spec.title] = extra.drawn;
  }
  int hidden = 0;
  for (const auto& item : placed) {
    ASSERT_TRUE(item.drawnHint) << item.appName;
    EXPECT_EQ(*item.drawnHint, truth.at(*item.windowTitle)) << *item.windowTitle;
    hidden += *item.drawnHint ? 0 : 1;
  }
  EXPECT_GT(hidden, 0);
  EXPECT_NE(note.find("slots="), std::string::npos) << note;
  EXPECT_NE(note.find(" contested=0/0"), std::string::npos) << note;
  for (std::size_t i = 1; i < placed.size(); ++i) {
    EXPECT_LE(placed[i - 1].frame.minX(), placed[i].frame.minX());
  }
}

TEST_F(MenuBarFixture, PerItemWindowsFallBackToTheNotchPredicate) {
  load(fullBar("perItemWindows"));
  EXPECT_FALSE(world_.overflowChevron());
  EXPECT_TRUE(agent_.snapshot().empty());
  const auto items = scanner_.scan();
  const auto screens = screens_.screens();
  const auto [placed, note] =
      agent_.place(items, {}, menuBarScreens(screens_), std::nullopt, {}, {},
                   [&](const ExternalStatusItem& item) {
                     return !isHiddenByNotch(screens, item.frame.minX(), item.frame.midX());
                   });
  EXPECT_EQ(note, "fallback(windows=0)");
  std::map<std::uint32_t, bool> truth;  // by the window that draws the item
  for (const auto& extra : world_.menuExtras()) {
    truth[extra.windowID] = extra.drawn;
  }
  int checked = 0;
  for (const auto& item : placed) {
    if (item.bundleID) {
      EXPECT_EQ(*item.drawnHint, truth.at(item.windowID)) << *item.windowTitle;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 6);
  EXPECT_TRUE(isHiddenByNotch(screens, 848, 900));  // left of the notch's right edge
  EXPECT_FALSE(isHiddenByNotch(screens, 848.5, 900));
  EXPECT_FALSE(isHiddenByNotch(screens, 100, 2000));  // on no screen
}

TEST(MenuBarGeometryTest, OnlyTheNotchedScreenHidesItemsLeftOfTheNotch) {
  // A notched laptop at x 0…1512 with a plain display to its left at x -1920…0.
  ScreenInfo laptop;
  laptop.frame = CocoaRect(0, 0, 1512, 982);
  laptop.safeAreaTopInset = 32;
  laptop.auxiliaryTopLeftArea = CocoaRect(0, 950, 662, 32);
  laptop.auxiliaryTopRightArea = CocoaRect(850, 950, 662, 32);
  ScreenInfo left;
  left.frame = CocoaRect(-1920, 0, 1920, 1080);
  const std::vector<ScreenInfo> screens = {laptop, left};
  EXPECT_TRUE(isHiddenByNotch(screens, 700, 720));
  EXPECT_FALSE(isHiddenByNotch(screens, 850, 870));  // starts at the notch's right edge
  // Far left of the notch, but on the display without one.
  EXPECT_FALSE(isHiddenByNotch(screens, -300, -285));
  EXPECT_FALSE(isHiddenByNotch(screens, -1900, -1890));
  // To the right of every screen.
  EXPECT_FALSE(isHiddenByNotch(screens, 1600, 1610));
}

TEST_F(MenuBarFixture, ContestedSlotGoesToTheItemWhoseProcessOwnsIt) {
  load(fullBar("unifiedBar"));
  const auto layouts = agent_.snapshot();
  ASSERT_EQ(layouts.size(), 1u);
  const auto drawn = layouts[0].drawnSlots();
  ASSERT_FALSE(drawn.empty());
  const auto target = drawn.back();  // the rightmost slot belongs to Control Center
  const int owner = *agent_.resolvePID(target.element);
  ExternalStatusItem mine;
  mine.pid = owner;
  mine.index = 0;
  mine.frame = target.rect;
  ExternalStatusItem other = mine;
  other.pid = owner + 1000;
  other.frame = target.rect.offsetBy(1, 0);
  const auto [placed, note] = agent_.place({mine, other}, layouts, menuBarScreens(screens_),
                                           world_.overflowChevron(), {}, {}, nullptr);
  ASSERT_EQ(placed.size(), 2u);
  for (const auto& item : placed) {
    EXPECT_EQ(*item.drawnHint, item.pid == owner);
  }
  EXPECT_NE(note.find("contested=1/1"), std::string::npos) << note;
}

TEST_F(MenuBarFixture, AStaleSlotGoesToItsProcessOnlyWhenOneItemCanHaveIt) {
  load(fullBar("unifiedBar"));
  const auto layouts = agent_.snapshot();
  ASSERT_EQ(layouts.size(), 1u);
  const auto drawn = layouts[0].drawnSlots();
  ASSERT_FALSE(drawn.empty());
  const auto owner = agent_.resolvePID(drawn.back().element);
  ASSERT_TRUE(owner);
  // The scan's frame is stale: far from every slot, so only the owning process can place it.
  ExternalStatusItem stale;
  stale.pid = *owner;
  stale.index = 0;
  stale.frame = GlobalRect(5, 0, 20, 37);
  {
    const auto [placed, note] = agent_.place({stale}, layouts, menuBarScreens(screens_),
                                             world_.overflowChevron(), {}, {}, nullptr);
    ASSERT_EQ(placed.size(), 1u);
    EXPECT_TRUE(*placed[0].drawnHint);
    EXPECT_NE(note.find(" stale=1 "), std::string::npos) << note;
  }
  // Two stale items of the same process: no slot can tell them apart, so neither is placed.
  ExternalStatusItem twin = stale;
  twin.index = 1;
  twin.frame = GlobalRect(40, 0, 20, 37);
  const auto [placed, note] = agent_.place({stale, twin}, layouts, menuBarScreens(screens_),
                                           world_.overflowChevron(), {}, {}, nullptr);
  ASSERT_EQ(placed.size(), 2u);
  EXPECT_FALSE(*placed[0].drawnHint);
  EXPECT_FALSE(*placed[1].drawnHint);
  EXPECT_NE(note.find(" stale=0 "), std::string::npos) << note;
}

// An app that never answers owns slots of the strip the scan could not place: asking each
// slot's owner costs that step's timeout, not the system's six seconds.
TEST_F(MenuBarFixture, SlotsOfAnUnresponsiveAppCostTheResolveTimeoutEach) {
  load(fullBar("unifiedBar"));
  world_.setResponsive("com.example.b", false);
  const auto items = scanner_.scan();
  ASSERT_FALSE(find(items, "b1"));  // the scan cannot read B's items
  const auto layouts = agent_.snapshot();
  ASSERT_EQ(layouts.size(), 1u);
  const Duration before = scheduler_.now();
  const auto [placed, note] = agent_.place(items, layouts, menuBarScreens(screens_),
                                           world_.overflowChevron(), {}, {}, nullptr);
  // B's drawn slots are the unclaimed ones that lead to B.
  int bSlots = 0;
  const int bPid = world_.runningProcess("com.example.b")->pid;
  for (const auto& extra : world_.menuExtras()) {
    bSlots += extra.pid == bPid && extra.drawn ? 1 : 0;
  }
  ASSERT_GT(bSlots, 0);
  EXPECT_LE(scheduler_.now() - before,
            seconds(MenuBarAgentLayout::kResolveTimeout * bSlots + 0.001))
      << note;
}

// On macOS every element reference starts with the default timeout, also those handed out by
// other calls: every call of the menu bar readers that messages another process carries a
// timeout of at most 0.3 s.
class MenuBarTimeoutTest : public MenuBarFixture,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(MenuBarTimeoutTest, EveryElementTheReadersAskCarriesAShortTimeout) {
  load(fullBar(GetParam()));
  world_.setResponsive("com.example.c", false);
  TimeoutAuditAccessibility audit(ax_, 0, 0.3);
  StatusItemScanner scanner(StatusItemScanner::Dependencies{
      audit, workspace_, skyLight_, windowServer_, defaults_, debugLog_, 0});
  ControlCenterExtras extras(audit, workspace_);
  MenuBarAgentLayout agent(audit, workspace_);
  const auto items = scanner.scan();
  const auto cc = extras.snapshot();
  EXPECT_FALSE(cc.items.empty());
  std::vector<GlobalRect> systemRects;
  for (const auto& item : cc.items) {
    systemRects.push_back(item.frame);
  }
  const auto layouts = agent.snapshot();
  const auto placed = agent.place(items, layouts, menuBarScreens(screens_), cc.overflowChevron,
                                  systemRects, {}, nullptr);
  EXPECT_FALSE(placed.first.empty());
  for (const auto& layout : layouts) {
    for (const auto& slot : layout.slots) {
      (void)agent.resolvePID(slot.element);
    }
  }
  EXPECT_TRUE(audit.findings().empty()) << ::testing::PrintToString(audit.findings());
  // The audit does see a call without a timeout.
  const AXElement app = audit.createApplication(world_.runningProcess("com.example.a")->pid);
  AXValue value;
  (void)audit.copyAttributeValue(app, "AXExtrasMenuBar", value);
  EXPECT_EQ(audit.findings().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(BothArrangements, MenuBarTimeoutTest,
                         ::testing::Values("unifiedBar", "perItemWindows"));

TEST_F(MenuBarFixture, ControlCenterExtrasPreferTheAgentAndUnwrapGroups) {
  load(fullBar("unifiedBar"));
  const auto snapshot = extras_.snapshot();
  const int agentPid = world_.runningProcess("com.apple.MenuBarAgent")->pid;
  ASSERT_FALSE(snapshot.items.empty());
  EXPECT_EQ(snapshot.items[0].pid, agentPid);
  EXPECT_EQ(snapshot.items[0].identifier, "com.apple.menuextra.clock");
  EXPECT_EQ(snapshot.items[0].description, "Clock");
  // The clock's inner button has no width: the group's rectangle stands in.
  EXPECT_EQ(snapshot.items[0].frame.width(), 94);
  // Per-item windows: no agent, so Control Center answers, without a chevron.
  world_.setMenuBarArrangement(sim::MenuBarArrangement::perItemWindows);
  const auto cc = extras_.snapshot();
  EXPECT_EQ(cc.items.size(), 4u);
  EXPECT_EQ(cc.items[0].pid, world_.runningProcess("com.apple.controlcenter")->pid);
  EXPECT_FALSE(cc.overflowChevron);
  world_.quit("com.apple.controlcenter");
  EXPECT_TRUE(extras_.snapshot().empty());
}

}  // namespace
}  // namespace lumarin
