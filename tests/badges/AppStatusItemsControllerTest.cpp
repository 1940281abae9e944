#include <gtest/gtest.h>

#include "badges/AppStatusItemsController.h"
#include "badges/BadgeRenderer.h"
#include "platform/StatusBar.h"
#include "platform/Workspace.h"
#include "support/DesktopFixture.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

constexpr const char* kScenario = R"({
  "apps": [
    {"bundleID": "com.apple.mail", "name": "Mail", "running": true, "path": "/System/Applications/Mail.app"},
    {"bundleID": "com.apple.MobileSMS", "name": "Messages", "path": "/System/Applications/Messages.app"},
    {"bundleID": "com.tinyspeck.slackmacgap", "name": "Slack", "running": true,
     "menuExtras": [{"title": "Slack", "width": 24}]}
  ],
  "dock": [
    {"app": "com.apple.mail"},
    {"app": "com.apple.MobileSMS"},
    {"app": "com.tinyspeck.slackmacgap"}
  ]})";

class AppStatusItemsControllerTest : public test::DesktopFixture {
 protected:
  void SetUp() override { load(kScenario); }

  std::shared_ptr<AppStatusItemsController> start() {
    auto controller =
        std::make_shared<AppStatusItemsController>(AppStatusItemsController::Dependencies{
            settings_, monitor_, mac_.statusBar, mac_.events, scheduler_, mac_.workspace,
            &mac_.accessibility, &scanner_, defaults_, icons_, l10n_, log_, systemLog_, revision_});
    controller->setStatisticsHook([this](const std::string& name, const Properties& props) {
      statistics_.push_back(name + " " + std::get<std::string>(props.at("app")) + " " +
                            (std::get<bool>(props.at("ok")) ? "true" : "false") + " " +
                            std::get<std::string>(props.at("kind")));
    });
    controller->start();
    monitor_->start();
    controller->reconcile();
    scheduler_.runUntilIdle();
    return controller;
  }

  std::optional<double> position(const std::string& bundleID) {
    return defaults_.number("NSStatusItem Preferred Position lumarin." + bundleID);
  }

  std::shared_ptr<StatusItem> itemFor(const std::string& bundleID) {
    for (const auto& item : mac_.statusBar.items()) {
      if (item->autosaveName() == "lumarin." + bundleID) {
        return item;
      }
    }
    return nullptr;
  }

  MonitoredApp app(const std::string& bundleID) {
    for (const auto& a : *settings_.monitoredApps()) {
      if (a.bundleID == bundleID) {
        return a;
      }
    }
    ADD_FAILURE() << bundleID << " is not monitored";
    return {};
  }

  std::vector<std::string> statistics_;
};

TEST_F(AppStatusItemsControllerTest, SeedsPositionsFortyPointsApartAndNeverOverwritesThem) {
  defaults_.set("NSStatusItem Preferred Position Lumarin.ControlItem.Main", 200.0);
  settings_.add("com.apple.mail", "Mail");
  settings_.add("com.apple.MobileSMS", "Messages");
  auto controller = start();
  EXPECT_EQ(position("com.apple.mail"), 160);
  EXPECT_EQ(position("com.apple.MobileSMS"), 120);
  // Nearer the screen's right edge one after another: the list reads left to right.
  EXPECT_LT(itemFor("com.apple.mail")->button().window()->frame.minX(),
            itemFor("com.apple.MobileSMS")->button().window()->frame.minX());
  // A stored value is kept even when the seeding rule would give another.
  defaults_.set("NSStatusItem Preferred Position lumarin.com.tinyspeck.slackmacgap", 77.0);
  const int revision = *revision_.value;
  settings_.add("com.tinyspeck.slackmacgap", "Slack");
  scheduler_.runUntilIdle();
  EXPECT_EQ(position("com.tinyspeck.slackmacgap"), 77);
  EXPECT_GT(*revision_.value, revision);
}

