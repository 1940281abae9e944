#include <gtest/gtest.h>

#include <map>

#include "hud/MirrorClickForwarder.h"
#include "hud/MirrorFixture.h"
#include "hud/MirrorModel.h"
#include "platform/StatusBar.h"
#include "support/Pictures.h"
#include "support/TimeoutAuditAccessibility.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

// Three apps with items of 38, 20 and 100 points, and two items that exist only as windows.
constexpr const char* kScenario = R"({
  "menuBar": {"arrangement": "%s"},
  "screens": [{"size": [2560, 1600], "scale": 2}],
  "apps": [
    {"bundleID": "com.example.a", "name": "Alpha", "running": true, "accessory": true,
     "menuExtras": [{"title": "A", "width": 38}]},
    {"bundleID": "com.example.b", "name": "Beta", "running": true, "accessory": true,
     "menuExtras": [{"title": "B", "width": 20}]},
    {"bundleID": "com.example.c", "name": "Gamma", "running": true, "accessory": true,
     "menuExtras": [{"title": "C", "width": 100},
                    {"title": "narrow", "width": 7, "accessible": false},
                    {"title": "window", "width": 8, "accessible": false},
                    {"title": "wide", "width": 201, "accessible": false}]}
  ]})";

class MirrorModelTest : public test::MirrorFixture {
 protected:
  void loadArrangement(const std::string& arrangement) {
    std::string text = kScenario;
    text.replace(text.find("%s"), 2, arrangement);
    load(text);
  }
};

TEST_F(MirrorModelTest, StableIndexIsDjb2ModuloTenThousand) {
  EXPECT_EQ(MirrorModel::stableIndex(""), 5381u);
  EXPECT_EQ(MirrorModel::stableIndex("a"), 7670u);
  // Wraps at 2^32 without overflow trouble.
  EXPECT_LT(MirrorModel::stableIndex(std::string(1000, '\xff')), 10000u);
}

TEST_F(MirrorModelTest, FoldedRequestsShareOneScanAndRunAfterOnePublication) {
  loadArrangement("perItemWindows");
  std::vector<std::string> order;
  int publications = 0;
  auto subscription = model()->tiles().observe([&](const auto&) {
    ++publications;
    order.push_back("published");
  });
  model()->refresh([&] { order.push_back("first"); });
  model()->refresh();  // no completion: leaves no trace
  model()->refresh([&] { order.push_back("second"); });
  EXPECT_TRUE(model()->refreshing());
  scheduler_.runUntilIdle();
  EXPECT_EQ(model()->scanCount(), 1);
  EXPECT_EQ(publications, 1);
  EXPECT_EQ(order, (std::vector<std::string>{"published", "first", "second"}));
  EXPECT_FALSE(model()->refreshing());
  // Without completions every refresh publishes, even an unchanged list.
  refresh();
  EXPECT_EQ(publications, 2);
}

TEST_F(MirrorModelTest, TilesInMenuBarOrderWithWidthsAndUnclaimedWindows) {
  loadArrangement("perItemWindows");
  const auto tiles = refresh();
  EXPECT_EQ(model()->lastMode(), "per-item-windows");
  ASSERT_TRUE(tile(tiles, "Alpha") && tile(tiles, "Beta"));
  EXPECT_DOUBLE_EQ(tile(tiles, "Alpha")->width, 30);  // frame 38
  EXPECT_DOUBLE_EQ(tile(tiles, "Beta")->width, 18);   // frame 20
  // Gamma's 100-point item and its 8-point window: the window has no item, so it becomes a
  // tile of its own, named "System"; 7 and 201 points never do.
  int gamma = 0;
  int system = 0;
  for (const auto& t : tiles) {
    gamma += t.title == "Gamma" ? 1 : 0;
    system += t.title == "System" ? 1 : 0;
    if (t.title == "Gamma") {
      EXPECT_DOUBLE_EQ(t.width, 60);
    }
  }
  EXPECT_EQ(gamma, 1);
  EXPECT_EQ(system, 1);
  // Left to right: every tile's target stands right of the one before.
  double lastX = -1e9;
  for (const auto& t : tiles) {
    const auto& target = model()->targetsByID().at(t.id);
    if (const auto* item = std::get_if<ExternalStatusItem>(&target)) {
      EXPECT_GE(item->frame.minX(), lastX) << t.id;
      lastX = item->frame.minX();
    }
  }
  // Pictures fall back to the owning app's icon without captures.
  EXPECT_EQ(tile(tiles, "Alpha")->source, "appIcon");
  EXPECT_TRUE(tile(tiles, "Alpha")->image);
  EXPECT_FALSE(*model()->accessibilityMissing());
  EXPECT_EQ(logLines("mirror: scan=").size(), 1u);
  EXPECT_EQ(logLines("mirror: sizes screens=[\"2560@2.0x\"]").size(), 1u);
}

