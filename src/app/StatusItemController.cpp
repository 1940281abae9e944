#include "app/StatusItemController.h"

#include <vector>

#include "app/AddableApps.h"
#include "app/MenuBarIcon.h"
#include "badges/AlertBadge.h"
#include "badges/AppIcons.h"
#include "badges/BadgeSource.h"
#include "base/WeakBind.h"
#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "platform/Accessibility.h"
#include "platform/AppShell.h"
#include "platform/Bundle.h"
#include "platform/DistributedNotifications.h"
#include "platform/Panels.h"
#include "platform/ProcessInfo.h"
#include "platform/Scheduler.h"
#include "platform/StatusBar.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"

namespace lumarin {

namespace {

constexpr unsigned kHUDModifiers = kModifierControl | kModifierOption | kModifierCommand;

}  // namespace

StatusItemController::StatusItemController(Dependencies dependencies)
    : deps_(std::move(dependencies)) {}

void StatusItemController::start() {
  if (!deps_.defaults.contains(kPositionKey)) {
    deps_.defaults.set(kPositionKey, kSeedPosition);
  }
  statusItem_ = deps_.statusBar.makeStatusItem(kSquareStatusItemLength);
  statusItem_->setAutosaveName(kAutosaveName);
  auto& button = statusItem_->button();
  button.setAction(weakBind(shared_from_this(), [](StatusItemController& self,
                                                   StatusBarButton&) { self.handleClick(); }),
                   kSendOnLeftMouseUp | kSendOnRightMouseUp);
  // The window may not exist yet: its title is set again once the item is on screen.
  button.setWindowTitle(kAutosaveName);
  deps_.scheduler.mainQueue().post(weakBind(shared_from_this(), [](StatusItemController& self) {
    self.statusItem_->button().setWindowTitle(kAutosaveName);
  }));
  refreshIcon();
  readingSubscription_ = deps_.monitor->isReading().observe(
      weakBind(shared_from_this(), [](StatusItemController& self, bool) { self.refreshIcon(); }));
  auto weak = weak_from_this();
  if (deps_.statusBar.presentsContextMenus()) {
    auto rebuild = [weak](const auto&) {
      if (auto self = weak.lock()) {
        self->attachMenuSoon();
      }
    };
    menuSubscriptions_.push_back(deps_.settings.monitoredApps().observe(rebuild));
    menuSubscriptions_.push_back(deps_.settings.languageCode().observe(rebuild));
    menuSubscriptions_.push_back(deps_.settings.mirrorHUDFollowsControlCenter().observe(rebuild));
    menuSubscriptions_.push_back(deps_.monitor->items().observe(rebuild));
    attachMenu();
  }
  if (deps_.notifications == nullptr) {
    return;
  }
  trustSubscription_ = deps_.notifications->observe(
      kTrustNotification, [weak](const DistributedNotifications::UserInfo&) {
        auto self = weak.lock();
        if (!self) {
          return;
        }
        // The system answers the new trust state a moment after it announces the change.
        self->deps_.scheduler.mainQueue().postAfter(seconds(kTrustNotificationDelay), [weak] {
          if (auto strong = weak.lock()) {
            strong->refreshIcon();
          }
        });
      });
}

void StatusItemController::refreshIcon() {
  if (!statusItem_) {
    return;
  }
  const bool alert = !trusted();
  auto& button = statusItem_->button();
  button.setImage(MenuBarIcon::image(alert).lazy());
  AlertBadge::update(button, alert, kIconSize, deps_.scheduler.clock(),
                     deps_.workspace.accessibilityDisplayShouldReduceMotion());
  button.setToolTip(alert ? "Lumarin — " + deps_.l10n.string("menu.needPerm")
                          : std::string("Lumarin"));
  if (deps_.processInfo.environmentValue("LUMARIN_DEBUG")) {
    const auto window = button.window();
    // Appended piece by piece: GCC 12 at -O2 warns (array-bounds) on the chained operator+.
    std::string line = "Lumarin[debug] item=main visible=";
    line += statusItem_->isVisible() ? "1" : "0";
    line += " frame=";
    line += describeRect(window ? window->frame : CocoaRect());
    deps_.systemLog.log(line);
  }
}

bool StatusItemController::trusted() const {
  return deps_.accessibility == nullptr || deps_.accessibility->isProcessTrusted();
}

void StatusItemController::attachMenuSoon() {
  if (menuAttachPending_) {
    return;
  }
  menuAttachPending_ = true;
  deps_.scheduler.mainQueue().post(weakBind(shared_from_this(), [](StatusItemController& self) {
    self.menuAttachPending_ = false;
    self.attachMenu();
  }));
}

void StatusItemController::attachMenu() {
  MenuHandlers handlers;
  handlers.chose = weakBind(shared_from_this(), [](StatusItemController& self,
                                                   const MenuItem& entry) { self.perform(entry); });
  statusItem_->setMenu(buildMenu(), std::move(handlers));
}

void StatusItemController::handleClick() {
  MenuHandlers handlers;
  handlers.chose = weakBind(shared_from_this(), [](StatusItemController& self,
                                                   const MenuItem& entry) { self.perform(entry); });
  // Detached on closing, so the next click builds the menu anew.
  handlers.didClose = weakBind(shared_from_this(), [](StatusItemController& self) {
    self.statusItem_->setMenu(std::nullopt, {});
  });
  statusItem_->setMenu(buildMenu(), std::move(handlers));
  statusItem_->button().performClick();
}

Menu StatusItemController::buildMenu(bool forSearch) {
  const L10n& l10n = deps_.l10n;
  Menu menu;
  // The search leaves out what asks the system (the permission, the Dock's apps and their
  // icons): it builds the menu at every opening of the HUD.
  if (!forSearch) {
    refreshIcon();
    if (!trusted()) {
      menu.items.push_back(MenuItem::command(l10n.string("menu.needPerm"), "showOnboarding"));
      menu.items.push_back(MenuItem::separator());
    }
    MenuItem add;
    add.title = l10n.string("menu.addApp");
    add.modifiers = 0;
    add.submenu = addAppMenu();
    menu.items.push_back(add);
    menu.items.push_back(MenuItem::separator());
  }
  if (deps_.offersHUD) {
    menu.items.push_back(
        MenuItem::command(l10n.string("menu.mirrorHUD"), "showMirrorHUD", "m", kHUDModifiers));
    if (deps_.offersControlCenter) {
      MenuItem follow =
          MenuItem::command(l10n.string("menu.mirrorHUDFollowCC"), "toggleMirrorHUDFollowCC");
      follow.checked = *deps_.settings.mirrorHUDFollowsControlCenter();
      menu.items.push_back(follow);
    }
    menu.items.push_back(MenuItem::separator());
  }
  menu.items.push_back(MenuItem::command(l10n.string("menu.settings"), "showSettings", ","));
  menu.items.push_back(MenuItem::command(l10n.string("menu.guide"), "showOnboarding"));
  menu.items.push_back(MenuItem::separator());
  if (deps_.bundle.infoString("SUFeedURL")) {
    menu.items.push_back(MenuItem::command(l10n.string("menu.check_updates"), "checkForUpdates"));
  }
  menu.items.push_back(MenuItem::command(l10n.string("menu.about"), "showAbout"));
  menu.items.push_back(MenuItem::command(l10n.string("menu.quit"), "quit", "q"));
  return menu;
}

std::shared_ptr<Menu> StatusItemController::addAppMenu() {
  auto menu = std::make_shared<Menu>();
  for (const auto& tile : addableDockApps(deps_.monitor->snapshotDockItems(),
                                          *deps_.settings.monitoredApps(), deps_.ownBundleID)) {
    MenuItem entry = MenuItem::command(tile.name, "addApp");
    entry.representedObject = std::vector<std::string>{tile.bundleID, tile.name};
    if (deps_.workspace.urlForApplication(tile.bundleID)) {
      entry.image = deps_.appIcons.icon(tile.bundleID, 16);
    }
    menu->items.push_back(std::move(entry));
  }
  if (menu->items.empty()) {
    MenuItem empty = MenuItem::command(deps_.l10n.string("menu.addAppEmpty"), "");
    empty.enabled = false;
    menu->items.push_back(empty);
  }
  menu->items.push_back(MenuItem::separator());
  menu->items.push_back(MenuItem::command(deps_.l10n.string("menu.addAppBrowse"), "browseApp"));
  return menu;
}

void StatusItemController::perform(const MenuItem& entry) {
  const std::string& action = entry.action;
  if (action == "addApp") {
    const auto* pair = std::get_if<std::vector<std::string>>(&entry.representedObject);
    if (pair != nullptr && pair->size() == 2) {
      deps_.settings.add((*pair)[0], (*pair)[1]);
    }
  } else if (action == "browseApp") {
    browseApp();
  } else if (action == "showMirrorHUD") {
    if (onToggleHUD_) {
      onToggleHUD_("menu");
    }
  } else if (action == "toggleMirrorHUDFollowCC") {
    deps_.settings.setMirrorHUDFollowsControlCenter(
        !*deps_.settings.mirrorHUDFollowsControlCenter());
  } else if (action == "showSettings") {
    if (onShowSettings_) {
      onShowSettings_(std::nullopt);
    }
  } else if (action == "showOnboarding") {
    if (onShowOnboarding_) {
      onShowOnboarding_();
    }
  } else if (action == "checkForUpdates") {
    if (onCheckForUpdates_) {
      onCheckForUpdates_();
    }
  } else if (action == "showAbout") {
    deps_.appShell.activateIgnoringOtherApps();
    deps_.panels.showAboutPanel(
        AboutPanelOptions{"Lumarin", deps_.l10n.string("about.credits"), 11});
  } else if (action == "quit") {
    deps_.appShell.terminate();
  }
}

void StatusItemController::browseApp() {
  OpenPanelRequest request;
  request.directory = deps_.applicationsDirectory;
  request.message = deps_.l10n.string("menu.addAppBrowseMsg");
  deps_.appShell.activateIgnoringOtherApps();
  deps_.panels.runOpenPanel(
      request, weakBind(shared_from_this(),
                        [](StatusItemController& self, const std::optional<std::string>& url) {
                          if (!url) {
                            return;
                          }
                          if (const auto app = appAtURL(self.deps_.workspace, *url)) {
                            self.deps_.settings.add(app->bundleID, app->name);
                          }
                        }));
}

}  // namespace lumarin
