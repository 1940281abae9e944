// The simulator window on a real X display (Xvfb) with real input: clicks on the drawn menu
// bar reach the program's item and its menu opens as a real menu; choosing in it and the side
// panel's controls change the simulated Mac as a scenario would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "app/AppDelegate.h"
#include "settings/SettingsWindowController.h"
#include "simulator/SimulatorWindow.h"
#include "support/DesktopFixture.h"
#include "ui/ControlDriver.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

// Lets the X server's answers in until `window` is on screen: the loop blocks on the server's
// socket, it does not sleep (ctest's timeout bounds a server that never answers).
bool exposed(QWidget* window) {
  while (window->windowHandle() == nullptr || !window->windowHandle()->isExposed()) {
    if (!window->isVisible()) {
      return false;
    }
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

constexpr const char* kScenario = R"({
  "apps": [
    {"bundleID": "com.apple.mail", "name": "Mail", "running": true},
    {"bundleID": "com.apple.MobileSMS", "name": "Messages", "running": true}
  ],
  "dock": [{"app": "com.apple.mail"}, {"app": "com.apple.MobileSMS"}]})";

class SimulatorWindowTest : public test::DesktopFixture {
 protected:
  void SetUp() override {
    load(kScenario);
    delegate_ = std::make_shared<AppDelegate>(
        platform_, log_,
        AppServices{.settings = settings_,
                    .l10n = l10n_,
                    .dockMonitor = monitor_,
                    .appIcons = icons_,
                    .scanner = &scanner_,
                    .revision = revision_,
                    .showSettings = [this](std::optional<SettingsTab> tab) {
                      settingsWindow().show(tab);
                    }});
    delegate_->applicationDidFinishLaunching();
    scheduler_.advanceBy(1s);
    window_ = std::make_unique<sim::SimulatorWindow>(sim::SimulatorWindow::Dependencies{
        mac_, {}, [this](double rate) { timeRates_.push_back(rate); }, 1.0});
    window_->show();
    ASSERT_TRUE(exposed(window_.get()));
  }

  // The program's items as the status bar has them, by autosave name.
  json::Json item(const std::string& suffix) const {
    for (const auto& entry : mac_.statusBar.statusItemsJson()) {
      const std::string name = entry["autosaveName"];
      if (name.size() >= suffix.size() &&
          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return json::Json::parse(entry.dump());
      }
    }
    return json::Json();
  }
  QPoint onDesktop(const json::Json& entry) const {
    const auto& f = entry["frame"];
    return window_
        ->desktopPoint(GlobalPoint{f[0].get<double>() + f[2].get<double>() / 2,
                                   f[1].get<double>() + f[3].get<double>() / 2})
        .toPoint();
  }
  // Lets the program and the window take their turns: virtual time for the program, the event
  // loop for the window.
  void settle(std::chrono::milliseconds virtualTime = 0ms) {
    for (int i = 0; i < 5; ++i) {
      scheduler_.runUntilIdle();
      QApplication::processEvents();
    }
    scheduler_.advanceBy(virtualTime);
    QApplication::processEvents();
  }
  template <typename T>
  T* control(const QString& name) const {
    for (T* widget : window_->findChildren<T*>()) {
      if (widget->accessibleName() == name) {
        return widget;
      }
    }
    return nullptr;
  }

  // The real settings window, made on first use as the program makes it.
  SettingsWindowController& settingsWindow() {
    if (!settingsController_) {
      settingsController_ = std::make_unique<SettingsWindowController>(
          SettingsWindowController::Dependencies{SettingsContext{settings_,
                                                                 l10n_,
                                                                 scheduler_,
                                                                 &mac_.accessibility,
                                                                 &mac_.screenCapture,
                                                                 mac_.workspace,
                                                                 mac_.panels,
                                                                 mac_.appShell,
                                                                 bundle_,
                                                                 icons_,
                                                                 monitor_->items(),
                                                                 "jp.kestova.lumarin",
                                                                 nullptr,
                                                                 nullptr,
                                                                 nullptr,
                                                                 {},
                                                                 {},
                                                                 {},
                                                                 {},
                                                                 {}},
                                                 process_,
                                                 nullptr,
                                                 std::nullopt,
                                                 nullptr,
                                                 {}});
    }
    return *settingsController_;
  }
  QMenu* chooseFromOwnMenu(const QString& title) {
    QTest::mouseClick(window_->desktop(), Qt::LeftButton, {}, onDesktop(item("ControlItem.Main")));
    settle();
    QMenu* menu = window_->openMenu();
    if (menu == nullptr) {
      return nullptr;
    }
    for (QAction* action : menu->actions()) {
      if (action->text() == title) {
        QTest::mouseMove(menu, menu->actionGeometry(action).center());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        settle();
        return menu;
      }
    }
    return nullptr;
  }

  std::shared_ptr<AppDelegate> delegate_;
  std::unique_ptr<SettingsWindowController> settingsController_;
  std::unique_ptr<sim::SimulatorWindow> window_;
  std::vector<double> timeRates_;
};

