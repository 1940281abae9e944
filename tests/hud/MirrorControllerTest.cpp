#include <gtest/gtest.h>

#include <QAccessible>
#include <QTest>
#include <algorithm>

#include "hud/ControlCenterWatcher.h"
#include "hud/HUDLayoutBus.h"
#include "hud/MirrorController.h"
#include "hud/MirrorFixture.h"
#include "hud/MirrorHUDController.h"
#include "hud/MirrorHUDLayout.h"
#include "hud/MirrorHUDSearch.h"
#include "hud/MirrorHUDView.h"
#include "hud/MirrorHUDWindow.h"
#include "menubar/Permissions.h"
#include "platform/Menu.h"
#include "platform/Windows.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

constexpr const char* kDesktop = R"({
  "screens": [{"size": [1512, 982], "scale": 2},
              {"origin": [1512, 0], "size": [1920, 1080], "scale": 1}],
  "apps": [
    {"bundleID": "com.example.a", "name": "Alpha", "running": true, "accessory": true,
     "menuExtras": [{"title": "A", "width": 38}]},
    {"bundleID": "com.example.b", "name": "Beta", "running": true, "accessory": true,
     "menuExtras": [{"title": "B", "width": 20}]}
  ]})";

// The panel controller and the mirror controller on a simulated Mac with two screens, the
// panel painted by its Qt window.
class MirrorControllerTest : public test::MirrorFixture {
 protected:
  void SetUp() override {
    load(kDesktop);
    mac_.world.setMouseLocation(CocoaPoint{700, 500});
    hud_ = std::make_shared<MirrorHUDController>(MirrorHUDController::Dependencies{
        model(), &mac_.windows, mac_.events, mac_.screens, scheduler_, &skyLight_, mac_.workspace,
        bus_.get(), *forwarder(), &permissions_, log_,
        [this](MirrorHUDController::SurfaceHandlers handlers) {
          auto window = std::make_unique<MirrorHUDWindow>(model(), l10n_, std::move(handlers),
                                                          [] { return 982.0; });
          window_ = window.get();
          return std::unique_ptr<MirrorHUDSurface>(std::move(window));
        },
        [] { return std::string("en"); }});
    controller_ = std::make_shared<MirrorController>(MirrorController::Dependencies{
        model(), hud_, watcher_, bus_.get(), scheduler_, mac_.screens, &mac_.screenCapture, log_,
        [this](const std::string& name, const Properties& properties) {
          events_.emplace_back(name, properties);
        },
        [this](const MirrorController::Record& record) { records_.push_back(record); }});
    notes_ = mac_.world.subscribeNotifications([this](const std::string& name,
                                                      const sim::World::NotificationInfo& info) {
      if (name == HUDLayoutBus::kNoteName && std::get<std::string>(info.at("app")) == "Lumarin") {
        ++posts_;
      }
    });
  }

  void start() {
    controller_->start(follows_);
    scheduler_.runUntilIdle();
  }

  // The panel's window as the window server lists it.
  std::optional<sim::SimWindow> panelWindow() const {
    if (hud_->panel() == nullptr) {
      return std::nullopt;
    }
    return mac_.world.window(hud_->panel()->window().number());
  }

  GlobalPoint panelPoint(double dx, double dy) const {
    const GlobalRect r = toGlobal(hud_->panel()->window().frame(), 982);
    return GlobalPoint{r.minX() + dx, r.minY() + dy};
  }

  std::shared_ptr<HUDLayoutBus> bus_ =
      std::make_shared<HUDLayoutBus>(mac_.notifications, scheduler_.clock(), log_);
  std::shared_ptr<ControlCenterWatcher> watcher_ = std::make_shared<ControlCenterWatcher>(
      ControlCenterWatcher::Dependencies{scheduler_, mac_.windowServer, mac_.screens,
                                         mac_.workspace, mac_.accessibility, mac_.events, log_});
  Permissions permissions_{mac_.accessibility, mac_.workspace};
  Observable<bool> follows_{true};
  std::shared_ptr<MirrorHUDController> hud_;
  std::shared_ptr<MirrorController> controller_;
  MirrorHUDWindow* window_ = nullptr;
  std::vector<std::pair<std::string, Properties>> events_;
  std::vector<MirrorController::Record> records_;
  Subscription notes_;
  int posts_ = 0;
};

