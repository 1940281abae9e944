#include <gtest/gtest.h>

#include "app/MenuBarIcon.h"
#include "app/StatusItemController.h"
#include "badges/AlertBadge.h"
#include "platform/StatusBar.h"
#include "support/DesktopFixture.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

constexpr const char* kScenario = R"({
  "accessibility": {"trusted": false},
  "apps": [
    {"bundleID": "com.apple.mail", "name": "Mail", "running": true},
    {"bundleID": "com.apple.MobileSMS", "name": "Messages", "running": true},
    {"bundleID": "com.kestova.Lumarin", "name": "Lumarin", "running": true},
    {"bundleID": "com.example.notes", "name": "Notes", "path": "/Applications/Notes.app",
     "info": {"CFBundleDisplayName": "Quick Notes"}}
  ],
  "dock": [
    {"app": "com.apple.mail"},
    {"app": "com.apple.MobileSMS"},
    {"app": "com.kestova.Lumarin"},
    {"app": "com.example.notes"}
  ]})";

std::vector<std::string> shape(const Menu& menu) {
  std::vector<std::string> out;
  for (const auto& entry : menu.items) {
    out.push_back(entry.isSeparator ? "-"
                                    : entry.title + (entry.checked ? "*" : "") +
                                          (entry.enabled ? "" : " (disabled)"));
  }
  return out;
}

class StatusItemControllerTest : public test::DesktopFixture {
 protected:
  void SetUp() override { load(kScenario); }

  std::shared_ptr<StatusItemController> start() {
    auto controller = std::make_shared<StatusItemController>(StatusItemController::Dependencies{
        settings_, l10n_, monitor_, mac_.statusBar, &mac_.accessibility, mac_.workspace,
        mac_.appShell, mac_.panels, &mac_.notifications, scheduler_, defaults_, bundle_, process_,
        systemLog_, icons_, "com.kestova.Lumarin"});
    controller->setOnShowSettings([this](std::optional<SettingsTab> tab) {
      requests_.push_back(tab ? std::string(settingsTabName(*tab)) : "settings");
    });
    controller->setOnShowOnboarding([this] { requests_.push_back("onboarding"); });
    controller->setOnToggleHUD([this](const std::string& t) { requests_.push_back("hud " + t); });
    controller->setOnCheckForUpdates([this] { requests_.push_back("updates"); });
    controller->start();
    monitor_->start();
    scheduler_.runUntilIdle();
    return controller;
  }

  StatusBarButton& button() { return mac_.statusBar.items().front()->button(); }

  std::vector<std::string> requests_;
};

TEST_F(StatusItemControllerTest, SeedsItsPositionBeforeTheItemExistsAndKeepsAStoredOne) {
  auto controller = start();
  EXPECT_EQ(defaults_.number(StatusItemController::kPositionKey), 300);
  auto item = mac_.statusBar.items().front();
  EXPECT_EQ(item->autosaveName(), "Lumarin.ControlItem.Main");
  EXPECT_EQ(item->length(), kSquareStatusItemLength);
  const auto window = item->button().window();
  ASSERT_TRUE(window);
  EXPECT_EQ(window->title, "Lumarin.ControlItem.Main");
  // 300 points lies beyond every other item (8 points of margin and Control Center's 196):
  // the system puts it at the left end.
  const double right = mac_.world.screens().front().frame.maxX();
  EXPECT_DOUBLE_EQ(right - window->frame.maxX(), 8 + 196);
  const auto windows = mac_.world.windows();
  const bool listed = std::any_of(windows.begin(), windows.end(), [&](const sim::SimWindow& w) {
    return w.id == window->number && w.layer == 25 && w.ownerPID == kOwnPid &&
           w.name == "Lumarin.ControlItem.Main";
  });
  EXPECT_TRUE(listed);

  defaults_.set(StatusItemController::kPositionKey, 120.0);
  auto second = std::make_shared<StatusItemController>(StatusItemController::Dependencies{
      settings_, l10n_, monitor_, mac_.statusBar, &mac_.accessibility, mac_.workspace,
      mac_.appShell, mac_.panels, &mac_.notifications, scheduler_, defaults_, bundle_, process_,
      systemLog_, icons_, "com.kestova.Lumarin"});
  second->start();
  EXPECT_EQ(defaults_.number(StatusItemController::kPositionKey), 120);
}