TEST_F(AppStatusItemsControllerTest, SeedingStopsAtTwentyPoints) {
  defaults_.set("NSStatusItem Preferred Position Lumarin.ControlItem.Main", 60);
  settings_.add("com.apple.mail", "Mail");
  settings_.add("com.apple.MobileSMS", "Messages");
  auto controller = start();
  EXPECT_EQ(position("com.apple.mail"), 20);
  EXPECT_EQ(position("com.apple.MobileSMS"), 20);
  // Without the own item's position (or with one that is not a number) the base is 200.
  defaults_.set("NSStatusItem Preferred Position Lumarin.ControlItem.Main", std::string("x"));
  settings_.add("com.tinyspeck.slackmacgap", "Slack");
  scheduler_.runUntilIdle();
  EXPECT_EQ(position("com.tinyspeck.slackmacgap"), 200 - 3 * 40);
}

TEST_F(AppStatusItemsControllerTest, HiddenItemKeepsItsPlaceAndComesBackThere) {
  MonitoredApp mail = settings_.add("com.apple.mail", "Mail");
  mail.visibility = IconVisibility::hide;
  settings_.update(mail);
  auto controller = start();
  auto item = itemFor("com.apple.mail");
  ASSERT_TRUE(item);
  EXPECT_TRUE(item->isVisible());
  EXPECT_EQ(item->length(), 0);
  EXPECT_FALSE(item->button().image());
  EXPECT_FALSE(item->button().toolTip());
  const auto stored = position("com.apple.mail");
  ASSERT_TRUE(stored);
  const auto hiddenAt = mac_.world.placedHostedItem(1);

  mac_.world.setBadge("com.apple.mail", "2");
  scheduler_.advanceBy(1s);
  EXPECT_EQ(item->length(), kVariableStatusItemLength);
  ASSERT_TRUE(item->button().image());
  EXPECT_EQ(position("com.apple.mail"), stored);
  const auto window = item->button().window();
  ASSERT_TRUE(window);
  ASSERT_TRUE(hiddenAt);
  // Shown again, its right edge is where the zero-length item stood.
  EXPECT_DOUBLE_EQ(window->frame.maxX(), hiddenAt->frame.maxX());
  EXPECT_GT(window->frame.width(), 0);
}

TEST_F(AppStatusItemsControllerTest, PictureTitleAndTooltipFollowTheBadgeAndStyle) {
  MonitoredApp mail = settings_.add("com.apple.mail", "Mail");
  mail.visibility = IconVisibility::dim;
  settings_.update(mail);
  MonitoredApp messages = settings_.add("com.apple.MobileSMS", "Messages");
  messages.visibility = IconVisibility::dim;
  settings_.update(messages);
  auto controller = start();
  auto mailItem = itemFor("com.apple.mail");
  // Dimmed without a badge: the icon at 0.35, no title, the name alone while running.
  EXPECT_EQ(mailItem->button().toolTip(), "Mail");
  EXPECT_FALSE(mailItem->button().attributedTitle());
  const Image dimmed = mailItem->button().image()->rasterize(2);
  std::uint8_t maxAlpha = 0;
  for (int y = 0; y < dimmed.pixelHeight; ++y) {
    for (int x = 0; x < dimmed.pixelWidth; ++x) {
      maxAlpha = std::max(maxAlpha, dimmed.alpha(x, y));
    }
  }
  EXPECT_NEAR(maxAlpha, 0.35 * 255, 2);
  EXPECT_EQ(itemFor("com.apple.MobileSMS")->button().toolTip(), "Messages — not running");

  // Text style with 12: the plain icon, "12" in the badge colour, the count in the tooltip.
  mail.visibility = IconVisibility::always;
  mail.style = BadgeStyle::text;
  mail.color = BadgeColor::blue;
  settings_.update(mail);
  mac_.world.setBadge("com.apple.mail", "12");
  scheduler_.advanceBy(1s);
  ASSERT_TRUE(mailItem->button().attributedTitle());
  EXPECT_EQ(mailItem->button().attributedTitle()->text, "12");
  EXPECT_EQ(mailItem->button().attributedTitle()->color, colorValue(BadgeColor::blue));
  EXPECT_EQ(mailItem->button().image()->size, (Size{20, 20}));
  EXPECT_EQ(mailItem->button().toolTip(), "Mail — 12 notifications");
  EXPECT_EQ(controller->liveAppearance(mail.id).second->text, "12");

  // Circle style with 1500: "999+" in the badge and the tooltip.
  mail.style = BadgeStyle::circle;
  settings_.update(mail);
  mac_.world.setBadge("com.apple.mail", "1500");
  scheduler_.advanceBy(1s);
  EXPECT_FALSE(mailItem->button().attributedTitle());
  EXPECT_DOUBLE_EQ(mailItem->button().image()->size.width, 31.3);
  EXPECT_FALSE(mailItem->button().image()->isTemplate);
  EXPECT_EQ(mailItem->button().toolTip(), "Mail — 999+ notifications");
  EXPECT_FALSE(controller->liveAppearance(Uuid::random()).first);
}