TEST_F(MirrorControllerTest, HotKeyShowsCachedTilesAtOnceThenRefreshesInPlace) {
  start();
  refresh();
  const int scans = model()->scanCount();
  controller_->toggleHUD("hotkey");
  // Within the same turn: the panel is up with the last tiles, the fresh refresh runs.
  ASSERT_TRUE(hud_->isVisible());
  EXPECT_TRUE(model()->refreshing());
  EXPECT_TRUE(hud_->panel()->window().isKey());
  auto window = panelWindow();
  ASSERT_TRUE(window);
  EXPECT_EQ(window->layer, 25);
  EXPECT_EQ(window->ownerPID, kOwnPid);
  EXPECT_TRUE(window->onscreen);
  ASSERT_TRUE(window_ != nullptr && window_->isShown());
  const std::size_t tiles = model()->tiles()->size();
  const Size size = MirrorHUDLayout::panelSize(tiles, false);
  EXPECT_EQ(hud_->panel()->window().frame().width(), size.width);
  EXPECT_EQ(hud_->panel()->window().frame().height(), size.height);
  EXPECT_EQ(window_->view().size(),
            QSize(static_cast<int>(size.width), static_cast<int>(size.height)));
  EXPECT_EQ(hud_->frameDescription().find(std::to_string(static_cast<int>(size.width)) + "x"), 0u);
  ASSERT_EQ(logLines("mirror: hud show tiles=").size(), 1u);
  EXPECT_NE(logLines("mirror: hud show")[0].find("linkedCC=false frame="), std::string::npos);
  EXPECT_NE(logLines("mirror: hud show")[0].find("mouse=700,500 order(L→R)="), std::string::npos);
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].first, "hud.open");
  EXPECT_EQ(std::get<std::string>(events_[0].second.at("trigger")), "hotkey");
  EXPECT_EQ(std::get<std::int64_t>(events_[0].second.at("items")),
            static_cast<std::int64_t>(tiles));
  EXPECT_FALSE(std::get<bool>(events_[0].second.at("notchHidden")));  // no notched display

  scheduler_.advanceBy(600ms);
  EXPECT_EQ(posts_, 1);
  EXPECT_EQ(model()->scanCount(), scans + 1);
  EXPECT_EQ(logLines("mirror: hud verify ok").size(), 1u);
  // While visible, the model refreshes every second; hidden, never again.
  scheduler_.advanceBy(2s);
  EXPECT_EQ(model()->scanCount(), scans + 3);
  EXPECT_TRUE(controller_->hasTimer());
  controller_->toggleHUD("hotkey");
  EXPECT_FALSE(hud_->isVisible());
  EXPECT_EQ(hud_->lastHideReason(), "toggle");
  EXPECT_FALSE(controller_->hasTimer());
  EXPECT_FALSE(panelWindow()->onscreen);
  EXPECT_FALSE(window_->isShown());
  scheduler_.advanceBy(5s);
  EXPECT_EQ(model()->scanCount(), scans + 3);
  EXPECT_EQ(posts_, 2);  // visible, then hidden
}

TEST_F(MirrorControllerTest, WithoutTilesTheFirstRefreshComesFirst) {
  start();
  controller_->toggleHUD("menu");
  EXPECT_FALSE(hud_->isVisible());
  ASSERT_EQ(logLines("hud: show requested (linkedCC=false) tiles=0 → refresh first "
                     "(refreshing=false)")
                .size(),
            1u);
  scheduler_.runUntilIdle();
  EXPECT_TRUE(hud_->isVisible());
  EXPECT_EQ(logLines("hud: refresh done in ").size(), 1u);
  EXPECT_EQ(std::get<std::string>(events_.at(0).second.at("trigger")), "menu");
  // Shown again after a hide: exactly one timer.
  hud_->hide("toggle");
  controller_->toggleHUD("menu");
  controller_->showHUD(false, std::nullopt, "menu");  // a show while visible re-runs it
  EXPECT_TRUE(controller_->hasTimer());
  scheduler_.runUntilIdle();
  const int scans = model()->scanCount();
  scheduler_.advanceBy(1100ms);
  EXPECT_EQ(model()->scanCount(), scans + 1);
}

TEST_F(MirrorControllerTest, ASecondPressBeforeTheFirstRefreshEndsTakesTheShowBack) {
  start();
  controller_->toggleHUD("hotkey");
  EXPECT_TRUE(controller_->waitingForRefresh());
  controller_->toggleHUD("hotkey");
  EXPECT_FALSE(controller_->waitingForRefresh());
  scheduler_.runUntilIdle();
  EXPECT_FALSE(hud_->isVisible());
  EXPECT_TRUE(events_.empty());
}