TEST_F(StatusItemControllerTest, AlertGlyphDotAndTooltipFollowTheTrustWithinHalfASecond) {
  auto controller = start();
  EXPECT_EQ(button().toolTip(), "Lumarin — Accessibility permission required…");
  EXPECT_TRUE(button().layer(AlertBadge::kLayerName));
  EXPECT_TRUE(button().image()->isTemplate);

  mac_.world.setAccessibilityTrusted(true);  // the system posts its notification
  scheduler_.advanceBy(499ms);
  EXPECT_TRUE(button().layer(AlertBadge::kLayerName));
  scheduler_.advanceBy(1ms);
  EXPECT_FALSE(button().layer(AlertBadge::kLayerName));
  EXPECT_EQ(button().toolTip(), "Lumarin");
  // The alert glyph's hole is gone: the bar's stroke is back under the dot's place.
  const Image normal = button().image()->rasterize(2);
  const Image alert = MenuBarIcon::image(true).rasterize(2);
  EXPECT_GT(normal.alpha(26, 6), 100);
  EXPECT_EQ(alert.alpha(26, 6), 0);
  EXPECT_EQ(normal.alpha(4, 28), alert.alpha(4, 28));  // the rest is the same glyph
}

TEST_F(StatusItemControllerTest, MenuShowsEntriesInOrderAndEachActs) {
  bundle_.info["SUFeedURL"] = "https://example.com/appcast.xml";
  settings_.add("com.apple.mail", "Mail");
  auto controller = start();
  // Untrusted, the menu leads to the permission and the Dock cannot be read.
  ASSERT_TRUE(mac_.statusBar.click("own", false, 1, 0));
  EXPECT_EQ(shape(mac_.statusBar.shownMenus().back().menu)[0],
            "Accessibility permission required…");
  ASSERT_TRUE(mac_.statusBar.choose({"Accessibility permission required…"}));
  EXPECT_EQ(requests_.back(), "onboarding");
  mac_.world.setAccessibilityTrusted(true);
  ASSERT_TRUE(mac_.statusBar.click("own", false, 1, 0));
  ASSERT_TRUE(mac_.statusBar.menuOpen());
  const Menu& menu = mac_.statusBar.shownMenus().back().menu;
  EXPECT_EQ(shape(menu), (std::vector<std::string>{
                             "Add App", "-", "Show Menu Bar HUD", "Show with Control Center*", "-",
                             "Settings…", "Getting Started Guide", "-", "Check for Updates…",
                             "About Lumarin", "Quit Lumarin"}));
  EXPECT_EQ(menu.items[2].keyEquivalent, "m");
  EXPECT_EQ(menu.items[2].modifiers, kModifierControl | kModifierOption | kModifierCommand);
  // Neither a monitored app nor the program itself is offered; each entry has the app's icon.
  EXPECT_EQ(shape(*menu.items[0].submenu),
            (std::vector<std::string>{"Messages", "Notes", "-", "Other App…"}));
  EXPECT_TRUE(menu.items[0].submenu->items[0].image.has_value());

  ASSERT_TRUE(mac_.statusBar.choose({"Add App", "Messages"}));
  scheduler_.runUntilIdle();
  ASSERT_EQ(settings_.monitoredApps()->size(), 2u);
  EXPECT_EQ(settings_.monitoredApps()->back().name, "Messages");
  // The menu was detached when it closed: the next click builds it anew.
  EXPECT_FALSE(mac_.statusBar.items().front()->hasMenu());

  for (const auto& [path, expected] :
       std::vector<std::pair<std::string, std::string>>{{"Show Menu Bar HUD", "hud menu"},
                                                        {"Settings…", "settings"},
                                                        {"Getting Started Guide", "onboarding"},
                                                        {"Check for Updates…", "updates"}}) {
    ASSERT_TRUE(mac_.statusBar.click("own", true, 1, 0));
    ASSERT_TRUE(mac_.statusBar.choose({path}));
    EXPECT_EQ(requests_.back(), expected);
  }
  ASSERT_TRUE(mac_.statusBar.click("own", false, 1, 0));
  ASSERT_TRUE(mac_.statusBar.choose({"Show with Control Center"}));
  EXPECT_FALSE(*settings_.mirrorHUDFollowsControlCenter());
  ASSERT_TRUE(mac_.statusBar.click("own", false, 1, 0));
  ASSERT_TRUE(mac_.statusBar.choose({"About Lumarin"}));
  EXPECT_EQ(mac_.panels.toJson().back()["kind"], "about");
  EXPECT_EQ(mac_.appShell.activations(), 1);
  ASSERT_TRUE(mac_.statusBar.click("own", false, 1, 0));
  ASSERT_TRUE(mac_.statusBar.choose({"Quit Lumarin"}));
  EXPECT_EQ(mac_.appShell.terminations(), 1);
}

