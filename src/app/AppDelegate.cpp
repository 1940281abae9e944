#include "app/AppDelegate.h"

#include "badges/BadgeHistory.h"
#include "badges/DockBadgeMonitor.h"
#include "base/WeakBind.h"
#include "diagnostics/DebugLog.h"
#include "l10n/L10n.h"
#include "menubar/StatusItemCapture.h"
#include "model/AppSettings.h"
#include "platform/AppShell.h"
#include "platform/ProcessInfo.h"
#include "platform/Scheduler.h"

namespace lumarin {

AppDelegate::AppDelegate(const Platform& platform, const DebugLog& log, AppServices services)
    : platform_(platform), log_(log), services_(std::move(services)) {
  std::weak_ptr<DockBadgeMonitor> monitor = services_.dockMonitor;
  services_.settings.setDockSnapshotProvider([monitor] {
    auto strong = monitor.lock();
    return strong ? strong->snapshotDockItems() : std::vector<DockItem>{};
  });
}

Menu AppDelegate::makeMainMenu(const std::string& quitTitle) {
  auto appMenu = std::make_shared<Menu>();
  appMenu->items.push_back(MenuItem::command(quitTitle, "terminate:", "q"));

  auto edit = std::make_shared<Menu>();
  edit->title = "Edit";
  edit->items = {
      MenuItem::command("Undo", "undo:", "z"),
      MenuItem::command("Redo", "redo:", "Z"),
      MenuItem::separator(),
      MenuItem::command("Cut", "cut:", "x"),
      MenuItem::command("Copy", "copy:", "c"),
      MenuItem::command("Paste", "paste:", "v"),
      MenuItem::command("Select All", "selectAll:", "a"),
  };

  Menu main;
  MenuItem appItem;
  appItem.submenu = appMenu;
  appItem.modifiers = 0;
  MenuItem editItem;
  editItem.title = "Edit";
  editItem.submenu = edit;
  editItem.modifiers = 0;
  main.items = {appItem, editItem};
  return main;
}

void AppDelegate::applicationDidFinishLaunching() {
  installEditMenu();
  // Steps 2 to 7 (updates, crash reports, tester mode, account, sync, statistics) join here
  // as they are built, in their order.
  services_.dockMonitor->start();
  watchMonitoredApps();
  // Step 13: the pending permission-flow mark is consumed at every launch, before onboarding
  // or the settings window decide what to show (they arrive with their own parts).
  if (services_.capture != nullptr) {
    resumedPermissionFlow_ = services_.capture->consumePendingPermissionRelaunch();
  }
  scheduleHousekeeping();
}

void AppDelegate::installEditMenu() {
  platform_.appShell->setMainMenu(makeMainMenu(services_.l10n.string("menu.quit")));
}

void AppDelegate::watchMonitoredApps() {
  // The per-app status items hand the watched set to the Dock monitor after each
  // reconciliation; until they exist, the delegate follows the settings directly.
  monitoredAppsSubscription_ =
      services_.settings.monitoredApps().bind([this](const std::vector<MonitoredApp>& apps) {
        std::set<std::string> ids;
        for (const auto& app : apps) {
          ids.insert(app.bundleID);
        }
        if (services_.badgeHistory != nullptr) {
          services_.badgeHistory->setWatched(ids);
        }
        services_.dockMonitor->setWatched(std::move(ids));
      });
}

void AppDelegate::scheduleHousekeeping() {
  housekeepingTimer_ = platform_.scheduler->mainQueue().scheduleRepeating(
      seconds(kHousekeepingInterval), Duration::zero(),
      weakBind(shared_from_this(), [](AppDelegate& self) { self.housekeeping(); }));
}

void AppDelegate::housekeeping() {
  // Refreshes the own status item and, with LUMARIN_DEBUG set, dumps the app items' frames;
  // both arrive with their controllers.
  ++housekeepingTicks_;
}

void AppDelegate::applicationWillTerminate() {
  log_.log("startup: applicationWillTerminate pid=" +
           std::to_string(platform_.processInfo->processIdentifier()));
}

}  // namespace lumarin
