#pragma once

#include <memory>

namespace lumarin {

class AppIcons;
class AppSettings;
class CloudAccount;
class CloudSync;
class BadgeHistory;
class DockBadgeMonitor;
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
  std::shared_ptr<DockBadgeMonitor> dockMonitor;
  AppIcons& appIcons;
  StatusItemScanner& scanner;
  AppItemsRevision& revision;
  BadgeHistory* badgeHistory = nullptr;  // only in runs that write a report
  StatusItemCapture* capture = nullptr;
  CloudAccount* account = nullptr;
  CloudSync* sync = nullptr;
  std::shared_ptr<MirrorController> mirror = nullptr;  // the menu bar HUD
};

}  // namespace lumarin