TEST_F(MirrorControllerTest, TwoRequestsDuringTheFirstRefreshShowTheHUDOnce) {
  start();
  controller_->showHUD(false, std::nullopt, "menu");
  controller_->showHUD(false, std::nullopt, "hotkey");
  scheduler_.runUntilIdle();
  EXPECT_TRUE(hud_->isVisible());
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(std::get<std::string>(events_[0].second.at("trigger")), "hotkey");
  EXPECT_EQ(records_.size(), 1u);
}

TEST_F(MirrorControllerTest, EscapeOutsideClicksAndOwnWindowsCloseThePanel) {
  start();
  refresh();
  const auto monitors = mac_.events.liveMonitors();  // the watcher's
  controller_->toggleHUD("hotkey");
  scheduler_.runUntilIdle();
  // Another key passes; Escape is swallowed by the local monitor ("esc", not "cancel").
  EXPECT_TRUE(mac_.events.userKeyDown(12, 0));
  scheduler_.runUntilIdle();
  EXPECT_TRUE(hud_->isVisible());
  EXPECT_TRUE(mac_.events.userKeyDown(MirrorHUDPanel::kEscapeKeyCode, 0));
  scheduler_.runUntilIdle();
  EXPECT_FALSE(hud_->isVisible());
  EXPECT_EQ(hud_->lastHideReason(), "esc");
  EXPECT_FALSE(mac_.events.userKeyDown(MirrorHUDPanel::kEscapeKeyCode, 0));  // nobody is key

  // A click in another app's area closes it.
  controller_->toggleHUD("hotkey");
  mac_.events.userClick(GlobalPoint{100, 800}, false);
  scheduler_.runUntilIdle();
  EXPECT_EQ(hud_->lastHideReason(), "outside-click");

  // A click in another window of the program closes it and still reaches that window.
  auto other = mac_.windows.makeWindow(WindowSpec{"Settings", 0});
  other->setFrame(CocoaRect(20, 100, 200, 200));
  other->orderFront(true);
  int reached = 0;
  other->setMouseDownHandler([&reached](EventType, CocoaPoint, unsigned) { ++reached; });
  controller_->toggleHUD("hotkey");
  mac_.events.userClick(GlobalPoint{100, 800}, false);
  scheduler_.runUntilIdle();
  EXPECT_EQ(hud_->lastHideReason(), "own-window-click");
  EXPECT_EQ(reached, 1);

  // The cancel command.
  controller_->toggleHUD("hotkey");
  hud_->panel()->cancelOperation();
  EXPECT_EQ(hud_->lastHideReason(), "cancel");
  // No monitors are left behind.
  EXPECT_EQ(mac_.events.liveMonitors(), monitors);
}

TEST_F(MirrorControllerTest, TypingFiltersTheKeyPanelAndEscapeClearsBeforeItCloses) {
  start();
  refresh();
  controller_->toggleHUD("hotkey");
  ASSERT_TRUE(hud_->isVisible());
  ASSERT_TRUE(window_ != nullptr && hud_->search() != nullptr);
  const CocoaRect opened = hud_->panel()->window().frame();
  QTest::keyClicks(&window_->widget(), "alp");
  EXPECT_EQ(hud_->search()->text(), "alp");
  const auto shown = window_->view().shownIDs();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(window_->view().focusedID(), shown[0]);  // the first match is focused
  // One tile under the search line; the top edge stays where it was.
  const CocoaRect filtered = hud_->panel()->window().frame();
  const Size size = MirrorHUDLayout::panelSize(1, false, true);
  EXPECT_EQ(filtered.width(), size.width);
  EXPECT_EQ(filtered.height(), size.height);
  EXPECT_EQ(filtered.maxY(), opened.maxY());
  EXPECT_EQ(window_->view().width(), static_cast<int>(size.width));
  EXPECT_EQ(logLines("mirror: hud filter \"alp\" visible=1 of ").size(), 1u);
  // A refresh while filtering keeps the filter and the focus.
  refresh();
  EXPECT_EQ(window_->view().shownIDs(), shown);
  EXPECT_EQ(window_->view().focusedID(), shown[0]);
  // Backspace edits; a filter that matches nothing says so and keeps the panel open.
  QTest::keyClick(&window_->widget(), Qt::Key_Backspace);
  EXPECT_EQ(hud_->search()->text(), "al");
  QTest::keyClicks(&window_->widget(), "zz");
  EXPECT_TRUE(window_->view().shownIDs().empty());
  EXPECT_TRUE(hud_->isVisible());
  // Escape empties the filter first, and only an empty one closes the panel: from the
  // toolkit's window and from the system's key events alike.
  QTest::keyClick(&window_->widget(), Qt::Key_Escape);
  EXPECT_TRUE(hud_->isVisible());
  EXPECT_EQ(hud_->search()->text(), "");
  EXPECT_EQ(window_->view().shownIDs().size(), model()->tiles()->size());
  QTest::keyClick(&window_->widget(), Qt::Key_Escape);
  EXPECT_FALSE(hud_->isVisible());
  EXPECT_EQ(hud_->lastHideReason(), "cancel");
  controller_->toggleHUD("hotkey");
  EXPECT_EQ(hud_->search()->text(), "");  // every opening starts without a filter
  QTest::keyClicks(&window_->widget(), "b");
  EXPECT_TRUE(mac_.events.userKeyDown(MirrorHUDPanel::kEscapeKeyCode, 0));
  scheduler_.runUntilIdle();
  EXPECT_TRUE(hud_->isVisible());
  EXPECT_EQ(hud_->search()->text(), "");
  (void)mac_.events.userKeyDown(MirrorHUDPanel::kEscapeKeyCode, 0);
  scheduler_.runUntilIdle();
  EXPECT_FALSE(hud_->isVisible());
  EXPECT_EQ(hud_->lastHideReason(), "esc");
}