TEST_F(MirrorModelTest, UnifiedBarTakesTheAgentLayoutAndControlCenterExtras) {
  loadArrangement("unifiedBar");
  const auto tiles = refresh();
  EXPECT_EQ(model()->lastMode(), "unified-bar");
  // Control Center's battery and Wi-Fi items become extras with indexes from 20000; the clock
  // and the Control Center icon do not.
  int extras = 0;
  for (const auto& t : tiles) {
    if (t.kind == "extra") {
      ++extras;
      const auto& item = std::get<ExternalStatusItem>(model()->targetsByID().at(t.id));
      EXPECT_GE(item.index, 20000);
      EXPECT_EQ(item.windowID, 0u);  // kept although it has no window
      EXPECT_NE(t.title, "Clock");
    }
  }
  EXPECT_EQ(extras, 2);
  EXPECT_EQ(logLines("mirror: layout slots=").size(), 1u);
}

TEST_F(MirrorModelTest, DuplicateTileIdsKeepOneTargetAndEveryTile) {
  // Two Control Center extras whose identifiers hash to the same index: their tiles share an
  // id, which must not stop the refresh.
  const std::string first = "com.apple.menuextra.wifi";
  std::string second;
  for (int i = 0; second.empty(); ++i) {
    const std::string candidate = "com.example.extra" + std::to_string(i);
    if (MirrorModel::stableIndex(candidate) == MirrorModel::stableIndex(first)) {
      second = candidate;
    }
  }
  load(R"({"menuBar": {"arrangement": "unifiedBar"},
           "systemItems": [{"identifier": ")" +
       first + R"(", "description": "Wi-Fi", "width": 30},
                           {"identifier": ")" +
       second + R"(", "description": "Twin", "width": 30}]})");
  const auto tiles = refresh();
  int twins = 0;
  std::string id;
  for (const auto& t : tiles) {
    if (t.title == "Wi-Fi" || t.title == "Twin") {
      ++twins;
      EXPECT_TRUE(id.empty() || id == t.id);
      id = t.id;
    }
  }
  EXPECT_EQ(twins, 2);
  ASSERT_EQ(model()->targetsByID().count(id), 1u);
}

TEST_F(MirrorModelTest, WithoutTrustItFlagsThePermissionAndMakesNoExtras) {
  loadArrangement("unifiedBar");
  mac_.world.setAccessibilityTrusted(false);
  const auto tiles = refresh();
  EXPECT_TRUE(*model()->accessibilityMissing());
  for (const auto& t : tiles) {
    EXPECT_NE(t.kind, "extra");
  }
}

TEST_F(MirrorModelTest, OwnItemsBetweenTwelveAndOneHundredPointsGetTiles) {
  loadArrangement("perItemWindows");
  for (const double length : {11.0, 12.0, 100.0, 101.0}) {
    auto item = mac_.statusBar.makeStatusItem(length);
    item->setAutosaveName("own" + std::to_string(static_cast<int>(length)));
    item->button().setImage(test::solidSquare(10, true));
  }
  mac_.statusBar.items()[1]->button().setToolTip("Twelve");
  const auto tiles = refresh();
  std::vector<std::string> own;
  for (const auto& t : tiles) {
    if (t.kind == "own") {
      own.push_back(t.title);
      EXPECT_EQ(t.id.rfind("own#", 0), 0u);
      EXPECT_EQ(t.source, "ownGlyph");
      ASSERT_TRUE(t.image);
      EXPECT_NEAR(t.image->pointSize.width, 10, 1);  // trimmed to the drawn glyph
    }
  }
  std::sort(own.begin(), own.end());
  EXPECT_EQ(own, (std::vector<std::string>{"Lumarin", "Twelve"}));
}

