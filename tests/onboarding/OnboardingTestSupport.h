#pragma once

#include <QApplication>
#include <QTest>
#include <memory>

#include "onboarding/OKRootView.h"
#include "onboarding/OnboardingController.h"
#include "support/DesktopFixture.h"
#include "ui/PillButton.h"

namespace lumarin::test {

// The onboarding guide on a simulated Mac whose accessibility permission is still missing.
class OnboardingFixture : public DesktopFixture {
 protected:
  OnboardingFixture() {
    mac_.world.setAccessibilityTrusted(false);
    mac_.world.setScreenRecordingGranted(false);
  }
  ~OnboardingFixture() override {
    controller_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  OnboardingController& controller() {
    if (!controller_) {
      controller_ = std::make_unique<OnboardingController>(
          OnboardingController::Dependencies{settings_,
                                             l10n_,
                                             scheduler_,
                                             accessibility_,
                                             screenCapture_,
                                             process_,
                                             &mac_.appShell,
                                             [this] { ++accessibilityRequests_; },
                                             {},
                                             std::nullopt});
      controller_->setOnFinished([this] { ++finished_; });
    }
    return *controller_;
  }
  OKRootView* view() {
    return controller().kit() != nullptr ? controller().kit()->rootView() : nullptr;
  }
  QWidget* window() {
    return controller().kit() != nullptr ? controller().kit()->window() : nullptr;
  }
  void showAndActivate(bool startAtPermissions) {
    controller().show(startAtPermissions);
    ASSERT_NE(window(), nullptr);
    // The offscreen platform activates at once, within the events already queued.
    window()->activateWindow();
    QApplication::processEvents();
    ASSERT_TRUE(window()->isActiveWindow());
  }
  static void click(QAbstractButton* button) {
    ASSERT_TRUE(button->isVisible()) << button->text().toStdString();
    QTest::mouseClick(button, Qt::LeftButton);
  }
  void key(Qt::Key k) { QTest::keyClick(window()->windowHandle(), k); }
  template <typename T = QWidget>
  T* named(const QString& name) {
    for (T* w : window()->findChildren<T*>()) {
      if (w->accessibleName() == name && w->isVisible()) {
        return w;
      }
    }
    return nullptr;
  }

  // The platform's permissions as the guide gets them; a test of a platform without one sets
  // it to null before the guide is made.
  Accessibility* accessibility_ = &mac_.accessibility;
  ScreenCapture* screenCapture_ = &mac_.screenCapture;
  std::unique_ptr<OnboardingController> controller_;
  int accessibilityRequests_ = 0;
  int finished_ = 0;
};

}  // namespace lumarin::test
