#include "onboarding/OnboardingController.h"

#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "onboarding/OKRootView.h"
#include "onboarding/OnboardingKitEnv.h"
#include "onboarding/OnboardingPages.h"
#include "platform/Accessibility.h"
#include "platform/ScreenCapture.h"
#include "platform/Screens.h"

namespace lumarin {

OnboardingController::OnboardingController(Dependencies dependencies)
    : deps_(std::move(dependencies)) {}

OnboardingController::~OnboardingController() = default;

OKStrings OnboardingController::strings() const {
  const L10n& l10n = deps_.l10n;
  const auto lookup = [&l10n](const char* key) {
    return [&l10n, key] { return l10n.string(key); };
  };
  return OKStrings{lookup("onb.continue"), lookup("onb.start"), lookup("onb.waiting"),
                   lookup("onb.skipPerm"), lookup("common.back")};
}

std::vector<OKStep> OnboardingController::makeSteps() const {
  std::function<void()> requestAccessibility = deps_.requestAccessibility;
  if (!requestAccessibility && deps_.accessibility != nullptr) {
    Accessibility* accessibility = deps_.accessibility;
    requestAccessibility = [accessibility] {
      if (!accessibility->isProcessTrusted()) {
        accessibility->isProcessTrustedWithOptions(true);
      }
    };
  }
  std::function<void()> requestScreenRecording = deps_.requestScreenRecording;
  if (!requestScreenRecording && deps_.screenCapture != nullptr) {
    ScreenCapture* capture = deps_.screenCapture;
    requestScreenRecording = [capture] {
      if (!capture->preflightAccess()) {
        capture->requestAccess();
      }
    };
  }
  return makeOnboardingSteps(
      OnboardingPageContext{deps_.settings, deps_.l10n, deps_.accessibility, deps_.screenCapture,
                            std::move(requestAccessibility), std::move(requestScreenRecording)});
}

bool OnboardingController::forcedByEnvironment() const {
  return OnboardingKitEnv::forced(deps_.processInfo);
}

void OnboardingController::show(bool startAtPermissions) {
  if (!kit_) {
    kit_ = std::make_unique<OnboardingKitController>(
        OnboardingKitController::Dependencies{
            deps_.scheduler, deps_.processInfo, deps_.appShell,
            [screens = deps_.screens]() -> std::optional<int> {
              if (screens == nullptr || screens->screens().empty()) {
                return std::nullopt;
              }
              return static_cast<int>(screens->screens().front().visibleFrame.height());
            }},
        [this] { return makeSteps(); }, strings());
    kit_->setOnCompleted([this] { completed(true); });
    kit_->setOnClosedByUser([this] { completed(false); });
  }
  const bool fresh = kit_->window() == nullptr;
  kit_->show(startAtPermissions);
  if (fresh && deps_.appearance && kit_->window() != nullptr) {
    setAppearance(kit_->window(), *deps_.appearance);
  }
}

void OnboardingController::completed(bool finished) {
  // The assignment persists every setting at once.
  deps_.settings.setHasCompletedOnboarding(true);
  kit_.reset();
  if (onClosed_) {
    const auto closed = onClosed_;
    closed(finished);
  }
  if (finished && onFinished_) {
    const auto done = onFinished_;
    done();
  }
}

}  // namespace lumarin