TEST_F(MirrorControllerTest, SystemKeyDownsMoveAndPressTheFocusAndEachKeyIsTold) {
  // The digit row's key codes do not follow the digits.
  const std::vector<std::pair<int, int>> digits = {{18, 1}, {19, 2}, {20, 3}, {21, 4}, {23, 5},
                                                   {22, 6}, {26, 7}, {28, 8}, {25, 9}};
  for (const auto& [code, digit] : digits) {
    const auto key = hudKeyForKeyCode(code, 0);
    ASSERT_TRUE(key && key->kind == HUDKey::Kind::digit) << code;
    EXPECT_EQ(key->digit, digit) << code;
  }
  EXPECT_FALSE(hudKeyForKeyCode(18, kModifierShift).has_value());  // "!", not 1
  EXPECT_TRUE(hudKeyForKeyCode(76, 0)->kind == HUDKey::Kind::activate);
  EXPECT_FALSE(hudKeyForKeyCode(MirrorHUDPanel::kEscapeKeyCode, 0).has_value());

  start();
  refresh();
  std::vector<HUDKeyRecord> told;
  hud_->setOnKey([&told](const HUDKeyRecord& record) { told.push_back(record); });
  controller_->toggleHUD("hotkey");
  const auto first = hud_->search()->focusedID();
  EXPECT_TRUE(mac_.events.userKeyDown(124, 0));  // Right
  scheduler_.runUntilIdle();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].key.kind, HUDKey::Kind::right);
  EXPECT_EQ(told[0].visible.size(), model()->tiles()->size());
  const auto focused = hud_->search()->focusedID();
  ASSERT_TRUE(focused.has_value());
  EXPECT_NE(focused, first);
  // Shift-Return: a right click on the focused tile, and the panel closes.
  EXPECT_TRUE(mac_.events.userKeyDown(36, kModifierShift));
  scheduler_.runUntilIdle();
  ASSERT_EQ(told.size(), 2u);
  EXPECT_TRUE(told[1].key.secondary);
  EXPECT_EQ(told[1].reached, focused);
  EXPECT_FALSE(hud_->isVisible());
  EXPECT_EQ(hud_->lastHideReason(), "tile-click");

  // "2" clicks the second tile in reading order.
  controller_->toggleHUD("hotkey");
  const auto second = hud_->search()->nthInReadingOrder(2);
  ASSERT_TRUE(second.has_value());
  EXPECT_TRUE(mac_.events.userKeyDown(19, 0));
  scheduler_.runUntilIdle();
  ASSERT_EQ(told.size(), 3u);
  EXPECT_EQ(told[2].reached, second);
  // With Control Center, the panel is not key: keys pass it by and nothing is told.
  hud_->show(true, std::nullopt);
  ASSERT_TRUE(hud_->isVisible());
  (void)mac_.events.userKeyDown(124, 0);
  scheduler_.runUntilIdle();
  EXPECT_EQ(told.size(), 3u);
}

std::vector<std::pair<QAccessible::Event, QString>> announcements;

