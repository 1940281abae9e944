#include "root/WindowsAssembly.h"

#include <QApplication>
#include <utility>

#include "app/AppDelegate.h"
#include "badges/AppStatusItemsController.h"
#include "badges/BadgeSource.h"
#include "hud/MirrorController.h"
#include "l10n/L10n.h"
#include "menubar/StatusItemCapture.h"
#include "model/AppSettings.h"
#include "onboarding/OnboardingController.h"
#include "onboarding/OnboardingSnapshots.h"
#include "platform/Bundle.h"
#include "platform/Platform.h"
#include "platform/host/HostMemory.h"
#include "platform/sim/Scenario.h"
#include "root/HUDAssembly.h"
#include "settings/SettingsWindowController.h"
#include "settings/WindowHistory.h"
#include "ui/ControlDriver.h"

namespace lumarin {

namespace {

std::optional<SettingsTab> tabNamed(const std::string& name) {
  for (SettingsTab tab : {SettingsTab::general, SettingsTab::permissions, SettingsTab::apps,
                          SettingsTab::account, SettingsTab::about}) {
    if (settingsTabName(tab) == name) {
      return tab;
    }
  }
  return std::nullopt;
}

}  // namespace

WindowsAssembly::WindowsAssembly(Dependencies dependencies)
    : deps_(std::move(dependencies)),
      history_(std::make_unique<WindowHistory>(
          *deps_.platform.clock,
          WindowHistory::SettingsSources{deps_.settings, deps_.sync, deps_.tester},
          deps_.recording)) {}

WindowsAssembly::~WindowsAssembly() {
  settings_.reset();
  onboarding_.reset();
}

void WindowsAssembly::requestScreenRecording() {
  if (deps_.capture != nullptr) {
    deps_.capture->requestAccess();
  } else if (deps_.platform.screenCapture != nullptr) {
    (void)deps_.platform.screenCapture->requestAccess();
  }
}

SettingsWindowController& WindowsAssembly::settingsController() {
  if (!settings_) {
    const Platform& p = deps_.platform;
    std::weak_ptr<AppDelegate> weak = delegate_;
    SettingsContext context = makeSettingsContext(p, deps_.settings, deps_.l10n, deps_.appIcons,
                                                  deps_.dockMonitor.items());
    context.account = deps_.account;
    context.sync = deps_.sync;
    context.tester = deps_.tester;
    context.updater = [weak]() -> UpdaterController* {
      auto delegate = weak.lock();
      return delegate ? delegate->updater() : nullptr;
    };
    context.toggleHUD = [weak](const std::string& trigger) {
      if (auto delegate = weak.lock()) {
        delegate->toggleHUD(trigger);
      }
    };
    if (HUDAssembly* hud = deps_.hud) {
      context.requestAccessibility = [hud] { hud->permissions().requestOrOpenSettings(); };
    }
    context.requestScreenRecording = [this] { requestScreenRecording(); };
    context.liveAppearance =
        [weak](const Uuid& id) -> std::pair<std::optional<LazyImage>, std::optional<StyledText>> {
      auto delegate = weak.lock();
      if (delegate && delegate->appItemsController()) {
        return delegate->appItemsController()->liveAppearance(id);
      }
      return {};
    };
    settings_ = std::make_unique<SettingsWindowController>(SettingsWindowController::Dependencies{
        std::move(context), *p.processInfo, p.screens,
        deps_.darkMenuBar() ? Appearance::dark : Appearance::light, history_.get(),
        // The snapshot run's HUD: opened as "Show now" opens it, drawn, and closed again.
        [snapshot = deps_.hudSnapshot, weak](const std::filesystem::path& directory) {
          if (!snapshot) {
            return;
          }
          const auto delegate = weak.lock();
          if (delegate) {
            delegate->toggleHUD("menu");
          }
          snapshot(directory);
          if (delegate) {
            delegate->toggleHUD("menu");
          }
        }});
    settings_->setOnReleased(returnFreedMemoryToSystem);
  }
  return *settings_;
}

std::function<void(std::optional<SettingsTab>)> WindowsAssembly::showSettings() {
  return [this](std::optional<SettingsTab> tab) { settingsController().show(tab); };
}

std::function<void(bool, std::function<void()>)> WindowsAssembly::showOnboarding() {
  return [this](bool startAtPermissions, std::function<void()> onFinished) {
    const Platform& p = deps_.platform;
    if (!onboarding_) {
      std::function<void()> requestAccessibility;
      if (HUDAssembly* hud = deps_.hud) {
        requestAccessibility = [hud] { hud->permissions().requestOrOpenSettings(); };
      }
      onboarding_ = std::make_unique<OnboardingController>(OnboardingController::Dependencies{
          deps_.settings, deps_.l10n, *p.scheduler, p.accessibility, p.screenCapture,
          *p.processInfo, p.appShell, std::move(requestAccessibility),
          [this] { requestScreenRecording(); },
          deps_.darkMenuBar() ? Appearance::dark : Appearance::light, p.screens});
      onboarding_->setOnClosed(
          [this](bool) { history_->windowClosed("onboarding", onboardingFrame_); });
    }
    onboarding_->setOnFinished(std::move(onFinished));
    const bool opening = onboarding_->kit() == nullptr;
    onboarding_->show(startAtPermissions);
    if (opening && onboarding_->kit() != nullptr) {
      const QWidget* window = onboarding_->kit()->window();
      onboardingFrame_ =
          SettingsWindowController::centredFrame(p.screens, window->width(), window->height());
      history_->windowOpened("onboarding", onboardingFrame_);
    }
  };
}

bool WindowsAssembly::perform(const sim::ScenarioEvent& event) {
  const std::string& action = event.action;
  // What earlier events changed on screen (a new tab's layout, a menu's popping up) settles
  // before the next one acts.
  QApplication::processEvents();
  if (action == "openSettings") {
    settingsController().show(tabNamed(event.item));
    QApplication::processEvents();
    return true;
  }
  if (action == "closeWindow") {
    if (event.item == "settings") {
      if (!settings_ || !settings_->isVisible()) {
        return false;
      }
      settings_->close();
      return true;
    }
    if (!onboarding_ || onboarding_->kit() == nullptr) {
      return false;
    }
    onboarding_->kit()->window()->close();
    return true;
  }
  if (action != "pressControl" && action != "typeText") {
    return false;
  }
  const std::string before = history_->settingsJson();
  const QString name = QString::fromStdString(event.item);
  std::optional<QString> shown;
  if (action == "pressControl") {
    shown = pressControlNamed(name);
  } else if (typeIntoControlNamed(name, QString::fromStdString(event.title))) {
    shown = QStringLiteral("typed");
  }
  if (!shown) {
    return false;
  }
  QApplication::processEvents();
  history_->controlUsed(settings_ && settings_->isVisible() ? "settings" : "onboarding", event.item,
                        shown->toStdString(), before);
  return true;
}

Status WindowsAssembly::writeSnapshots(const std::filesystem::path& directory) {
  const auto restore = *deps_.settings.languageCode();
  Status status = success();
  for (const char* code : {"en", "de", "ja"}) {
    deps_.l10n.apply(std::string(code));
    const std::string language = code == std::string("en") ? "" : std::string("-") + code;
    for (const Appearance appearance : {Appearance::light, Appearance::dark}) {
      const std::string suffix = language + (appearance == Appearance::dark ? "-dark" : "-light");
      // A window of its own in this language; the user's stays as it is.
      SettingsWindowController& live = settingsController();
      SettingsWindowController pictures(
          SettingsWindowController::Dependencies{live.context(),
                                                 *deps_.platform.processInfo,
                                                 deps_.platform.screens,
                                                 appearance,
                                                 nullptr,
                                                 {}});
      if (!pictures.writeTabPictures(directory, suffix, false)) {
        status = Error{"could not write the settings pictures to " + directory.string(), 1};
      }
      if (!onboarding_) {
        const Platform& p = deps_.platform;
        onboarding_ = std::make_unique<OnboardingController>(OnboardingController::Dependencies{
            deps_.settings, deps_.l10n, *p.scheduler, p.accessibility, p.screenCapture,
            *p.processInfo, p.appShell, nullptr, nullptr, appearance, p.screens});
      }
      if (writeOnboardingSnapshots(*onboarding_, QString::fromStdString(directory.string()),
                                   appearance, 2, QString::fromStdString(language))
              .isEmpty()) {
        status = Error{"could not write the onboarding pictures to " + directory.string(), 1};
      }
    }
  }
  deps_.l10n.apply(restore);
  return status;
}

std::string WindowsAssembly::historyJson() const { return history_->toJson(); }

}  // namespace lumarin
