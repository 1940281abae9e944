#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <filesystem>
#include <functional>
#include <vector>

#include "SettingsTestSupport.h"
#include "cloud/CloudAccount.h"
#include "cloud/CloudConfig.h"
#include "cloud/CloudSync.h"
#include "diagnostics/TesterMode.h"
#include "l10n/AppLanguage.h"
#include "platform/sim/SimHttpClient.h"
#include "platform/sim/SimSecretStore.h"
#include "settings/AppsTab.h"
#include "settings/HUDSettingsSection.h"
#include "settings/SettingsComponents.h"
#include "settings/SettingsTabs.h"
#include "ui/ConsentSwitch.h"
#include "ui/PulldownPill.h"
#include "ui/SettingsDropdown.h"

namespace lumarin::test {
namespace {

class SettingsWindowTest : public SettingsFixture {};

int settingsWindows() {
  int count = 0;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    count += dynamic_cast<SettingsWindow*>(top) != nullptr && top->isVisible() ? 1 : 0;
  }
  return count;
}

TEST_F(SettingsWindowTest, OpeningForATabSwitchesTheOneWindowAndClosingOnlyHidesIt) {
  open();
  SettingsWindow* window = controller().window();
  EXPECT_EQ(controller().view()->shownTab(), SettingsTab::general);
  EXPECT_EQ(window->size(), QSize(760, 520));
  EXPECT_EQ(window->minimumSize(), QSize(720, 480));

  open(SettingsTab::apps);
  EXPECT_EQ(controller().window(), window);
  EXPECT_EQ(settingsWindows(), 1);
  EXPECT_EQ(controller().view()->shownTab(), SettingsTab::apps);
  for (SettingsSidebarRow* row : controller().view()->sidebarRows()) {
    EXPECT_EQ(row->isChecked(), row->tab() == SettingsTab::apps);
  }

  // A sidebar click selects; the window reopens on the tab shown last.
  click(named("About"));
  EXPECT_EQ(*controller().router().selectedTab(), SettingsTab::about);
  window->close();
  EXPECT_FALSE(controller().isVisible());
  open();
  EXPECT_EQ(controller().window(), window);
  EXPECT_EQ(controller().view()->shownTab(), SettingsTab::about);
}

int settingsWindowsMade() {
  int count = 0;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    count += dynamic_cast<SettingsWindow*>(top) != nullptr ? 1 : 0;
  }
  return count;
}

// A closed window keeps its widgets for a while, then gives them up; the next opening makes
// the window again as the user left it.
TEST_F(SettingsWindowTest, AWindowClosedForAWhileIsReleasedAndReopensAsItWas) {
  int released = 0;
  controller().setOnReleased([&released] { ++released; });
  open();
  auto* launch = named<ConsentSwitch>("Launch at login");
  ASSERT_NE(launch, nullptr);
  click(launch);
  ASSERT_TRUE(*settings_.launchAtLogin());
  open(SettingsTab::apps);
  SettingsWindow* window = controller().window();
  window->resize(800, 600);
  window->move(120, 90);
  settle();

  // Reopened just before the delay is up: the same window, and no release pending.
  window->close();
  scheduler_.advanceBy(SettingsWindowController::kReleaseDelay - std::chrono::seconds(1));
  open();
  EXPECT_EQ(controller().window(), window);
  scheduler_.advanceBy(SettingsWindowController::kReleaseDelay * 3);
  settle();
  EXPECT_EQ(controller().window(), window) << "an open window is never released";
  EXPECT_EQ(released, 0);

  window->close();
  scheduler_.advanceBy(SettingsWindowController::kReleaseDelay - std::chrono::milliseconds(1));
  EXPECT_EQ(controller().window(), window);
  scheduler_.advanceBy(std::chrono::milliseconds(1));
  settle();
  EXPECT_EQ(controller().window(), nullptr);
  EXPECT_EQ(controller().view(), nullptr);
  EXPECT_EQ(settingsWindowsMade(), 0);
  EXPECT_EQ(released, 1);
  EXPECT_FALSE(controller().isVisible());

  // Made again: the tab, size and place it had, and the settings as they are.
  open();
  ASSERT_NE(controller().window(), nullptr);
  EXPECT_EQ(settingsWindowsMade(), 1);
  EXPECT_EQ(controller().view()->shownTab(), SettingsTab::apps);
  EXPECT_EQ(controller().window()->size(), QSize(800, 600));
  EXPECT_EQ(controller().window()->pos(), QPoint(120, 90));
  open(SettingsTab::general);
  launch = named<ConsentSwitch>("Launch at login");
  ASSERT_NE(launch, nullptr);
  EXPECT_TRUE(launch->isChecked());
  // It still works: the switch writes, and a change made elsewhere shows.
  click(launch);
  EXPECT_FALSE(*settings_.launchAtLogin());
  auto* follow = named<ConsentSwitch>("Show with Control Center");
  ASSERT_NE(follow, nullptr);
  const bool before = *settings_.mirrorHUDFollowsControlCenter();
  settings_.setMirrorHUDFollowsControlCenter(!before);
  EXPECT_EQ(follow->isChecked(), !before);
}