void recordAnnouncement(QAccessibleEvent* event) {
  QAccessibleInterface* target = event->accessibleInterface();
  announcements.emplace_back(event->type(),
                             target != nullptr ? target->text(QAccessible::Name) : QString());
}

TEST_F(MirrorControllerTest, TilesAndTheSearchLineAreAccessibleAndTheFocusIsAnnounced) {
  start();
  refresh();
  controller_->toggleHUD("hotkey");
  QAccessible::installUpdateHandler(&recordAnnouncement);
  QAccessible::setActive(true);
  announcements.clear();
  QAccessibleInterface* panel = QAccessible::queryAccessibleInterface(&window_->view());
  ASSERT_TRUE(panel != nullptr);
  const auto shown = window_->view().shownIDs();
  ASSERT_EQ(panel->childCount(), static_cast<int>(shown.size()));
  QAccessibleInterface* first = panel->child(0);
  ASSERT_TRUE(first != nullptr);
  EXPECT_EQ(first->role(), QAccessible::Button);
  EXPECT_FALSE(first->text(QAccessible::Name).isEmpty());
  EXPECT_EQ(panel->indexOfChild(first), 0);
  // Filtering puts the search line first, an editable text holding the filter; the match is
  // the focused button, and its focus is announced.
  QTest::keyClicks(&window_->widget(), "alp");
  ASSERT_EQ(panel->childCount(), 2);
  QAccessibleInterface* search = panel->child(0);
  ASSERT_TRUE(search != nullptr);
  EXPECT_EQ(search->role(), QAccessible::EditableText);
  EXPECT_EQ(search->text(QAccessible::Value), "alp");
  EXPECT_EQ(search->text(QAccessible::Name), "Search menu bar items");
  QAccessibleInterface* alpha = panel->child(1);
  ASSERT_TRUE(alpha != nullptr);
  const QString alphaName = alpha->text(QAccessible::Name);
  EXPECT_TRUE(alphaName.startsWith("Alpha")) << alphaName.toStdString();
  EXPECT_TRUE(alpha->state().focused);
  EXPECT_FALSE(alpha->rect().isEmpty());
  // The focus is announced where the platform has an accessibility bridge (the offscreen
  // platform used by the tests has none, and then nothing is sent at all).
  if (QAccessible::isActive()) {
    const auto focus = std::find_if(announcements.begin(), announcements.end(),
                                    [](const auto& a) { return a.first == QAccessible::Focus; });
    ASSERT_NE(focus, announcements.end());
    EXPECT_EQ(focus->second, alphaName);
  } else {
    EXPECT_TRUE(announcements.empty());
  }
  // Tiles that the filter hides leave the tree; an emptied filter brings them back.
  QTest::keyClick(&window_->widget(), Qt::Key_Escape);
  EXPECT_EQ(panel->childCount(), static_cast<int>(shown.size()));
  QAccessible::installUpdateHandler(nullptr);
  QAccessible::setActive(false);
}

TEST_F(MirrorControllerTest, ReturnShiftReturnAndDigitsClickThroughTheForwarder) {
  start();
  refresh();
  // Return: the focused first match, as a left click.
  controller_->toggleHUD("hotkey");
  QTest::keyClicks(&window_->widget(), "bet");
  ASSERT_EQ(window_->view().shownIDs().size(), 1u);
  const std::string beta = window_->view().shownIDs()[0];
  QTest::keyClick(&window_->widget(), Qt::Key_Return);
  scheduler_.runUntilIdle();
  EXPECT_FALSE(hud_->isVisible());
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].tile, beta);
  EXPECT_EQ(reports_[0].targetApp, "com.example.b");
  auto menus = mac_.world.openedMenus();
  ASSERT_FALSE(menus.empty());
  EXPECT_EQ(menus.back().process, "com.example.b");
  EXPECT_FALSE(menus.back().right);
  // Shift-Return: the same as a right click.
  controller_->toggleHUD("hotkey");
  QTest::keyClicks(&window_->widget(), "alp");
  QTest::keyClick(&window_->widget(), Qt::Key_Return, Qt::ShiftModifier);
  scheduler_.runUntilIdle();
  ASSERT_EQ(reports_.size(), 2u);
  EXPECT_EQ(reports_[1].targetApp, "com.example.a");
  EXPECT_EQ(logLines("mirror: click Alpha right=true").size(), 1u);
  // A digit: the n-th tile in reading order; arrows and Return: the one they reach.
  controller_->toggleHUD("hotkey");
  const auto all = window_->view().shownIDs();
  ASSERT_GE(all.size(), 2u);
  QTest::keyClick(&window_->widget(), Qt::Key_2);
  scheduler_.runUntilIdle();
  ASSERT_EQ(reports_.size(), 3u);
  EXPECT_EQ(reports_[2].tile, all[1]);
  controller_->toggleHUD("hotkey");
  QTest::keyClick(&window_->widget(), Qt::Key_End);
  QTest::keyClick(&window_->widget(), Qt::Key_Left);
  EXPECT_EQ(window_->view().focusedID(), all[all.size() - 2]);
  QTest::keyClick(&window_->widget(), Qt::Key_Return);
  scheduler_.runUntilIdle();
  ASSERT_EQ(reports_.size(), 4u);
  EXPECT_EQ(reports_[3].tile, all[all.size() - 2]);
  // A digit past the last tile and Return without focus do nothing.
  controller_->toggleHUD("hotkey");
  QTest::keyClick(&window_->widget(), Qt::Key_9);
  QTest::keyClick(&window_->widget(), Qt::Key_Return);
  scheduler_.runUntilIdle();
  EXPECT_EQ(reports_.size(), 4u);
  EXPECT_TRUE(hud_->isVisible());
}