TEST_F(MirrorModelTest, ItemsBehindTheOverflowChevronGetTilesAndAreKnownAsHidden) {
  // A notched laptop whose strip is full: several items go behind the chevron.
  load(R"({
    "menuBar": {"arrangement": "unifiedBar"},
    "apps": [
      {"bundleID": "com.example.a", "name": "A", "accessory": true, "running": true,
       "menuExtras": [{"title": "a1", "width": 60}, {"title": "a2", "width": 60}]},
      {"bundleID": "com.example.b", "name": "B", "accessory": true, "running": true,
       "menuExtras": [{"title": "b1", "width": 120}, {"title": "b2", "width": 120}]},
      {"bundleID": "com.example.c", "name": "C", "accessory": true, "running": true,
       "menuExtras": [{"title": "c1", "width": 90}, {"title": "c2", "width": 30}]}
    ]})");
  ASSERT_TRUE(mac_.world.overflowChevron());
  std::map<std::string, bool> drawn;
  for (const auto& extra : mac_.world.menuExtras()) {
    drawn[extra.spec.title] = extra.drawn;
  }
  const auto tiles = refresh();
  int checked = 0;
  int hidden = 0;
  for (const auto& t : tiles) {
    const auto* item = std::get_if<ExternalStatusItem>(&model()->targetsByID().at(t.id));
    if (item == nullptr || !item->windowTitle || drawn.count(*item->windowTitle) == 0) {
      continue;
    }
    ASSERT_TRUE(item->drawnHint) << *item->windowTitle;
    EXPECT_EQ(*item->drawnHint, drawn.at(*item->windowTitle)) << *item->windowTitle;
    hidden += *item->drawnHint ? 0 : 1;
    ++checked;
  }
  // Every app item has its tile, the hidden ones too, and the model knows which are hidden.
  EXPECT_EQ(checked, 6);
  EXPECT_GT(hidden, 0);
}

// One app never answers accessibility calls. Whatever the arrangement, a refresh is not held
// by it for long: each one publishes within a second of its start.
class MirrorModelUnresponsiveTest : public MirrorModelTest,
                                    public ::testing::WithParamInterface<const char*> {};

TEST_P(MirrorModelUnresponsiveTest, EachRefreshPublishesWithinASecond) {
  loadArrangement(GetParam());
  ASSERT_TRUE(mac_.world.setResponsive("com.example.b", false));
  std::vector<Duration> published;
  auto subscription =
      model()->tiles().observe([&](const auto&) { published.push_back(scheduler_.now()); });
  for (int i = 0; i < 3; ++i) {
    published.clear();
    const Duration start = scheduler_.now();
    model()->refresh();
    scheduler_.runUntilIdle();
    ASSERT_EQ(published.size(), 1u);
    EXPECT_LE(published.front() - start, seconds(1)) << "refresh " << i;
  }
  // The app's own items are missing; the others and Control Center's are there.
  const auto tiles = *model()->tiles();
  EXPECT_FALSE(tile(tiles, "Beta"));
  EXPECT_TRUE(tile(tiles, "Alpha"));
}

INSTANTIATE_TEST_SUITE_P(BothArrangements, MirrorModelUnresponsiveTest,
                         ::testing::Values("unifiedBar", "perItemWindows"));

// A refresh asks every element it reaches (bars, children, slots, their owners) with a short
// timeout, as macOS needs it per element reference.
TEST_P(MirrorModelUnresponsiveTest, EveryCallOfARefreshCarriesAShortTimeout) {
  loadArrangement(GetParam());
  ASSERT_TRUE(mac_.world.setResponsive("com.example.c", false));
  test::TimeoutAuditAccessibility audit(mac_.accessibility, kOwnPid, 0.3);
  StatusItemScanner scanner(StatusItemScanner::Dependencies{
      audit, mac_.workspace, skyLight_, mac_.windowServer, defaults_, log_, kOwnPid});
  ControlCenterExtras extras(audit, mac_.workspace);
  MenuBarAgentLayout agent(audit, mac_.workspace);
  auto model = std::make_shared<MirrorModel>(MirrorModel::Dependencies{
      scheduler_, scanner, skyLight_, extras, agent, overflow_, mac_.screens, nullptr, iconCache_,
      audit, mac_.workspace, mac_.statusBar, log_, [] { return false; }});
  model->refresh();
  scheduler_.runUntilIdle();
  ASSERT_GT((*model->tiles()).size(), 2u);
  EXPECT_TRUE(audit.findings().empty()) << ::testing::PrintToString(audit.findings());
}

