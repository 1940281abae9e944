#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/SettingsTab.h"
#include "base/Properties.h"

namespace lumarin {

class AppIcons;
class AppSettings;
class CloudAccount;
class CloudSync;
class CrashReporter;
class ImproveReporter;
class TesterMode;
class UpdaterController;
class BadgeHistory;
class BadgeSource;
class L10n;
class MirrorController;
class StatusItemCapture;
class StatusItemScanner;
struct AppItemsRevision;

// The long-lived services of the process, created once by the composition root and kept for
// its life; the application delegate builds its controllers from them.
struct AppServices {
  AppSettings& settings;
  L10n& l10n;
  std::shared_ptr<BadgeSource> dockMonitor;
  AppIcons& appIcons;
  StatusItemScanner* scanner;  // null where the platform has no menu bar to scan
  AppItemsRevision& revision;
  BadgeHistory* badgeHistory = nullptr;  // only in runs that write a report
  StatusItemCapture* capture = nullptr;
  CloudAccount* account = nullptr;
  CloudSync* sync = nullptr;
  std::shared_ptr<MirrorController> mirror = nullptr;  // the menu bar HUD
  // Diagnostics: each absent in runs without them.
  ImproveReporter* improve = nullptr;
  CrashReporter* crashReporter = nullptr;
  TesterMode* tester = nullptr;
  // Shows the first-run guide, from its start or at its permission page; the callback runs
  // when the user finishes it.
  std::function<void(bool startAtPermissions, std::function<void()> onFinished)> showOnboarding =
      nullptr;
  // Makes the updater when the bundle names a feed (null otherwise).
  std::function<std::unique_ptr<UpdaterController>()> makeUpdater = nullptr;
  // Records a statistics event (through `improve`, and into the run's record).
  std::function<void(const std::string&, const Properties&)> statistics = nullptr;
  // Opens the settings window, on a tab or on the one shown last.
  std::function<void(std::optional<SettingsTab>)> showSettings = nullptr;

  // What the platform offers beyond the badges (a desktop has no Control Center), where
  // "Other App…" browses, and how a single click on an app's item opens the app's own item
  // where the menu bar scan cannot (null: the scan does it).
  bool offersHUD = true;
  bool offersControlCenter = true;
  std::string applicationsDirectory = "/Applications";
  std::function<bool(const std::string& appID)> openOwnItem = nullptr;
};

}  // namespace lumarin