TEST_F(AppStatusItemsControllerTest, ClicksActOncePerGesture) {
  MonitoredApp messages = settings_.add("com.apple.MobileSMS", "Messages");
  auto controller = start();
  // A double click activates (launches) the app once, never also the single-click action.
  ASSERT_TRUE(mac_.statusBar.click("com.apple.MobileSMS", false, 2, 0));
  scheduler_.advanceBy(1s);
  auto activations = mac_.workspace.activations();
  ASSERT_EQ(activations.size(), 1u);
  EXPECT_EQ(activations[0].bundleID, "com.apple.MobileSMS");
  EXPECT_TRUE(activations[0].launched);
  EXPECT_TRUE(logLines("appitem: singleClick").empty());

  // A single click waits min(interval, 0.4 s), then activates an app without an own item.
  ASSERT_TRUE(mac_.statusBar.click("com.apple.MobileSMS", false, 1, 0));
  scheduler_.advanceBy(399ms);
  EXPECT_TRUE(controller->hasPendingSingleClick());
  scheduler_.advanceBy(1ms);
  scheduler_.runUntilIdle();
  EXPECT_EQ(logLines("appitem: singleClick com.apple.MobileSMS ownStatusItem=false").size(), 1u);
  EXPECT_EQ(mac_.workspace.activations().size(), 2u);

  // Sooner when the user's double-click interval is shorter.
  mac_.events.setDoubleClickInterval(0.25);
  ASSERT_TRUE(mac_.statusBar.click("com.apple.MobileSMS", false, 1, 0));
  scheduler_.advanceBy(250ms);
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.workspace.activations().size(), 3u);
  (void)messages;
}

TEST_F(AppStatusItemsControllerTest, SingleClickPressesTheAppsOwnMenuBarItem) {
  settings_.add("com.tinyspeck.slackmacgap", "Slack");
  auto controller = start();
  ASSERT_TRUE(mac_.statusBar.click("com.tinyspeck.slackmacgap", false, 1, 0));
  scheduler_.advanceBy(400ms);
  scheduler_.runUntilIdle();
  const auto actions = mac_.world.performedActions();
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(actions[0].action, "AXPress");
  EXPECT_EQ(actions[0].title, "Slack");
  EXPECT_TRUE(mac_.workspace.activations().empty());
  EXPECT_EQ(logLines("ownStatusItem=true").size(), 1u);
}

