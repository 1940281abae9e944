#pragma once

#include <QApplication>
#include <QTest>
#include <memory>

#include "settings/SettingsContext.h"
#include "settings/SettingsWindowController.h"
#include "support/DesktopFixture.h"
#include "ui/ControlDriver.h"

namespace lumarin {
class CloudAccount;
class CloudSync;
class TesterMode;
}  // namespace lumarin

namespace lumarin::test {

// The settings window on a simulated Mac, on virtual time. Requests that leave the window
// (the HUD, the two permissions) are counted.
class SettingsFixture : public DesktopFixture {
 protected:
  ~SettingsFixture() override {
    controller_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  SettingsContext context() {
    SettingsContext context =
        makeSettingsContext(platform_, settings_, l10n_, icons_, monitor_->items());
    context.account = account_;
    context.sync = sync_;
    context.tester = tester_;
    context.toggleHUD = [this](const std::string& trigger) { hudToggles_.push_back(trigger); };
    context.requestAccessibility = [this] { ++accessibilityRequests_; };
    context.requestScreenRecording = [this] { ++captureRequests_; };
    return context;
  }
  SettingsWindowController& controller() {
    if (!controller_) {
      controller_ =
          std::make_unique<SettingsWindowController>(SettingsWindowController::Dependencies{
              context(), process_, nullptr, std::nullopt, nullptr, {}});
    }
    return *controller_;
  }
  void open(std::optional<SettingsTab> tab = std::nullopt) {
    controller().show(tab);
    controller().window()->activateWindow();
    settle();
  }
  static void settle() {
    for (int i = 0; i < 3; ++i) {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      QApplication::processEvents();
    }
  }
  // The visible control of the window with this accessible name.
  template <typename T = QWidget>
  T* named(const QString& name) {
    return dynamic_cast<T*>(findControlNamed(controller().window(), name));
  }
  void click(QWidget* widget) {
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
    settle();
  }

  // The optional services, when a test has them.
  CloudAccount* account_ = nullptr;
  CloudSync* sync_ = nullptr;
  TesterMode* tester_ = nullptr;
  std::unique_ptr<SettingsWindowController> controller_;
  std::vector<std::string> hudToggles_;
  int accessibilityRequests_ = 0;
  int captureRequests_ = 0;
};

}  // namespace lumarin::test