TEST_F(SimulatorWindowTest, AClickOnTheDrawnItemOpensItsMenuAndChoosingAddsAnApp) {
  const json::Json own = item("ControlItem.Main");
  ASSERT_TRUE(own.is_object()) << mac_.statusBar.statusItemsJson().dump();
  QTest::mouseClick(window_->desktop(), Qt::LeftButton, {}, onDesktop(own));
  settle();
  QMenu* menu = window_->openMenu();
  ASSERT_NE(menu, nullptr) << "no menu at the program's item";
  ASSERT_EQ(mac_.statusBar.shownMenus().size(), 1u);

  QAction* addApp = nullptr;
  for (QAction* action : menu->actions()) {
    if (action->text() == "Add App") {
      addApp = action;
    }
  }
  ASSERT_NE(addApp, nullptr);
  ASSERT_NE(addApp->menu(), nullptr);
  // Onto "Add App", and into its submenu with the arrow key.
  QTest::mouseMove(menu, menu->actionGeometry(addApp).center());
  menu->setActiveAction(addApp);
  QTest::keyClick(menu, Qt::Key_Right);
  QMenu* apps = addApp->menu();
  ASSERT_TRUE(exposed(apps)) << menu->isVisible();
  QAction* mail = nullptr;
  for (QAction* action : apps->actions()) {
    if (action->text() == "Mail") {
      mail = action;
    }
  }
  ASSERT_NE(mail, nullptr);
  QTest::mouseMove(apps, apps->actionGeometry(mail).center());
  QTest::mouseClick(apps, Qt::LeftButton, {}, apps->actionGeometry(mail).center());
  settle(1s);
  EXPECT_EQ(mac_.statusBar.shownMenus().back().outcome, "chose");
  EXPECT_TRUE(item("com.apple.mail").is_object()) << mac_.statusBar.statusItemsJson().dump();
  EXPECT_EQ(window_->openMenu(), nullptr);

  // A click on the drawn menu bar away from the menu closes a menu without a choice.
  QTest::mouseClick(window_->desktop(), Qt::LeftButton, {}, onDesktop(item("ControlItem.Main")));
  settle();
  ASSERT_NE(window_->openMenu(), nullptr);
  window_->openMenu()->hide();
  settle();
  EXPECT_EQ(mac_.statusBar.shownMenus().back().outcome, "closed");
  EXPECT_FALSE(mac_.statusBar.menuOpen());
}

TEST_F(SimulatorWindowTest, ABadgeSetFromTheSidePanelShowsOnTheItemWithinASecond) {
  settings_.add("com.apple.mail", "Mail");
  settle(1s);
  ASSERT_TRUE(item("com.apple.mail").is_object());
  auto* apps = control<QComboBox>("App");
  auto* badge = control<QLineEdit>("Badge");
  auto* set = control<QPushButton>("Set badge");
  ASSERT_TRUE(apps && badge && set);
  apps->setCurrentIndex(apps->findData(QStringLiteral("com.apple.mail")));
  QTest::mouseClick(badge, Qt::LeftButton);
  QTest::keyClicks(badge, "4");
  QTest::mouseClick(set, Qt::LeftButton);
  settle(1s);
  EXPECT_EQ(item("com.apple.mail")["toolTip"], "Mail — 4 notifications");

  // Through the same path: the accessibility switch takes the trust away.
  auto* access = control<QAbstractButton>("Accessibility access");
  ASSERT_NE(access, nullptr);
  QTest::mouseClick(access, Qt::LeftButton, {}, QPoint(8, access->height() / 2));
  settle();
  EXPECT_FALSE(mac_.world.accessibilityTrusted());
}

// "Settings…" in the drawn menu opens the real settings window on this display; a click in it
// adds a Dock app, whose item the menu bar then shows.
TEST_F(SimulatorWindowTest, SettingsFromTheDrawnMenuOpenTheRealWindow) {
  ASSERT_NE(chooseFromOwnMenu(QStringLiteral("Settings…")), nullptr);
  SettingsWindow* window = settingsWindow().window();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(exposed(window));
  QWidget* apps = findControlNamed(window, QStringLiteral("Apps"));
  ASSERT_NE(apps, nullptr);
  QTest::mouseClick(apps, Qt::LeftButton, {}, apps->rect().center());
  settle();
  EXPECT_EQ(settingsWindow().view()->shownTab(), SettingsTab::apps);
  QWidget* addApp = findControlNamed(window, QStringLiteral("Add App"));
  ASSERT_NE(addApp, nullptr);
  QTest::mouseClick(addApp, Qt::LeftButton, {}, addApp->rect().center());
  settle();
  QMenu* menu = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    auto* candidate = qobject_cast<QMenu*>(top);
    menu = candidate != nullptr && candidate->isVisible() ? candidate : menu;
  }
  ASSERT_NE(menu, nullptr);
  ASSERT_TRUE(exposed(menu));
  QAction* messages = nullptr;
  for (QAction* action : menu->actions()) {
    messages = action->text() == QStringLiteral("Messages") ? action : messages;
  }
  ASSERT_NE(messages, nullptr);
  QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(messages).center());
  settle(1s);
  EXPECT_TRUE(item("com.apple.MobileSMS").is_object()) << mac_.statusBar.statusItemsJson().dump();
  window->close();
  settle();
}

TEST_F(SimulatorWindowTest, TheSpeedChoiceSetsTheRateOfTheWorldsTime) {
  auto* speed = control<QComboBox>("Speed");
  ASSERT_NE(speed, nullptr);
  EXPECT_TRUE(speed->isEnabled());
  ASSERT_EQ(speed->count(), 4);
  EXPECT_EQ(speed->currentText(), QStringLiteral("1×"));
  EXPECT_EQ(speed->itemText(3), QStringLiteral("60×"));
  // With the arrow keys, as a person steps through the speeds: 2×, then 10×.
  speed->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(speed, Qt::Key_Down);
  QTest::keyClick(speed, Qt::Key_Down);
  settle();
  EXPECT_EQ(speed->currentText(), QStringLiteral("10×"));
  EXPECT_EQ(timeRates_, (std::vector<double>{2, 10}));
  speed->setCurrentIndex(0);
  EXPECT_EQ(timeRates_, (std::vector<double>{2, 10, 1}));
}

}  // namespace
}  // namespace lumarin
