#include <gtest/gtest.h>

#include <QLabel>

#include "OnboardingTestSupport.h"
#include "ui/ConsentSwitch.h"

namespace lumarin::test {
namespace {

class OnboardingPagerTest : public OnboardingFixture {};

TEST_F(OnboardingPagerTest, EachPageHasItsButtonsAndTitles) {
  mac_.world.setAccessibilityTrusted(true);
  showAndActivate(false);
  OKRootView* v = view();
  ASSERT_EQ(v->count(), 4);
  EXPECT_EQ(v->index(), 0);
  EXPECT_FALSE(v->backButton()->isVisible());
  EXPECT_FALSE(v->secondaryButton()->isVisible());
  EXPECT_EQ(v->primaryButton()->titleText(), "Continue");
  EXPECT_EQ(window()->width(), 360);

  click(v->primaryButton());
  EXPECT_EQ(v->index(), 1);
  EXPECT_EQ(v->currentStep().kind, OKStep::Kind::permissions);
  EXPECT_TRUE(v->backButton()->isVisible());
  EXPECT_EQ(v->backButton()->titleText(), "Back");
  EXPECT_TRUE(v->secondaryButton()->isVisible());
  EXPECT_EQ(v->secondaryButton()->titleText(), "Skip for now");
  EXPECT_EQ(v->primaryButton()->titleText(), "Continue");

  click(v->primaryButton());
  EXPECT_EQ(v->currentStep().kind, OKStep::Kind::tutorial);
  EXPECT_FALSE(v->secondaryButton()->isVisible());
  EXPECT_EQ(v->primaryButton()->titleText(), "Continue");

  click(v->backButton());
  EXPECT_EQ(v->index(), 1);
  click(v->primaryButton());
  click(v->primaryButton());
  EXPECT_EQ(v->currentStep().kind, OKStep::Kind::consent);
  EXPECT_EQ(v->primaryButton()->titleText(), "Get Started");
  EXPECT_FALSE(*settings_.hasCompletedOnboarding());

  click(v->primaryButton());
  EXPECT_EQ(controller().kit(), nullptr);
  EXPECT_EQ(finished_, 1);
  EXPECT_TRUE(*settings_.hasCompletedOnboarding());
  EXPECT_EQ(defaults_.boolean("onboardingCompleted"), true);
}

TEST_F(OnboardingPagerTest, PermissionPageMovesOnBySelfOnceGranted) {
  showAndActivate(true);
  OKRootView* v = view();
  ASSERT_EQ(v->index(), 1);
  EXPECT_TRUE(v->waitingForGrant());
  EXPECT_TRUE(v->waitingLabel()->isVisible());
  EXPECT_EQ(v->waitingLabel()->text().toStdString(),
            "Waiting for permission — continues automatically once granted");
  EXPECT_NE(named(QStringLiteral("Allow — Accessibility (required)")), nullptr);

  scheduler_.advanceBy(seconds(5));
  EXPECT_EQ(v->index(), 1);
  EXPECT_EQ(v->tickCount(), 5);

  mac_.world.setAccessibilityTrusted(true);
  scheduler_.advanceBy(seconds(1));
  EXPECT_EQ(v->index(), 2);
  EXPECT_FALSE(v->waitingLabel()->isVisible());
}

TEST_F(OnboardingPagerTest, AllowButtonsAskForThePermissionsAndRowsFollowTheGrant) {
  showAndActivate(true);
  click(named<PillButton>(QStringLiteral("Allow — Accessibility (required)")));
  EXPECT_EQ(accessibilityRequests_, 1);
  // Screen recording uses the system request when no program request was given.
  mac_.world.setScreenRecordingGrantOnRequest(true);
  click(named<PillButton>(QStringLiteral("Allow — Screen Recording (optional)")));
  EXPECT_EQ(mac_.world.screenRecordingRequests(), 1);
  scheduler_.advanceBy(seconds(1));
  EXPECT_NE(named(QStringLiteral("Screen Recording (optional): Allowed")), nullptr);
  EXPECT_EQ(named(QStringLiteral("Allow — Screen Recording (optional)")), nullptr);
  EXPECT_EQ(view()->index(), 1);  // still waiting for accessibility
}

TEST_F(OnboardingPagerTest, AlreadyTrustedPermissionPageWaitsForContinue) {
  mac_.world.setAccessibilityTrusted(true);
  showAndActivate(true);
  OKRootView* v = view();
  ASSERT_EQ(v->index(), 1);
  EXPECT_TRUE(v->grantedOnArrival());
  EXPECT_FALSE(v->waitingLabel()->isVisible());
  EXPECT_NE(named(QStringLiteral("Accessibility (required): Allowed")), nullptr);
  scheduler_.advanceBy(seconds(10));
  EXPECT_EQ(v->index(), 1);
  click(v->primaryButton());
  EXPECT_EQ(v->index(), 2);
}

TEST_F(OnboardingPagerTest, SkippingLeavesThePermissionMissing) {
  showAndActivate(true);
  OKRootView* v = view();
  click(v->secondaryButton());
  EXPECT_EQ(v->index(), 2);
  EXPECT_FALSE(mac_.accessibility.isProcessTrusted());
  EXPECT_EQ(accessibilityRequests_, 0);
  scheduler_.advanceBy(seconds(3));
  EXPECT_EQ(v->index(), 2);
  // Going back waits again, and a grant then moves on.
  click(v->backButton());
  EXPECT_TRUE(v->waitingForGrant());
  mac_.world.setAccessibilityTrusted(true);
  scheduler_.advanceBy(seconds(1));
  EXPECT_EQ(v->index(), 2);
}

TEST_F(OnboardingPagerTest, ConsentSwitchesWriteTheSettings) {
  process_.env["KESTOVA_ONBOARDING_PAGE"] = "3";
  showAndActivate(false);
  auto* improve = named<ConsentSwitch>(QStringLiteral("Help improve Lumarin"));
  auto* crash = named<ConsentSwitch>(QStringLiteral("Share crash reports"));
  ASSERT_NE(improve, nullptr);
  ASSERT_NE(crash, nullptr);
  EXPECT_TRUE(improve->isChecked());
  QTest::mouseClick(improve, Qt::LeftButton);
  EXPECT_FALSE(*settings_.improveDataSharing());
  EXPECT_EQ(defaults_.boolean("improveDataSharing"), false);
  EXPECT_EQ(defaults_.boolean("crashReportingEnabled"), true);
  QTest::mouseClick(crash, Qt::LeftButton);
  EXPECT_FALSE(*settings_.crashReportingEnabled());
  EXPECT_EQ(defaults_.boolean("crashReportingEnabled"), false);
  QTest::mouseClick(improve, Qt::LeftButton);
  EXPECT_EQ(defaults_.boolean("improveDataSharing"), true);
  // A change made elsewhere shows on the switch.
  settings_.setCrashReportingEnabled(true);
  EXPECT_TRUE(crash->isChecked());
}

TEST_F(OnboardingPagerTest, PageVariablePinsAndClamps) {
  process_.env["KESTOVA_ONBOARDING_PAGE"] = "9";
  showAndActivate(false);
  EXPECT_EQ(view()->index(), 3);
  EXPECT_TRUE(view()->pinned());
}

TEST_F(OnboardingPagerTest, PageVariableThatIsNoNumberIsIgnored) {
  process_.env["KESTOVA_ONBOARDING_PAGE"] = "abc";
  showAndActivate(true);
  EXPECT_EQ(view()->index(), 1);
  EXPECT_FALSE(view()->pinned());
}

TEST_F(OnboardingPagerTest, PinnedPermissionPageNeverMovesOnByItself) {
  process_.env["KESTOVA_ONBOARDING_PAGE"] = "+1";
  showAndActivate(false);
  ASSERT_EQ(view()->index(), 1);
  mac_.world.setAccessibilityTrusted(true);
  scheduler_.advanceBy(seconds(5));
  EXPECT_EQ(view()->index(), 1);
}

TEST_F(OnboardingPagerTest, ForcedVariableIsReadThroughTheProcess) {
  EXPECT_FALSE(controller().forcedByEnvironment());
  process_.env["KESTOVA_ONBOARDING"] = "1";
  EXPECT_TRUE(controller().forcedByEnvironment());
}

TEST_F(OnboardingPagerTest, EscapeSkipsOnlyThePermissionPage) {
  showAndActivate(false);
  key(Qt::Key_Escape);
  EXPECT_EQ(view()->index(), 0);
  ASSERT_NE(window(), nullptr);
  EXPECT_TRUE(window()->isVisible());
  key(Qt::Key_Return);
  ASSERT_EQ(view()->index(), 1);
  key(Qt::Key_Escape);
  EXPECT_EQ(view()->index(), 2);
  EXPECT_FALSE(mac_.accessibility.isProcessTrusted());
  key(Qt::Key_Escape);
  EXPECT_EQ(view()->index(), 2);
  key(Qt::Key_Return);
  key(Qt::Key_Escape);
  EXPECT_EQ(view()->index(), 3);
  EXPECT_FALSE(*settings_.hasCompletedOnboarding());
}

TEST_F(OnboardingPagerTest, ClosingByHandCompletesWithoutFinishing) {
  showAndActivate(false);
  click(view()->primaryButton());
  click(view()->secondaryButton());
  ASSERT_EQ(view()->index(), 2);
  window()->close();
  EXPECT_EQ(controller().kit(), nullptr);
  EXPECT_TRUE(*settings_.hasCompletedOnboarding());
  EXPECT_EQ(defaults_.boolean("onboardingCompleted"), true);
  EXPECT_EQ(finished_, 0);
  // The closed window's view is released later; its timer ticks meanwhile without calling
  // into the pager that is gone.
  scheduler_.advanceBy(seconds(5));
  // Shown again, it starts over in a new window.
  showAndActivate(false);
  EXPECT_EQ(view()->index(), 0);
}

TEST_F(OnboardingPagerTest, ShowingTwiceKeepsTheOpenPage) {
  showAndActivate(false);
  click(view()->primaryButton());
  click(view()->secondaryButton());
  QWidget* first = window();
  controller().show(true);
  EXPECT_EQ(window(), first);
  EXPECT_EQ(view()->index(), 2);
}

TEST_F(OnboardingPagerTest, TabVisitsEveryControlAndSpaceReturnPress) {
  process_.env["KESTOVA_ONBOARDING_PAGE"] = "3";
  showAndActivate(false);
  EXPECT_EQ(QApplication::focusWidget(), view()->primaryButton());
  QStringList visited;
  for (int i = 0; i < 4; ++i) {
    key(Qt::Key_Tab);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    visited << QApplication::focusWidget()->accessibleName();
  }
  EXPECT_EQ(visited,
            QStringList({"Help improve Lumarin", "Share crash reports", "Back", "Get Started"}));
  key(Qt::Key_Tab);  // the first switch again
  key(Qt::Key_Space);
  EXPECT_FALSE(*settings_.improveDataSharing());
  key(Qt::Key_Tab);
  key(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), view()->backButton());
  key(Qt::Key_Space);
  EXPECT_EQ(view()->index(), 2);
  key(Qt::Key_Return);  // back on the primary button after arriving
  EXPECT_EQ(view()->index(), 3);
}

TEST_F(OnboardingPagerTest, TabOnThePermissionPageReachesAllowAndSkip) {
  showAndActivate(true);
  QStringList visited;
  for (int i = 0; i < 5; ++i) {
    key(Qt::Key_Tab);
    visited << QApplication::focusWidget()->accessibleName();
  }
  EXPECT_EQ(visited,
            QStringList({"Allow — Accessibility (required)", "Allow — Screen Recording (optional)",
                         "Skip for now", "Back", "Continue"}));
  key(Qt::Key_Tab);
  key(Qt::Key_Return);
  EXPECT_EQ(accessibilityRequests_, 1);
}

TEST_F(OnboardingPagerTest, EveryControlHasAnAccessibleName) {
  showAndActivate(false);
  for (int page = 0; page < 4; ++page) {
    view()->goTo(page);
    for (QWidget* w : window()->findChildren<QWidget*>()) {
      if (w->isVisible() && (w->focusPolicy() & Qt::TabFocus) != 0) {
        EXPECT_FALSE(w->accessibleName().isEmpty()) << page << " " << w->metaObject()->className();
      }
    }
    for (QLabel* label : window()->findChildren<QLabel*>()) {
      if (label->isVisible()) {
        EXPECT_FALSE(label->accessibleName().isEmpty()) << label->text().toStdString();
      }
    }
  }
}

// A platform without either permission (the freedesktop desktop): the guide leaves the
// permission page out and runs from welcome to the consents without waiting for anything,
// though the simulated Mac behind the test still lacks accessibility.
TEST_F(OnboardingPagerTest, WithoutPermissionsTheGuideRunsThroughWithoutAPermissionPage) {
  accessibility_ = nullptr;
  screenCapture_ = nullptr;
  showAndActivate(false);
  OKRootView* v = view();
  ASSERT_EQ(v->count(), 3);
  const std::vector<OKStep::Kind> expected{OKStep::Kind::welcome, OKStep::Kind::tutorial,
                                           OKStep::Kind::consent};
  for (int page = 0; page < v->count(); ++page) {
    EXPECT_EQ(v->currentStep().kind, expected.at(static_cast<std::size_t>(page)));
    EXPECT_FALSE(v->waitingForGrant()) << page;
    EXPECT_FALSE(v->waitingLabel()->isVisible()) << page;
    EXPECT_FALSE(v->secondaryButton()->isVisible()) << "nothing to skip on page " << page;
    // Time alone moves no page on.
    scheduler_.advanceBy(seconds(3));
    EXPECT_EQ(v->index(), page);
    if (page + 1 < v->count()) {
      click(v->primaryButton());
      EXPECT_EQ(v->index(), page + 1);
    }
  }
  EXPECT_EQ(v->primaryButton()->titleText(), "Get Started");
  click(v->primaryButton());
  EXPECT_EQ(controller().kit(), nullptr);
  EXPECT_EQ(finished_, 1);
  EXPECT_TRUE(*settings_.hasCompletedOnboarding());
  EXPECT_EQ(accessibilityRequests_, 0);
  EXPECT_EQ(mac_.world.screenRecordingRequests(), 0);
}

// The menu's permission entry opens the guide at its start when there is no permission page.
TEST_F(OnboardingPagerTest, WithoutPermissionsThePermissionEntryStartsAtWelcome) {
  accessibility_ = nullptr;
  screenCapture_ = nullptr;
  showAndActivate(true);
  EXPECT_EQ(view()->index(), 0);
  EXPECT_EQ(view()->currentStep().kind, OKStep::Kind::welcome);
  // Escape skips only a permission page, and there is none.
  key(Qt::Key_Escape);
  EXPECT_EQ(view()->index(), 0);
  EXPECT_FALSE(*settings_.hasCompletedOnboarding());
}

// One permission without the other: the page shows only the one there is, and waits only when
// that one is accessibility.
TEST_F(OnboardingPagerTest, PermissionPageShowsOnlyThePermissionsThePlatformHas) {
  accessibility_ = nullptr;
  showAndActivate(true);
  OKRootView* v = view();
  ASSERT_EQ(v->count(), 4);
  ASSERT_EQ(v->currentStep().kind, OKStep::Kind::permissions);
  EXPECT_EQ(named(QStringLiteral("Allow — Accessibility (required)")), nullptr);
  EXPECT_NE(named(QStringLiteral("Allow — Screen Recording (optional)")), nullptr);
  EXPECT_FALSE(v->waitingForGrant());
  EXPECT_FALSE(v->waitingLabel()->isVisible());
  scheduler_.advanceBy(seconds(3));
  EXPECT_EQ(v->index(), 1);
  click(v->primaryButton());
  EXPECT_EQ(v->currentStep().kind, OKStep::Kind::tutorial);
}

TEST_F(OnboardingPagerTest, WithoutScreenRecordingThePageStillWaitsForAccessibility) {
  screenCapture_ = nullptr;
  showAndActivate(true);
  OKRootView* v = view();
  ASSERT_EQ(v->currentStep().kind, OKStep::Kind::permissions);
  EXPECT_NE(named(QStringLiteral("Allow — Accessibility (required)")), nullptr);
  EXPECT_EQ(named(QStringLiteral("Allow — Screen Recording (optional)")), nullptr);
  EXPECT_TRUE(v->waitingForGrant());
  mac_.world.setAccessibilityTrusted(true);
  scheduler_.advanceBy(seconds(1));
  EXPECT_EQ(v->currentStep().kind, OKStep::Kind::tutorial);
}

}  // namespace
}  // namespace lumarin::test
