#pragma once

#include <functional>
#include <vector>

#include "onboarding/OKStep.h"

namespace lumarin {

class Accessibility;
class AppSettings;
class L10n;
class ScreenCapture;

// What the program's four onboarding pages read and change.
struct OnboardingPageContext {
  AppSettings& settings;
  const L10n& l10n;
  // Null where the platform has no such permission.
  Accessibility* accessibility;
  ScreenCapture* screenCapture;
  // The "Allow" buttons: the program's accessibility request (prompt first, System Settings
  // after) and its screen-recording request.
  std::function<void()> requestAccessibility;
  std::function<void()> requestScreenRecording;
};

// Welcome, permissions (the only skippable page, waiting for accessibility), how to use the
// HUD, and the two consents bound to the settings. The permission page shows only the
// permissions the platform has and waits only when accessibility is one of them; with neither
// it is left out, since a page that asks nothing of the user only delays the start.
std::vector<OKStep> makeOnboardingSteps(const OnboardingPageContext& context);

}  // namespace lumarin