TEST_F(MirrorControllerTest, ClicksInThePanelReachTilesAndThePermissionRow) {
  start();
  refresh();
  controller_->toggleHUD("hotkey");
  // A click between the tiles stays in the panel.
  mac_.events.userClick(panelPoint(2, 2), false);
  scheduler_.runUntilIdle();
  EXPECT_TRUE(hud_->isVisible());
  // A click on the first cell is forwarded and closes the panel.
  const QRectF cell = window_->view().cellRects().front().second;
  mac_.events.userClick(panelPoint(cell.center().x(), cell.center().y()), true);
  scheduler_.runUntilIdle();
  EXPECT_FALSE(hud_->isVisible());
  EXPECT_EQ(hud_->lastHideReason(), "tile-click");
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].tile, window_->view().cellRects().front().first);

  // Without access: the permission row asks once, then opens the settings pane.
  mac_.world.setAccessibilityTrusted(false);
  refresh();
  for (int i = 0; i < 2; ++i) {
    controller_->toggleHUD("hotkey");
    scheduler_.runUntilIdle();
    ASSERT_TRUE(hud_->isVisible());
    EXPECT_EQ(hud_->panel()->window().frame().width(), 420);
    const QRectF row = window_->view().permissionRowRect();
    mac_.events.userClick(panelPoint(row.center().x(), row.center().y()), false);
    scheduler_.runUntilIdle();
    EXPECT_EQ(hud_->lastHideReason(), "permission-tap");
  }
  EXPECT_TRUE(permissions_.didPromptThisLaunch());
  EXPECT_EQ(mac_.world.callCounts().trustPrompts, 1u);
  EXPECT_EQ(mac_.workspace.openedURLs(),
            (std::vector<std::string>{Permissions::kAccessibilitySettingsURL}));
}

TEST_F(MirrorControllerTest, PlacedOnTheScreenUnderTheMouseAndLaidOutOnlyWhenItMoves) {
  start();
  refresh();
  mac_.world.setMouseLocation(CocoaPoint{2000, 500});
  controller_->toggleHUD("hotkey");
  const CocoaRect frame = hud_->panel()->window().frame();
  EXPECT_TRUE(CocoaRect(1512, 0, 1920, 1080).contains(frame));
  EXPECT_NE(hud_->frameDescription().find("onScreen=1920x1080"), std::string::npos);
  const auto layouts = logLines("mirror: hud layout").size();
  const int posts = posts_;
  hud_->layout();
  EXPECT_EQ(logLines("mirror: hud layout").size(), layouts);
  EXPECT_EQ(posts_, posts);
  // A display attached while visible refreshes the tiles.
  scheduler_.runUntilIdle();
  const int scans = model()->scanCount();
  mac_.world.addScreen(sim::makeScreen(3, "Third", CocoaRect(-1000, 0, 1000, 800), 1, 0, 0, 0));
  scheduler_.runUntilIdle();
  EXPECT_EQ(model()->scanCount(), scans + 1);
}