TEST_F(SettingsWindowTest, SwitchesWriteTheirSettingsAndFollowChangesMadeElsewhere) {
  open();
  auto* launch = named<ConsentSwitch>("Launch at login");
  ASSERT_NE(launch, nullptr);
  EXPECT_FALSE(launch->isChecked());
  click(launch);
  EXPECT_TRUE(*settings_.launchAtLogin());
  EXPECT_TRUE(loginItems_.isRegistered());

  auto* follow = named<ConsentSwitch>("Show with Control Center");
  ASSERT_NE(follow, nullptr);
  const bool before = *settings_.mirrorHUDFollowsControlCenter();
  click(follow);
  EXPECT_EQ(*settings_.mirrorHUDFollowsControlCenter(), !before);
  // Changed from the menu: the switch follows.
  settings_.setMirrorHUDFollowsControlCenter(before);
  EXPECT_EQ(follow->isChecked(), before);

  open(SettingsTab::about);
  auto* crash = named<ConsentSwitch>("Share crash reports");
  auto* improve = named<ConsentSwitch>("Help improve Lumarin");
  ASSERT_NE(crash, nullptr);
  ASSERT_NE(improve, nullptr);
  const bool crashBefore = *settings_.crashReportingEnabled();
  click(crash);
  EXPECT_EQ(*settings_.crashReportingEnabled(), !crashBefore);
  settings_.setImproveDataSharing(true);
  EXPECT_TRUE(improve->isChecked());
  click(improve);
  EXPECT_FALSE(*settings_.improveDataSharing());
  // Without a feed there is no update to check for.
  EXPECT_EQ(named("Check now"), nullptr);
}

TEST_F(SettingsWindowTest, HUDSectionShowsNowAndDropsTheRecordingRowOnceAllowed) {
  mac_.world.setScreenRecordingGranted(false);
  open();
  auto* general = dynamic_cast<GeneralTab*>(controller().view()->page());
  ASSERT_NE(general, nullptr);
  QWidget* captureRow = general->hudSection()->captureRow();
  EXPECT_TRUE(captureRow->isVisible());
  KeyCapLabel* keyCap = nullptr;
  for (QWidget* widget : controller().window()->findChildren<QWidget*>()) {
    keyCap = keyCap != nullptr ? keyCap : dynamic_cast<KeyCapLabel*>(widget);
  }
  ASSERT_NE(keyCap, nullptr);
  EXPECT_EQ(keyCap->text(), QStringLiteral("⌃⌥⌘M"));
  EXPECT_EQ(keyCap->height(), 28);

  click(named("Show now"));
  click(named("Show now"));
  EXPECT_EQ(hudToggles_, (std::vector<std::string>{"menu", "menu"}));
  click(named("Screen Recording (optional): Allow"));
  EXPECT_EQ(captureRequests_, 1);

  mac_.world.setScreenRecordingGranted(true);
  scheduler_.advanceBy(seconds(1.5));
  settle();
  EXPECT_FALSE(captureRow->isVisible());

  // The timer runs only while the tab is on screen.
  EXPECT_TRUE(general->isPolling());
  controller().close();
  EXPECT_FALSE(general->isPolling());
}