// The simulated Mac's workspace, except that no application can be found on disk any more: an
// app whose bundle was deleted while it runs.
class BundlesGoneWorkspace final : public Workspace {
 public:
  explicit BundlesGoneWorkspace(Workspace& real) : real_(real) {}
  std::vector<RunningApplication> runningApplications() const override {
    return real_.runningApplications();
  }
  std::optional<std::string> urlForApplication(const std::string&) const override {
    return std::nullopt;
  }
  std::optional<BundleDescription> bundleAtURL(const std::string& url) const override {
    return real_.bundleAtURL(url);
  }
  Image iconForFile(const std::string& url) const override { return real_.iconForFile(url); }
  bool openApplication(const std::string& url) override { return real_.openApplication(url); }
  bool activate(int pid) override { return real_.activate(pid); }
  bool openURL(const std::string& url) override { return real_.openURL(url); }
  bool accessibilityDisplayShouldReduceMotion() const override {
    return real_.accessibilityDisplayShouldReduceMotion();
  }
  Subscription observeLaunches(std::function<void(const RunningApplication&)> handler) override {
    return real_.observeLaunches(std::move(handler));
  }
  Subscription observeTerminations(
      std::function<void(const RunningApplication&)> handler) override {
    return real_.observeTerminations(std::move(handler));
  }

 private:
  Workspace& real_;
};

TEST_F(AppStatusItemsControllerTest, ASingleClickActivatesTheRunningAppWhenItsBundleIsGone) {
  settings_.add("com.apple.mail", "Mail");
  BundlesGoneWorkspace workspace(mac_.workspace);
  auto controller =
      std::make_shared<AppStatusItemsController>(AppStatusItemsController::Dependencies{
          settings_, monitor_, mac_.statusBar, mac_.events, scheduler_, workspace,
          &mac_.accessibility, &scanner_, defaults_, icons_, l10n_, log_, systemLog_, revision_});
  controller->start();
  monitor_->start();
  controller->reconcile();
  scheduler_.runUntilIdle();
  ASSERT_TRUE(mac_.statusBar.click("com.apple.mail", false, 1, 0));
  scheduler_.advanceBy(400ms);
  scheduler_.runUntilIdle();
  EXPECT_EQ(logLines("appitem: activate com.apple.mail url=nil").size(), 1u);
  const auto activations = mac_.workspace.activations();
  ASSERT_EQ(activations.size(), 1u);
  EXPECT_EQ(activations[0].bundleID, "com.apple.mail");
  EXPECT_EQ(activations[0].via, "activate");
  EXPECT_FALSE(activations[0].launched);
}

TEST_F(AppStatusItemsControllerTest, ModifiedAndContextClicks) {
  MonitoredApp mail = settings_.add("com.apple.mail", "Mail");
  auto controller = start();
  // Command-click: the system moves the item; only the log line.
  ASSERT_TRUE(mac_.statusBar.click("com.apple.mail", false, 1, kModifierCommand));
  scheduler_.advanceBy(1s);
  EXPECT_FALSE(mac_.statusBar.menuOpen());
  EXPECT_TRUE(mac_.workspace.activations().empty());
  EXPECT_EQ(
      logLines("appitem: clicked id=" + mail.id.toString() + " eventType=leftMouseUp clicks=1")
          .size(),
      1u);

  // Control-click and right click open the item menu with the current visibility checked.
  for (const auto& [right, modifiers] :
       std::vector<std::pair<bool, unsigned>>{{false, kModifierControl}, {true, 0u}}) {
    ASSERT_TRUE(mac_.statusBar.click("com.apple.mail", right, 1, modifiers));
    ASSERT_TRUE(mac_.statusBar.menuOpen());
    const Menu& menu = mac_.statusBar.shownMenus().back().menu;
    std::vector<std::string> shape;
    for (const auto& entry : menu.items) {
      shape.push_back(entry.isSeparator ? "-" : entry.title + (entry.checked ? "*" : ""));
    }
    EXPECT_EQ(shape, (std::vector<std::string>{"Open Mail", "-", "Dim when idle", "Hide when idle",
                                               "Always show (pin)*", "-", "Settings…",
                                               "Remove from Menu Bar"}));
    EXPECT_TRUE(mac_.statusBar.dismissMenu());
  }

  // Choosing a visibility updates the app; removing takes its item away at once.
  ASSERT_TRUE(mac_.statusBar.click("com.apple.mail", true, 1, 0));
  ASSERT_TRUE(mac_.statusBar.choose({"Dim when idle"}));
  scheduler_.runUntilIdle();
  EXPECT_EQ(app("com.apple.mail").visibility, IconVisibility::dim);
  ASSERT_TRUE(mac_.statusBar.click("com.apple.mail", true, 1, 0));
  EXPECT_FALSE(mac_.statusBar.choose({"Remove"}));  // no such entry: the menu stays open
  ASSERT_TRUE(mac_.statusBar.choose({"Remove from Menu Bar"}));
  scheduler_.runUntilIdle();
  EXPECT_TRUE(settings_.monitoredApps()->empty());
  EXPECT_FALSE(itemFor("com.apple.mail"));
  // A click on the removed item finds nothing; a stale button click does nothing.
  EXPECT_FALSE(mac_.statusBar.click("com.apple.mail", false, 1, 0));
}

