#include "app/AppDelegate.h"

#include "base/WeakBind.h"
#include "diagnostics/DebugLog.h"
#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "platform/AppShell.h"
#include "platform/ProcessInfo.h"
#include "platform/Scheduler.h"

namespace lumarin {

AppDelegate::AppDelegate(const Platform& platform, const DebugLog& log, AppSettings& settings,
                         const L10n& l10n)
    : platform_(platform), log_(log), settings_(settings), l10n_(l10n) {}

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
  // The controllers of the later launch steps join here as they are built, in their order.
  scheduleHousekeeping();
}

void AppDelegate::installEditMenu() {
  platform_.appShell->setMainMenu(makeMainMenu(l10n_.string("menu.quit")));
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