TEST_F(SettingsWindowTest, PermissionsTabFollowsTheGrantsAndAsksForThem) {
  mac_.world.setAccessibilityTrusted(false);
  mac_.world.setScreenRecordingGranted(false);
  open(SettingsTab::permissions);
  click(named("Accessibility: Allow"));
  EXPECT_EQ(accessibilityRequests_, 1);
  click(named("Screen Recording (optional): Allow"));
  EXPECT_EQ(captureRequests_, 1);

  mac_.world.setAccessibilityTrusted(true);
  scheduler_.advanceBy(seconds(1.5));
  settle();
  EXPECT_EQ(named("Accessibility: Allow"), nullptr);
  EXPECT_NE(named("Screen Recording (optional): Allow"), nullptr);
}

TEST_F(SettingsWindowTest, PickingALanguageStoresItAndRedrawsTheWindowInIt) {
  open();
  ASSERT_NE(named("Language"), nullptr);
  click(named("Language"));
  ASSERT_TRUE(pressControlNamed(QStringLiteral("Deutsch")).has_value());
  scheduler_.runUntilIdle();
  settle();
  EXPECT_EQ(settings_.languageCode()->value_or(""), "de");
  EXPECT_NE(named("Allgemein"), nullptr) << "the sidebar in German";
  EXPECT_NE(named("Bei der Anmeldung öffnen"), nullptr);
}

TEST_F(SettingsWindowTest, KeyboardReachesEveryTabAndControl) {
  open();
  QWidget* window = controller().window();
  // Tab walks the sidebar rows in order; Return on one selects it.
  std::vector<QString> reached;
  for (int i = 0; i < 40 && reached.size() < 12; ++i) {
    QTest::keyClick(window, Qt::Key_Tab);
    if (QWidget* focus = QApplication::focusWidget()) {
      reached.push_back(focus->accessibleName());
    }
  }
  for (const char* name : {"General", "Permissions", "Apps", "Account", "About", "Launch at login",
                           "Language", "Show with Control Center", "Show now"}) {
    EXPECT_NE(std::find(reached.begin(), reached.end(), QString::fromUtf8(name)), reached.end())
        << name;
  }
  SettingsSidebarRow* about = controller().view()->sidebarRows().back();
  about->setFocus();
  QTest::keyClick(about, Qt::Key_Return);
  settle();
  EXPECT_EQ(controller().view()->shownTab(), SettingsTab::about);

  open(SettingsTab::general);
  auto* launch = named<ConsentSwitch>("Launch at login");
  launch->setFocus();
  QTest::keyClick(launch, Qt::Key_Space);
  EXPECT_TRUE(*settings_.launchAtLogin());
}

// LUMARIN_UI_SNAPSHOT: the first opening writes every tab, top and bottom, and the HUD once.
TEST_F(SettingsWindowTest, SnapshotRunWritesEveryTabOnceOnTheFirstOpening) {
  const auto directory = dir_.path() / "ui" / "shots";
  process_.env["LUMARIN_UI_SNAPSHOT"] = directory.string();
  int huds = 0;
  controller_ = std::make_unique<SettingsWindowController>(
      SettingsWindowController::Dependencies{context(), process_, nullptr, std::nullopt, nullptr,
                                             [&huds](const std::filesystem::path&) { ++huds; }});
  open(SettingsTab::account);
  for (const char* tab : {"general", "permissions", "apps", "account", "about"}) {
    EXPECT_TRUE(std::filesystem::exists(directory / ("settings-" + std::string(tab) + ".png")))
        << tab;
    EXPECT_TRUE(
        std::filesystem::exists(directory / ("settings-" + std::string(tab) + "-bottom.png")))
        << tab;
  }
  EXPECT_EQ(huds, 1);
  // The user's tab is back, and a second opening takes no pictures.
  EXPECT_EQ(controller().view()->shownTab(), SettingsTab::account);
  std::filesystem::remove_all(directory);
  controller().close();
  open();
  EXPECT_FALSE(std::filesystem::exists(directory));
  EXPECT_EQ(huds, 1);
}

