#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "onboarding/OKStep.h"
#include "onboarding/OnboardingKitController.h"
#include "ui/Appearance.h"

namespace lumarin {

class Accessibility;
class AppSettings;
class AppShell;
class L10n;
class ProcessInfo;
class Scheduler;
class ScreenCapture;
class Screens;

// The program's first-run guide: its pages in the pager's window (four, or three on a platform
// without permissions), and the settings it writes (the two consents as they are flipped;
// "onboarding completed" when the guide is finished or closed). Created by the application
// delegate on first use and kept. Main thread.
class OnboardingController {
 public:
  struct Dependencies {
    AppSettings& settings;
    const L10n& l10n;
    Scheduler& scheduler;
    // Null where the platform has no such permission: the guide neither shows nor waits for it.
    Accessibility* accessibility;
    ScreenCapture* screenCapture;
    const ProcessInfo& processInfo;
    AppShell* appShell = nullptr;
    // The permission page's "Allow" buttons. Without them the bare system requests are made.
    std::function<void()> requestAccessibility;
    std::function<void()> requestScreenRecording;
    // The window's appearance; absent follows the desktop.
    std::optional<Appearance> appearance;
    // The screens the guide is shown on (its height comes from the main one's visible part);
    // without them, Qt's primary screen.
    const Screens* screens = nullptr;
  };

  explicit OnboardingController(Dependencies dependencies);
  ~OnboardingController();
  OnboardingController(const OnboardingController&) = delete;
  OnboardingController& operator=(const OnboardingController&) = delete;

  // Shows the guide from its start, or at the permission page (the menu's permission entry;
  // from the start where there is no such page). A guide already open is brought to the front
  // as it is.
  void show(bool startAtPermissions);
  // Called after the last page was finished (not when the window was closed by hand).
  void setOnFinished(std::function<void()> handler) { onFinished_ = std::move(handler); }
  // Called whenever the window goes away: finished (true) or closed by hand.
  void setOnClosed(std::function<void(bool finished)> handler) { onClosed_ = std::move(handler); }

  // True when KESTOVA_ONBOARDING asks for the guide even though it was completed.
  bool forcedByEnvironment() const;

  // The pages, fresh; the pager takes them over.
  std::vector<OKStep> makeSteps() const;
  OKStrings strings() const;

  Scheduler& scheduler() const { return deps_.scheduler; }

  // The pager while the guide is open, else null.
  OnboardingKitController* kit() const { return kit_.get(); }

 private:
  void completed(bool finished);

  Dependencies deps_;
  std::unique_ptr<OnboardingKitController> kit_;
  std::function<void()> onFinished_;
  std::function<void(bool)> onClosed_;
};

}  // namespace lumarin