TEST_F(MirrorControllerTest, OnScreenCheckRetriesOnceThenOnlyLogs) {
  start();
  refresh();
  mac_.world.setProgramWindowsCovered(true);
  controller_->toggleHUD("hotkey");
  scheduler_.advanceBy(600ms);
  auto fails = logLines("mirror: hud verify FAIL");
  ASSERT_EQ(fails.size(), 1u);
  EXPECT_NE(fails[0].find("occluded=true activeSpace=true wsOnscreen=false front="),
            std::string::npos);
  EXPECT_NE(fails[0].find(" — reorder front"), std::string::npos);
  scheduler_.advanceBy(600ms);
  fails = logLines("mirror: hud verify FAIL");
  ASSERT_EQ(fails.size(), 2u);
  EXPECT_EQ(fails[1].find(" — reorder front"), std::string::npos);
  scheduler_.advanceBy(5s);
  EXPECT_EQ(logLines("mirror: hud verify").size(), 2u);
  // Uncovered before the retry: the second check passes.
  mac_.world.setProgramWindowsCovered(false);
  hud_->hide("toggle");
  mac_.world.setProgramWindowsCovered(true);
  controller_->toggleHUD("hotkey");
  scheduler_.advanceBy(600ms);
  mac_.world.setProgramWindowsCovered(false);
  scheduler_.advanceBy(600ms);
  EXPECT_EQ(logLines("mirror: hud verify ok").size(), 1u);
}

TEST_F(MirrorControllerTest, ControlCenterOpensAndClosesALinkedHUD) {
  start();
  refresh();
  ASSERT_TRUE(mac_.world.setControlCenterOpen(true));
  scheduler_.advanceBy(1100ms);
  ASSERT_TRUE(hud_->isVisible());
  EXPECT_TRUE(hud_->linkedToControlCenter());
  EXPECT_FALSE(hud_->panel()->window().isKey());  // Control Center keeps the keyboard
  ASSERT_TRUE(hud_->avoidRect());
  EXPECT_LE(hud_->panel()->window().frame().maxX(), hud_->avoidRect()->minX() - 12);
  EXPECT_EQ(std::get<std::string>(events_.at(0).second.at("trigger")), "cc");
  // Clicks in other apps (Control Center's panel) leave it open.
  mac_.events.userClick(GlobalPoint{1300, 300}, false);
  scheduler_.runUntilIdle();
  EXPECT_TRUE(hud_->isVisible());
  // The sibling's HUD appears: the two stack.
  mac_.world.postNotification(HUDLayoutBus::kNoteName, {{"app", std::string("pellior")},
                                                        {"visible", true},
                                                        {"x", 400.0},
                                                        {"y", 600.0},
                                                        {"w", 500.0},
                                                        {"h", 150.0}});
  scheduler_.runUntilIdle();
  ASSERT_TRUE(hud_->peerFrame());
  EXPECT_NE(logLines("mirror: hud layout").back().find("peer=yes"), std::string::npos);
  ASSERT_TRUE(mac_.world.setControlCenterOpen(false));
  scheduler_.advanceBy(600ms);
  EXPECT_FALSE(hud_->isVisible());
  EXPECT_EQ(hud_->lastHideReason(), "cc-closed");
  EXPECT_FALSE(hud_->peerFrame());

  // Open while an unlinked HUD is visible: only logged.
  controller_->toggleHUD("hotkey");
  ASSERT_TRUE(mac_.world.setControlCenterOpen(true));
  scheduler_.advanceBy(1100ms);
  EXPECT_FALSE(hud_->linkedToControlCenter());
  EXPECT_EQ(logLines("hud: cc-open ignored — HUD already visible (linkedCC=false").size(), 1u);
  ASSERT_TRUE(mac_.world.setControlCenterOpen(false));
  scheduler_.advanceBy(600ms);
  EXPECT_TRUE(hud_->isVisible());
  EXPECT_EQ(logLines("hud: cc-close with no linked HUD (visible=true, linkedCC=false)").size(), 1u);
}

TEST_F(MirrorControllerTest, TheSiblingAndTheLinkedHUDStackWithoutOverlapping) {
  start();
  refresh();
  // The sibling's HUD stands where ours will go.
  mac_.sibling.setHUD(true, CocoaRect(400, 380, 600, 150));
  scheduler_.runUntilIdle();
  ASSERT_TRUE(mac_.world.setControlCenterOpen(true));
  scheduler_.advanceBy(1100ms);
  ASSERT_TRUE(hud_->isVisible());
  const CocoaRect ours = hud_->panel()->window().frame();
  const auto theirs = mac_.sibling.hud();
  ASSERT_TRUE(theirs);
  EXPECT_FALSE(ours.intersects(*theirs));
  EXPECT_EQ(theirs->minY(), ours.maxY() + 8);
  ASSERT_TRUE(hud_->peerFrame());
  EXPECT_EQ(*hud_->peerFrame(), *theirs);
  // Settled: one more round changes nothing.
  const int posts = posts_;
  scheduler_.advanceBy(2s);
  EXPECT_EQ(hud_->panel()->window().frame(), ours);
  EXPECT_EQ(posts_, posts);
}