// Every label of `tabs` fits its room in every language and both appearances: a word-wrapped
// label is as tall as its text needs, any other label as wide.
void expectNoTextCut(L10n& l10n, const std::function<SettingsContext()>& context,
                     const ProcessInfo& process, const std::vector<SettingsTab>& tabs) {
  const auto settle = [] {
    for (int i = 0; i < 3; ++i) {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      QApplication::processEvents();
    }
  };
  for (AppLanguage language : kAllLanguages) {
    l10n.apply(std::string(languageCode(language)));
    for (Appearance appearance : {Appearance::light, Appearance::dark}) {
      SettingsWindowController pictures(SettingsWindowController::Dependencies{
          context(), process, nullptr, appearance, nullptr, {}});
      pictures.show();
      settle();
      for (SettingsTab tab : tabs) {
        pictures.router().select(tab);
        settle();
        for (QLabel* label : pictures.window()->findChildren<QLabel*>()) {
          if (!label->isVisible() || label->text().isEmpty()) {
            continue;
          }
          const std::string where = std::string(languageCode(language)) + "/" +
                                    std::string(settingsTabName(tab)) + ": " +
                                    label->text().toStdString();
          if (label->wordWrap()) {
            EXPECT_GE(label->height(), label->heightForWidth(label->width())) << where;
          } else {
            EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()))
                << where;
          }
        }
        for (auto* row : pictures.view()->sidebarRows()) {
          EXPECT_GE(row->titleRoom(),
                    QFontMetrics(row->fittedFont()).horizontalAdvance(row->text()))
              << languageCode(language) << " sidebar: " << row->text().toStdString();
        }
        for (auto* button : pictures.window()->findChildren<QAbstractButton*>()) {
          if (button->isVisible() && !button->text().isEmpty() &&
              dynamic_cast<SettingsSidebarRow*>(button) == nullptr &&
              dynamic_cast<PulldownPill*>(button) == nullptr) {
            EXPECT_GE(button->width(), button->sizeHint().width())
                << languageCode(language) << " button: " << button->text().toStdString();
          }
        }
      }
      pictures.close();
    }
  }
}

TEST_F(SettingsWindowTest, NoTextIsCutInAnyLanguage) {
  mac_.world.setAccessibilityTrusted(false);
  mac_.world.setScreenRecordingGranted(false);
  settings_.setMonitoredApps({});
  expectNoTextCut(l10n_, [this] { return context(); }, process_,
                  {SettingsTab::general, SettingsTab::permissions, SettingsTab::apps,
                   SettingsTab::account, SettingsTab::about});
}

}  // namespace
}  // namespace lumarin::test

namespace lumarin::test {
namespace {

// The account tab and the tester gesture, with an account that talks to a scripted service.
class SettingsAccountTest : public SettingsFixture {
 protected:
  SettingsAccountTest() {
    account_ = account.get();
    sync_ = sync.get();
    tester_ = tester.get();
  }
  ~SettingsAccountTest() override { controller_.reset(); }