TEST_F(StatusItemControllerTest, WithoutFeedOrDockTheMenuStillWorks) {
  mac_.world.setAccessibilityTrusted(true);
  auto controller = start();
  mac_.world.restartDock();
  mac_.world.setAccessibilityTrusted(false);  // the Dock cannot be read
  const Menu menu = controller->buildMenu();
  EXPECT_EQ(shape(*menu.items[2].submenu),
            (std::vector<std::string>{"No apps found in the Dock (disabled)", "-", "Other App…"}));
  for (const auto& entry : menu.items) {
    EXPECT_NE(entry.title, "Check for Updates…");
  }
  // The disabled entry cannot be chosen; an entry without its pair of strings adds nothing.
  ASSERT_TRUE(mac_.statusBar.click("own", false, 1, 0));
  EXPECT_FALSE(mac_.statusBar.choose({"Add App", "No apps found in the Dock"}));
  EXPECT_TRUE(mac_.statusBar.dismissMenu());
  controller->perform(MenuItem::command("Stray", "addApp"));
  EXPECT_TRUE(settings_.monitoredApps()->empty());
}

TEST_F(StatusItemControllerTest, ClickingTheItemAgainClosesItsMenuAndTheNextClickRebuildsIt) {
  auto controller = start();
  ASSERT_TRUE(mac_.statusBar.click("own", false, 1, 0));
  ASSERT_TRUE(mac_.statusBar.click("own", false, 1, 0));  // closes the open menu
  EXPECT_FALSE(mac_.statusBar.menuOpen());
  EXPECT_FALSE(mac_.statusBar.items().front()->hasMenu());
  ASSERT_TRUE(mac_.statusBar.click("own", true, 1, 0));
  EXPECT_TRUE(mac_.statusBar.menuOpen());
  const auto menus = mac_.statusBar.menusJson();
  ASSERT_EQ(menus.size(), 2u);
  EXPECT_EQ(menus[0]["outcome"], "closed");
  // A button click while its menu is open (the HUD forwarding a click) shows it anew.
  mac_.statusBar.items().front()->button().performClick();
  EXPECT_EQ(mac_.statusBar.menusJson().size(), 3u);
}

TEST_F(StatusItemControllerTest, OtherAppAddsOnlyBundlesWithAnIdentifier) {
  auto controller = start();
  auto browse = [&](const std::optional<std::string>& path) {
    ASSERT_TRUE(mac_.statusBar.click("own", false, 1, 0));
    ASSERT_TRUE(mac_.statusBar.choose({"Add App", "Other App…"}));
    EXPECT_TRUE(mac_.panels.openPanelShown());
    if (path) {
      EXPECT_FALSE(mac_.panels.answerOpenPanel("/tmp/not-a-bundle"));  // stays open
    }
    ASSERT_TRUE(mac_.panels.answerOpenPanel(path));
  };
  browse(std::nullopt);
  EXPECT_TRUE(settings_.monitoredApps()->empty());
  sim::InstalledBundle nameless;  // a bundle without an identifier
  nameless.path = "/Applications/Nameless.app";
  nameless.name = "Nameless";
  mac_.world.installBundle(nameless);
  browse("/Applications/Nameless.app");
  EXPECT_TRUE(settings_.monitoredApps()->empty());
  browse("/Applications/Notes.app");
  ASSERT_EQ(settings_.monitoredApps()->size(), 1u);
  EXPECT_EQ(settings_.monitoredApps()->front().name, "Quick Notes");
  EXPECT_EQ(mac_.appShell.activations(), 3);
  EXPECT_EQ(mac_.panels.toJson()[0]["message"], "Choose an app to show in the menu bar");
}

}  // namespace
}  // namespace lumarin
