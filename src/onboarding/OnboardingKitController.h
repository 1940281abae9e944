#pragma once

#include <QPointer>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "onboarding/OKRootView.h"
#include "onboarding/OKStep.h"

class QWidget;

namespace lumarin {

class AppShell;
class OKRootView;
class ProcessInfo;
class Scheduler;

// Shows the pager in its own window: one window at a time, 360 points wide and as tall as the
// page wants, centred, with a close button but no minimise or zoom. Finishing the last page
// and closing the window by hand are told apart. Main thread.
class OnboardingKitController {
 public:
  static constexpr int kWidth = 360;
  static constexpr int kInitialHeight = 500;
  static constexpr int kScreenMargin = 40;
  static constexpr int kNoScreenHeight = 860;

  struct Dependencies {
    Scheduler& scheduler;
    const ProcessInfo& processInfo;
    AppShell* appShell = nullptr;  // brings the program to the front; optional
    // The height the window may take (the main screen's visible part); without it, Qt's
    // primary screen decides.
    std::function<std::optional<int>()> visibleHeight = nullptr;
  };

  OnboardingKitController(Dependencies dependencies, std::function<std::vector<OKStep>()> makeSteps,
                          OKStrings strings);
  ~OnboardingKitController();
  OnboardingKitController(const OnboardingKitController&) = delete;
  OnboardingKitController& operator=(const OnboardingKitController&) = delete;

  void setOnCompleted(std::function<void()> handler) { onCompleted_ = std::move(handler); }
  void setOnClosedByUser(std::function<void()> handler) { onClosedByUser_ = std::move(handler); }
  // Further environment-variable names read like KESTOVA_ONBOARDING and its page variable.
  void setLegacyEnv(std::vector<std::string> names) { legacyEnv_ = std::move(names); }

  // Builds the window when there is none (at the permission page when asked and there is one,
  // or at a page pinned from the environment), then brings it to the front and makes it key.
  void show(bool startAtPermissions);
  // Leaves the pager as done: closes the window, then tells onCompleted.
  void finish();
  // Sets the window's content height (rounded, capped at the screen), keeping its top edge and
  // keeping it above the bottom of the screen's visible area.
  void resize(double height);

  QWidget* window() const { return window_; }
  OKRootView* rootView() const { return rootView_; }
  bool finishing() const { return finishing_; }
  // The screen's visible height minus 40, or 860 without a screen.
  int maxContentHeight() const;

 private:
  class KitWindow;

  void windowWillClose();
  void detachView();
  void forgetWindow();

  Dependencies deps_;
  std::function<std::vector<OKStep>()> makeSteps_;
  OKStrings strings_;
  std::function<void()> onCompleted_;
  std::function<void()> onClosedByUser_;
  std::vector<std::string> legacyEnv_;
  QPointer<QWidget> window_;  // a KitWindow
  QPointer<OKRootView> rootView_;
  bool finishing_ = false;
};

}  // namespace lumarin