  SimHttpClient http;
  SimSecretStore secrets;
  std::unique_ptr<CloudAccount> account = std::make_unique<CloudAccount>(CloudAccount::Dependencies{
      http, secrets, mac_.workspace, scheduler_, log_, CloudConfig{"https://svc.test/"}});
  std::unique_ptr<CloudSync> sync = std::make_unique<CloudSync>(CloudSync::Dependencies{
      settings_, *account, defaults_, http, scheduler_, log_, CloudConfig{"https://svc.test/"}});
  std::shared_ptr<TesterMode> tester = std::make_shared<TesterMode>(
      TesterMode::Dependencies{defaults_, scheduler_, log_, systemLog_, http, bundle_, process_,
                               "https://svc.test/", dir_.path().string()});
};

TEST_F(SettingsAccountTest, SignInSyncAndSignOutFromTheAccountTab) {
  open(SettingsTab::account);
  ASSERT_EQ(named("Sign Out"), nullptr);
  click(named("Sign In…"));
  ASSERT_TRUE(account->pendingState().has_value()) << "the browser was sent to sign in";
  ASSERT_TRUE(account->handleCallback("lumarin://auth?code=c&state=" + *account->pendingState()));
  http.answerNext({200, R"({"token":"tok-1","email":"ana@example.com","tier":"pro"})"});
  scheduler_.runUntilIdle();
  settle();

  QLabel* email = nullptr;
  for (QLabel* label : controller().window()->findChildren<QLabel*>()) {
    email = label->isVisible() && label->text() == "ana@example.com" ? label : email;
  }
  EXPECT_NE(email, nullptr) << "the signed-in e-mail is shown";
  auto* syncSwitch = named<ConsentSwitch>("Sync settings");
  ASSERT_NE(syncSwitch, nullptr);
  EXPECT_EQ(syncSwitch->isChecked(), *sync->enabled());
  const bool before = *sync->enabled();
  click(syncSwitch);
  EXPECT_EQ(*sync->enabled(), !before);

  click(named("Sign Out"));
  scheduler_.runUntilIdle();
  settle();
  EXPECT_FALSE(account->state()->signedIn);
  EXPECT_NE(named("Sign In…"), nullptr);
  EXPECT_EQ(named("Sync settings"), nullptr);
  // The switch that went with the signed-in card no longer follows the sync switch.
  sync->setEnabled(!*sync->enabled());
  settle();
}

TEST_F(SettingsAccountTest, EightQuickTapsOnTheIconSwitchTesterModeAndRingIt) {
  open();
  TesterIconView* icon = controller().view()->testerIcon();
  for (int i = 0; i < 7; ++i) {
    QTest::mouseClick(icon, Qt::LeftButton);
  }
  EXPECT_FALSE(*tester->enabled());
  EXPECT_FALSE(icon->ringShown());
  QTest::mouseClick(icon, Qt::LeftButton);
  EXPECT_TRUE(*tester->enabled());
  EXPECT_TRUE(icon->ringShown());
  // A pause longer than two seconds starts the count again.
  for (int i = 0; i < 4; ++i) {
    QTest::mouseClick(icon, Qt::LeftButton);
  }
  scheduler_.advanceBy(seconds(3));
  for (int i = 0; i < 7; ++i) {
    QTest::mouseClick(icon, Qt::LeftButton);
  }
  EXPECT_TRUE(*tester->enabled());
  QTest::mouseClick(icon, Qt::LeftButton);
  EXPECT_FALSE(*tester->enabled());
}

}  // namespace
}  // namespace lumarin::test

namespace lumarin::test {
namespace {

// The settings window on a platform that has neither permission, as the freedesktop desktop
// hands it over: the platform's two ports are null. The simulated Mac behind the test still
// lacks both permissions, so anything that asked it anyway would show an "Allow" button.
class SettingsWithoutPermissionsTest : public SettingsFixture {
 protected:
  SettingsWithoutPermissionsTest() {
    platform_.accessibility = nullptr;
    platform_.screenCapture = nullptr;
    mac_.world.setAccessibilityTrusted(false);
    mac_.world.setScreenRecordingGranted(false);
  }