TEST_F(MirrorControllerTest, TheSettingDecidesWhetherControlCenterBringsTheHUD) {
  start();
  refresh();
  ASSERT_TRUE(mac_.world.setControlCenterOpen(true));
  scheduler_.advanceBy(1100ms);
  ASSERT_TRUE(hud_->linkedToControlCenter());
  follows_.set(false);
  EXPECT_FALSE(hud_->isVisible());
  EXPECT_EQ(hud_->lastHideReason(), "follow-off");
  ASSERT_TRUE(mac_.world.setControlCenterOpen(false));
  scheduler_.advanceBy(2s);
  ASSERT_TRUE(mac_.world.setControlCenterOpen(true));
  scheduler_.advanceBy(3s);
  EXPECT_FALSE(hud_->isVisible());
  EXPECT_TRUE(records_.size() == 2);
}

TEST_F(MirrorControllerTest, WaitsBrieflyForAKnownSiblingAndGivesUpWhenControlCenterCloses) {
  start();
  refresh();
  bus_->received({{"app", std::string("pellior")}, {"visible", false}});
  const GlobalRect cc(1160, 0, 344, 620);
  // Opened and closed within 250 ms: nothing shows.
  controller_->controlCenterChanged(true, cc);
  EXPECT_TRUE(controller_->waitingForPellior());
  EXPECT_EQ(logLines("hud: cc-open — waiting ≤250ms for pellior layout").size(), 1u);
  scheduler_.advanceBy(100ms);
  controller_->controlCenterChanged(false, std::nullopt);
  scheduler_.advanceBy(1s);
  EXPECT_FALSE(hud_->isVisible());
  EXPECT_EQ(logLines("hud: cc-closed while waiting for pellior — show cancelled").size(), 1u);

  // The sibling speaks up during the wait: the HUD shows at once, beside its HUD.
  ASSERT_TRUE(mac_.world.setControlCenterOpen(true));
  for (int i = 0; i < 40 && !controller_->waitingForPellior(); ++i) {
    scheduler_.advanceBy(50ms);  // until the watcher sees it and the wait begins
  }
  ASSERT_TRUE(controller_->waitingForPellior());
  bus_->received({{"app", std::string("pellior")},
                  {"visible", true},
                  {"x", 400.0},
                  {"y", 600.0},
                  {"w", 500.0},
                  {"h", 150.0}});
  EXPECT_FALSE(controller_->waitingForPellior());
  ASSERT_TRUE(hud_->isVisible());
  EXPECT_TRUE(hud_->peerFrame());
}

TEST_F(MirrorControllerTest, ControlCenterClosedBeforeTheFirstRefreshEndsShowsNothing) {
  start();
  // The watcher never saw Control Center open, so it is closed when the refresh ends.
  controller_->controlCenterChanged(true, GlobalRect(1160, 0, 344, 620));
  scheduler_.runUntilIdle();
  EXPECT_FALSE(hud_->isVisible());
  EXPECT_EQ(logLines("hud: show skipped — CC closed during refresh (").size(), 1u);
  EXPECT_TRUE(events_.empty());
}

TEST_F(MirrorControllerTest, TenThousandOpeningsLeaveNothingBehind) {
  start();
  refresh();
  controller_->toggleHUD("hotkey");
  controller_->toggleHUD("hotkey");
  scheduler_.advanceBy(1s);
  const auto owners = model().use_count();
  const auto monitors = mac_.events.liveMonitors();
  const auto windows = mac_.world.windows().size();
  const auto pending = scheduler_.pendingTaskCount();
  for (int i = 0; i < 10000; ++i) {
    controller_->toggleHUD("hotkey");
    scheduler_.advanceBy(600ms);
    controller_->toggleHUD("hotkey");
  }
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.world.windows().size(), windows);
  EXPECT_EQ(scheduler_.pendingTaskCount(), pending);
  EXPECT_EQ(mac_.events.liveMonitors(), monitors);
  EXPECT_FALSE(controller_->hasTimer());
  EXPECT_EQ(window_->view().cellRects().size(), model()->tiles()->size());
  EXPECT_EQ(model().use_count(), owners);
}

}  // namespace
}  // namespace lumarin