TEST_F(MirrorModelTest, GoneModelDropsItsRefresh) {
  loadArrangement("perItemWindows");
  bool completed = false;
  model()->refresh([&] { completed = true; });
  model_.reset();
  scheduler_.runUntilIdle();
  EXPECT_FALSE(completed);
}

// The program's own items' menus, as the delegate gives them: one per window number.
class FakeOwnMenus final : public OwnItemMenus {
 public:
  std::optional<Menu> menuFor(std::uint32_t windowNumber) override {
    ++built;
    const auto menu = menus.find(windowNumber);
    return menu == menus.end() ? std::nullopt : std::optional<Menu>(menu->second);
  }
  void perform(std::uint32_t windowNumber, const MenuItem& entry) override {
    performed.push_back(std::to_string(windowNumber) + " " + entry.action);
  }
  std::map<std::uint32_t, Menu> menus;
  std::vector<std::string> performed;
  int built = 0;
};

TEST_F(MirrorModelTest, OwnItemsMenusAreSearchableAndTheirEntriesRunWithoutOpeningThem) {
  loadArrangement("perItemWindows");
  auto item = mac_.statusBar.makeStatusItem(30);
  item->setAutosaveName("own30");
  item->button().setImage(test::solidSquare(10, true));
  item->button().setToolTip("Mine");
  auto own = std::make_shared<FakeOwnMenus>();
  model()->setOwnMenus(own);
  forwarder()->setOwnMenus(own);
  std::vector<std::string> paths;
  forwarder()->setReporter([&paths](const HUDClickSink::Report& report) {
    paths.push_back(report.path + (report.ok ? " ok" : " failed"));
  });
  refresh();
  std::string tileID;
  std::uint32_t number = 0;
  for (const auto& [id, target] : model()->targetsByID()) {
    if (const auto* ownTarget = std::get_if<MirrorModel::OwnTarget>(&target)) {
      tileID = id;
      number = ownTarget->windowNumber;
    }
  }
  ASSERT_FALSE(tileID.empty());
  auto sub = std::make_shared<Menu>();
  sub->items = {MenuItem::command("Small", "small")};
  MenuItem size = MenuItem::command("Size", "");
  size.submenu = sub;
  own->menus[number] =
      Menu{"", {MenuItem::command("Settings…", "showSettings"), MenuItem::separator(), size}};
  int told = 0;
  model()->setOnMenusChanged([&told] { ++told; });
  model()->readMenus();
  ASSERT_EQ(model()->menuEntries().size(), 2u);
  EXPECT_EQ(model()->menuEntries()[0].title, "Mine › Settings…");
  EXPECT_EQ(model()->menuEntries()[1].title, "Mine › Size › Small");
  EXPECT_EQ(told, 1);
  // Built again at each reading; unchanged entries are not told again.
  model()->readMenus();
  EXPECT_EQ(own->built, 2);
  EXPECT_EQ(told, 1);
  forwarder()->perform(model()->targetsByID().at(tileID), model()->menuEntries()[1]);
  EXPECT_EQ(own->performed, (std::vector<std::string>{std::to_string(number) + " small"}));
  // Another process's item cannot run an entry unopened.
  for (const auto& [id, target] : model()->targetsByID()) {
    if (std::holds_alternative<ExternalStatusItem>(target)) {
      forwarder()->perform(target, model()->menuEntries()[0]);
      break;
    }
  }
  EXPECT_EQ(paths, (std::vector<std::string>{"menu-entry ok", "none failed"}));
}

}  // namespace
}  // namespace lumarin
