#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "base/Image.h"
#include "base/Observable.h"
#include "base/StyledText.h"
#include "base/Uuid.h"
#include "model/DockItem.h"

namespace lumarin {

class Accessibility;
class AppIcons;
class AppSettings;
class AppShell;
class Bundle;
class CloudAccount;
class CloudSync;
class L10n;
class Panels;
class Scheduler;
class ScreenCapture;
class TesterMode;
class UpdaterController;
class Workspace;
struct Platform;

// What the settings window's tabs read and change. Everything is owned elsewhere and outlives
// the window; the optional parts are null in runs without them (no account service, no feed).
// Main thread.
struct SettingsContext {
  AppSettings& settings;
  const L10n& l10n;
  Scheduler& scheduler;
  // The platform's two permissions; null where the platform has no such permission (the
  // freedesktop desktop has neither), and then nothing in the window mentions it.
  Accessibility* accessibility;
  ScreenCapture* screenCapture;
  Workspace& workspace;
  Panels& panels;
  AppShell& appShell;
  const Bundle& bundle;
  AppIcons& appIcons;
  // The Dock's application tiles by bundle identifier, as the badge monitor last read them.
  const Observable<std::map<std::string, DockItem>>& dockItems;
  // The program's own bundle identifier (never offered as an app to add).
  std::string ownBundleID;

  CloudAccount* account = nullptr;
  CloudSync* sync = nullptr;
  TesterMode* tester = nullptr;
  // The updater while the program has one.
  std::function<UpdaterController*()> updater;

  // Opens or closes the HUD with a trigger ("menu").
  std::function<void(const std::string& trigger)> toggleHUD;
  // The accessibility request (prompt first, System Settings after) and the screen-recording
  // request (the system's request first, System Settings after).
  std::function<void()> requestAccessibility;
  std::function<void()> requestScreenRecording;
  // What the app's item in the menu bar shows now (picture, title); both absent without one.
  std::function<std::pair<std::optional<LazyImage>, std::optional<StyledText>>(const Uuid&)>
      liveAppearance;
  // The product's page on the maker's web site (the about tab's link).
  std::string productPageURL = "https://kestova.jp/lumarin";
};

// A context on the platform's ports, without the optional services and requests (the caller
// sets those it has). The permissions are taken as the platform has them, null included.
SettingsContext makeSettingsContext(const Platform& platform, AppSettings& settings,
                                    const L10n& l10n, AppIcons& appIcons,
                                    const Observable<std::map<std::string, DockItem>>& dockItems);

}  // namespace lumarin