  // The visible buttons of the window that ask for something ("…: Allow", "Open System
  // Settings").
  std::vector<QString> requestButtons() {
    std::vector<QString> names;
    for (auto* button : controller().window()->findChildren<QAbstractButton*>()) {
      const QString name = button->accessibleName();
      if (button->isVisible() &&
          (name.endsWith(QStringLiteral(": Allow")) || name == QStringLiteral("Allow") ||
           name == QStringLiteral("Open System Settings"))) {
        names.push_back(name);
      }
    }
    return names;
  }
  bool showsLabel(const QString& text) {
    for (QLabel* label : controller().window()->findChildren<QLabel*>()) {
      if (label->isVisible() && label->text() == text) {
        return true;
      }
    }
    return false;
  }
};

TEST_F(SettingsWithoutPermissionsTest, PermissionsTabStaysAndSaysWhyNothingNeedsAllowing) {
  EXPECT_EQ(
      makeSettingsContext(platform_, settings_, l10n_, icons_, monitor_->items()).accessibility,
      nullptr);
  open(SettingsTab::permissions);
  ASSERT_NE(named("Permissions"), nullptr) << "the sidebar keeps the entry";
  auto* tab = dynamic_cast<PermissionsTab*>(controller().view()->page());
  ASSERT_NE(tab, nullptr);
  ASSERT_NE(tab->noPermissionsCard(), nullptr);
  EXPECT_TRUE(tab->noPermissionsCard()->isVisible());
  EXPECT_TRUE(showsLabel(QStringLiteral("No permissions needed")));
  EXPECT_TRUE(showsLabel(QString::fromStdString(l10n_.string("perm.noneBody"))));
  // Neither the rows, nor the footer about the system's dialog, nor the usual subtitle.
  EXPECT_EQ(requestButtons(), std::vector<QString>{});
  EXPECT_FALSE(showsLabel(QStringLiteral("Allowed")));
  EXPECT_FALSE(showsLabel(QString::fromStdString(l10n_.string("perm.footer"))));
  EXPECT_FALSE(showsLabel(QStringLiteral("Accessibility and Screen Recording")));
  EXPECT_TRUE(showsLabel(QStringLiteral("None needed on this desktop")));

  // Nothing to watch: no timer while it is on screen, and time changes nothing.
  EXPECT_FALSE(tab->isPolling());
  scheduler_.advanceBy(seconds(3));
  settle();
  EXPECT_TRUE(tab->noPermissionsCard()->isVisible());
  EXPECT_EQ(accessibilityRequests_ + captureRequests_, 0);

  // The other tabs keep their own subtitles.
  open(SettingsTab::general);
  EXPECT_TRUE(showsLabel(QString::fromStdString(l10n_.string("sub.general"))));
}

TEST_F(SettingsWithoutPermissionsTest, HUDSectionHasNoRecordingRowAndTheTabDoesNotPoll) {
  open();
  auto* general = dynamic_cast<GeneralTab*>(controller().view()->page());
  ASSERT_NE(general, nullptr);
  EXPECT_EQ(general->hudSection()->captureRow(), nullptr);
  EXPECT_TRUE(general->hudSection()->captureGranted());
  EXPECT_EQ(named("Screen Recording (optional): Allow"), nullptr);
  EXPECT_FALSE(showsLabel(QString::fromStdString(l10n_.string("hud.captureNote"))));
  EXPECT_EQ(requestButtons(), std::vector<QString>{});
  // The rest of the section works as before.
  click(named("Show now"));
  EXPECT_EQ(hudToggles_, std::vector<std::string>{"menu"});
  EXPECT_FALSE(general->isPolling());
  general->hudSection()->poll();  // a stray tick reads nothing
  EXPECT_EQ(general->hudSection()->captureRow(), nullptr);
}

TEST_F(SettingsWithoutPermissionsTest, AppsTabHasNoPermissionCard) {
  open(SettingsTab::apps);
  auto* tab = dynamic_cast<AppsTab*>(controller().view()->page());
  ASSERT_NE(tab, nullptr);
  EXPECT_EQ(tab->permissionCard(), nullptr);
  EXPECT_EQ(requestButtons(), std::vector<QString>{});
  EXPECT_FALSE(showsLabel(QString::fromStdString(l10n_.string("perm.title"))));
}

// The card's words and the new subtitle fit in every language, light and dark.
TEST_F(SettingsWithoutPermissionsTest, NoTextIsCutInAnyLanguage) {
  expectNoTextCut(l10n_, [this] { return context(); }, process_,
                  {SettingsTab::general, SettingsTab::permissions, SettingsTab::apps});
}

}  // namespace
}  // namespace lumarin::test
