#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "app/SettingsTab.h"
#include "base/Geometry.h"
#include "base/Result.h"

namespace lumarin {

class AppDelegate;
class AppIcons;
class AppSettings;
class CloudAccount;
class CloudSync;
class BadgeSource;
class HUDAssembly;
class L10n;
class OnboardingController;
class SettingsWindowController;
class StatusItemCapture;
class TesterMode;
class WindowHistory;
struct Platform;

namespace sim {
struct ScenarioEvent;
}  // namespace sim

// The program's ordinary windows for one run: the settings window and the first-run guide,
// both made on first use; what a scenario does with them; their pictures; and their history
// for the report.
class WindowsAssembly {
 public:
  struct Dependencies {
    const Platform& platform;
    // Whether the menu bar (or panel) the windows open from is dark, when they are made.
    std::function<bool()> darkMenuBar;
    AppSettings& settings;
    L10n& l10n;
    AppIcons& appIcons;
    const BadgeSource& dockMonitor;
    CloudAccount* account;
    CloudSync* sync;
    TesterMode* tester;
    // The HUD, for the accessibility request and the HUD's picture; null where there is none.
    HUDAssembly* hud;
    // Writes the HUD's picture into a directory (the settings window's snapshot run).
    std::function<void(const std::filesystem::path&)> hudSnapshot;
    StatusItemCapture* capture;
    bool recording;  // runs that write a report or tell a story
  };

  explicit WindowsAssembly(Dependencies dependencies);
  ~WindowsAssembly();
  WindowsAssembly(const WindowsAssembly&) = delete;
  WindowsAssembly& operator=(const WindowsAssembly&) = delete;

  // The delegate the windows act through (the updater, the HUD, the app items' looks).
  void attach(std::weak_ptr<AppDelegate> delegate) { delegate_ = std::move(delegate); }

  std::function<void(std::optional<SettingsTab>)> showSettings();
  std::function<void(bool, std::function<void()>)> showOnboarding();
  // A scenario's "openSettings", "pressControl", "typeText" and "closeWindow"; false for other
  // events and when there was nothing to act on.
  bool perform(const sim::ScenarioEvent& event);

  // Every settings tab and onboarding page, light and dark, in English, German and Japanese.
  Status writeSnapshots(const std::filesystem::path& directory);
  std::string historyJson() const;

  SettingsWindowController* settingsWindow() const { return settings_.get(); }
  OnboardingController* onboarding() const { return onboarding_.get(); }

 private:
  SettingsWindowController& settingsController();
  void requestScreenRecording();

  Dependencies deps_;
  std::weak_ptr<AppDelegate> delegate_;
  std::unique_ptr<WindowHistory> history_;
  std::unique_ptr<SettingsWindowController> settings_;
  std::unique_ptr<OnboardingController> onboarding_;
  CocoaRect onboardingFrame_;
};

}  // namespace lumarin