TEST_F(AppStatusItemsControllerTest, ClickAfterTheAppWasRemovedDoesNothing) {
  MonitoredApp mail = settings_.add("com.apple.mail", "Mail");
  auto controller = start();
  StatusBarButton* button = controller->buttonFor(mail.id);
  ASSERT_NE(button, nullptr);
  auto item = itemFor("com.apple.mail");  // keeps the button alive after the removal
  settings_.remove(mail.id);              // the reconciliation is still on its way
  mac_.events.setCurrentEvent(Event{EventType::leftMouseUp, 1, 0});
  controller->itemClicked(*button);
  scheduler_.advanceBy(1s);
  EXPECT_FALSE(controller->hasPendingSingleClick());
  EXPECT_TRUE(mac_.workspace.activations().empty());
  // A button without a UUID is logged and ignored.
  item->button().setIdentifier("not-a-uuid");
  controller->itemClicked(item->button());
  EXPECT_EQ(logLines("appitem: clicked but identifier missing").size(), 1u);
}

TEST_F(AppStatusItemsControllerTest, BadgeReadsAreReportedOncePerChange) {
  settings_.add("com.apple.mail", "Mail");
  settings_.add("com.example.gone", "Gone");
  auto controller = start();
  mac_.world.setBadge("com.apple.mail", "3");
  scheduler_.advanceBy(3s);
  mac_.world.setBadge("com.apple.mail", "4");  // still a number: nothing new
  scheduler_.advanceBy(3s);
  mac_.world.setBadge("com.apple.mail", "•");
  scheduler_.advanceBy(3s);
  EXPECT_EQ(statistics_, (std::vector<std::string>{
                             "badge.read com.apple.mail true none",
                             "badge.read com.example.gone false none",
                             "badge.read com.apple.mail true number",
                             "badge.read com.apple.mail true dot",
                         }));
}

TEST_F(AppStatusItemsControllerTest, TesterModeLogsTheLayoutWhenItChanges) {
  settings_.add("com.apple.mail", "Mail");
  auto controller = start();
  EXPECT_TRUE(logLines("layout(").empty());  // tester mode off
  defaults_.set("testerModeEnabled", true);
  controller->reconcile();
  controller->reconcile();  // unchanged: once
  const auto lines = logLines("layout(reconcile): com.apple.mail@x=");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(",w="), std::string::npos);
  settings_.add("com.apple.MobileSMS", "Messages");
  scheduler_.advanceBy(60s);
  EXPECT_EQ(logLines(" | ").size(), 1u);
  EXPECT_TRUE(logLines("layout(poll)").empty());  // the poll found what reconcile logged
  controller->debugDumpFrames();
  const auto dump = systemLog_.lines();
  ASSERT_EQ(dump.size(), 2u);
  EXPECT_TRUE(std::any_of(dump.begin(), dump.end(), [](const std::string& line) {
    return line.rfind("Lumarin[debug] item=com.apple.mail visible=1 frame={{", 0) == 0;
  }));
}

}  // namespace
}  // namespace lumarin
