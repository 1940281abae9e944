#include "app/AppDelegate.h"

#include <algorithm>
#include <cctype>

#include "app/GlobalHotKey.h"
#include "app/StatusItemController.h"
#include "badges/AppStatusItemsController.h"
#include "badges/BadgeHistory.h"
#include "badges/BadgeSource.h"
#include "base/WeakBind.h"
#include "cloud/CloudAccount.h"
#include "cloud/CloudSync.h"
#include "diagnostics/CrashReporter.h"
#include "diagnostics/DebugLog.h"
#include "diagnostics/ImproveReporter.h"
#include "diagnostics/TesterMode.h"
#include "hud/HUDTiles.h"
#include "hud/MirrorController.h"
#include "l10n/L10n.h"
#include "menubar/StatusItemCapture.h"
#include "model/AppSettings.h"
#include "platform/Accessibility.h"
#include "platform/AppShell.h"
#include "platform/Bundle.h"
#include "platform/ProcessInfo.h"
#include "platform/Scheduler.h"
#include "platform/Screens.h"
#include "platform/StatusBar.h"
#include "updates/UpdaterController.h"

namespace lumarin {

AppDelegate::AppDelegate(const Platform& platform, const DebugLog& log, AppServices services)
    : platform_(platform), log_(log), services_(std::move(services)) {
  std::weak_ptr<BadgeSource> monitor = services_.dockMonitor;
  services_.settings.setDockSnapshotProvider([monitor] {
    auto strong = monitor.lock();
    return strong ? strong->snapshotDockItems() : std::vector<DockItem>{};
  });
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::installGetURLHandler() {
  platform_.appShell->setGetURLHandler(weakBind(
      weak_from_this(), [](AppDelegate& self, const std::optional<std::string>& directObject) {
        self.handleGetURLEvent(directObject);
      }));
}

bool AppDelegate::isURL(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos || colon == 0 ||
      std::isalpha(static_cast<unsigned char>(text[0])) == 0) {
    return false;
  }
  for (std::size_t i = 0; i < colon; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (std::isalnum(c) == 0 && c != '+' && c != '-' && c != '.') {
      return false;
    }
  }
  return std::none_of(text.begin(), text.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c <= 0x20 || c == 0x7F;
  });
}

void AppDelegate::handleGetURLEvent(const std::optional<std::string>& directObject) {
  if (!directObject || !isURL(*directObject)) {
    return;
  }
  // The scheme and host only: the query may carry a sign-in code.
  const std::string& url = *directObject;
  const auto end = url.find_first_of("?#", url.find(':'));
  log_.log("url: get-URL event " + url.substr(0, end));
  if (services_.account == nullptr) {
    return;
  }
  if (services_.account->handleCallback(*directObject)) {
    showSettings(SettingsTab::account);
  }
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
  installGetURLHandler();
  installEditMenu();
  // Step 2: the updater, only when the bundle names a feed.
  if (services_.makeUpdater) {
    updater_ = services_.makeUpdater();
  }
  // Step 3: crash reports of earlier runs.
  if (services_.crashReporter != nullptr && platform_.diagnostics != nullptr) {
    services_.crashReporter->subscribe(*platform_.diagnostics);
  }
  // Step 4.
  if (services_.tester != nullptr) {
    services_.tester->start();
  }
  // Step 5: with a stored token the account's state is refreshed in the background.
  if (services_.account != nullptr && services_.account->token()) {
    services_.account->refresh();
  }
  // Step 6: the settings sync (signed in, it pulls at once).
  if (services_.sync != nullptr) {
    services_.sync->start();
  }
  // Step 7: statistics, and the environment they describe.
  startStatistics();
  services_.dockMonitor->start();
  createStatusItems();
  // Step 11: the menu bar HUD, following the Control Center setting.
  if (services_.mirror) {
    services_.mirror->start(services_.settings.mirrorHUDFollowsControlCenter());
  }
  // Step 12.
  registerHotKeys();
  // Step 13: the pending permission-flow mark is consumed at every launch, before onboarding
  // or the settings window decide what to show.
  if (services_.capture != nullptr) {
    resumedPermissionFlow_ = services_.capture->consumePendingPermissionRelaunch();
  }
  decideOnboarding();
  // The housekeeping polls the accessibility permission for the item's alert: a platform
  // without that permission has nothing to poll, and its idle program stays asleep.
  if (platform_.accessibility != nullptr ||
      platform_.processInfo->environmentValue("LUMARIN_DEBUG")) {
    scheduleHousekeeping();
  }
}

void AppDelegate::decideOnboarding() {
  const bool forced = platform_.processInfo->environmentValue("KESTOVA_ONBOARDING") == "1";
  if (forced || !*services_.settings.hasCompletedOnboarding()) {
    showOnboarding(false, weakBind(shared_from_this(), [](AppDelegate& self) {
                     self.services_.settings.seedDefaultAppsIfNeeded();
                     self.showSettings(SettingsTab::general);
                   }));
  } else if (resumedPermissionFlow_) {
    platform_.scheduler->mainQueue().post(weakBind(shared_from_this(), [](AppDelegate& self) {
      self.showSettings(SettingsTab::permissions);
    }));
  } else if (platform_.accessibility != nullptr && !platform_.accessibility->isProcessTrusted()) {
    showOnboarding(true, nullptr);
  }
}

void AppDelegate::showOnboarding(bool startAtPermissions, std::function<void()> onFinished) {
  if (services_.showOnboarding) {
    services_.showOnboarding(startAtPermissions, std::move(onFinished));
  } else {
    request(startAtPermissions ? "onboarding:permissions" : "onboarding");
  }
}

void AppDelegate::installEditMenu() {
  platform_.appShell->setMainMenu(makeMainMenu(services_.l10n.string("menu.quit")));
}

void AppDelegate::createStatusItems() {
  statusItemController_ = std::make_shared<StatusItemController>(StatusItemController::Dependencies{
      services_.settings, services_.l10n, services_.dockMonitor, *platform_.statusBar,
      platform_.accessibility, *platform_.workspace, *platform_.appShell, *platform_.panels,
      platform_.notifications, *platform_.scheduler, *platform_.defaults, *platform_.bundle,
      *platform_.processInfo, *platform_.systemLog, services_.appIcons,
      platform_.bundle->bundleIdentifier().value_or("com.kestova.Lumarin"),
      services_.applicationsDirectory, services_.offersHUD, services_.offersControlCenter});
  statusItemController_->setOnShowSettings(
      weakBind(shared_from_this(),
               [](AppDelegate& self, std::optional<SettingsTab> tab) { self.showSettings(tab); }));
  statusItemController_->setOnShowOnboarding(
      weakBind(shared_from_this(), [](AppDelegate& self) { self.showOnboarding(false, nullptr); }));
  statusItemController_->setOnToggleHUD(
      weakBind(shared_from_this(),
               [](AppDelegate& self, const std::string& trigger) { self.toggleHUD(trigger); }));
  statusItemController_->setOnCheckForUpdates(weakBind(shared_from_this(), [](AppDelegate& self) {
    if (self.updater_) {
      self.updater_->checkForUpdates();
    } else {
      self.request("updates");
    }
  }));
  statusItemController_->start();

  appItemsController_ =
      std::make_shared<AppStatusItemsController>(AppStatusItemsController::Dependencies{
          services_.settings, services_.dockMonitor, *platform_.statusBar, *platform_.events,
          *platform_.scheduler, *platform_.workspace, platform_.accessibility, services_.scanner,
          *platform_.defaults, services_.appIcons, services_.l10n, log_, *platform_.systemLog,
          services_.revision});
  appItemsController_->setOnShowSettings(weakBind(
      shared_from_this(), [](AppDelegate& self) { self.showSettings(SettingsTab::apps); }));
  appItemsController_->setStatisticsHook(services_.statistics);
  if (services_.openOwnItem) {
    appItemsController_->setOwnItemOpener(services_.openOwnItem);
  }
  if (services_.badgeHistory != nullptr) {
    BadgeHistory* history = services_.badgeHistory;
    appItemsController_->setWatchedObserver(
        [history](const std::set<std::string>& ids) { history->setWatched(ids); });
  }
  appItemsController_->start();
  appItemsController_->reconcile();
}

void AppDelegate::registerHotKeys() {
  if (platform_.hotKeys == nullptr) {
    log_.log("hotkey: this platform offers no system-wide shortcuts; none registered");
    return;
  }
  hotKey_ = std::make_shared<GlobalHotKey>(*platform_.hotKeys, log_);
  hotKey_->setStatisticsHook(services_.statistics);
  hotKey_->setOnTrigger(
      weakBind(shared_from_this(), [](AppDelegate& self) { self.showSettings(std::nullopt); }));
  hotKey_->registerHotKey(GlobalHotKey::kCommaKey, GlobalHotKey::kControlOptionCommand);
  // The HUD's shortcut only where there is a HUD: a grab for nothing would take the
  // combination from other apps.
  if (services_.offersHUD) {
    hotKey_->registerHotKey(
        2, GlobalHotKey::kMKey, GlobalHotKey::kControlOptionCommand,
        weakBind(shared_from_this(), [](AppDelegate& self) { self.toggleHUD("hotkey"); }));
  }
}

void AppDelegate::toggleHUD(const std::string& trigger) {
  if (services_.mirror) {
    services_.mirror->toggleHUD(trigger);
  } else {
    request("hud:" + trigger);
  }
}

void AppDelegate::request(const std::string& what) {
  // The windows and the HUD arrive with later parts; until then the request is on record.
  requests_.push_back(what);
  log_.log("request: " + what + " (not available in this build)");
}

void AppDelegate::showSettings(std::optional<SettingsTab> tab) {
  if (services_.showSettings) {
    services_.showSettings(tab);
  } else {
    request("settings:" + (tab ? std::string(settingsTabName(*tab)) : std::string("last")));
  }
}

namespace {

// The main item's menu and the app items' menus, each by its button's window.
class DelegateOwnItemMenus final : public OwnItemMenus {
 public:
  explicit DelegateOwnItemMenus(std::weak_ptr<AppDelegate> delegate)
      : delegate_(std::move(delegate)) {}

  std::optional<Menu> menuFor(std::uint32_t windowNumber) override {
    auto delegate = delegate_.lock();
    if (!delegate) {
      return std::nullopt;
    }
    if (isMain(*delegate, windowNumber)) {
      return delegate->statusItemController()->buildMenu(true);
    }
    if (const auto& apps = delegate->appItemsController()) {
      return apps->menuInWindow(windowNumber);
    }
    return std::nullopt;
  }

  void perform(std::uint32_t windowNumber, const MenuItem& entry) override {
    auto delegate = delegate_.lock();
    if (!delegate) {
      return;
    }
    if (isMain(*delegate, windowNumber)) {
      delegate->statusItemController()->perform(entry);
    } else if (const auto& apps = delegate->appItemsController()) {
      apps->chooseFromMenu(entry);
    }
  }

 private:
  static bool isMain(const AppDelegate& delegate, std::uint32_t windowNumber) {
    const auto& controller = delegate.statusItemController();
    if (!controller || !controller->statusItem()) {
      return false;
    }
    const auto window = controller->statusItem()->button().window();
    return window && window->number == windowNumber;
  }

  std::weak_ptr<AppDelegate> delegate_;
};

}  // namespace

std::shared_ptr<OwnItemMenus> AppDelegate::ownItemMenus() {
  return std::make_shared<DelegateOwnItemMenus>(weak_from_this());
}

void AppDelegate::scheduleHousekeeping() {
  housekeepingTimer_ = platform_.scheduler->mainQueue().scheduleRepeating(
      seconds(kHousekeepingInterval), Duration::zero(),
      weakBind(shared_from_this(), [](AppDelegate& self) { self.housekeeping(); }));
}

void AppDelegate::housekeeping() {
  ++housekeepingTicks_;
  if (statusItemController_) {
    statusItemController_->refreshIcon();
  }
  if (appItemsController_ && platform_.processInfo->environmentValue("LUMARIN_DEBUG")) {
    appItemsController_->debugDumpFrames();
  }
}

void AppDelegate::applicationWillTerminate() {
  log_.log("startup: applicationWillTerminate pid=" +
           std::to_string(platform_.processInfo->processIdentifier()));
  // What is queued goes out now if it can, within two seconds.
  if (services_.improve != nullptr) {
    services_.improve->flushNow(true);
  }
}

void AppDelegate::recordStatistic(const std::string& name, const Properties& properties) const {
  if (services_.statistics) {
    services_.statistics(name, properties);
  }
}

void AppDelegate::startStatistics() {
  if (services_.improve != nullptr) {
    services_.improve->start();
  }
  const auto screens = platform_.screens->screens();
  const bool notch = std::any_of(screens.begin(), screens.end(),
                                 [](const ScreenInfo& s) { return s.safeAreaTopInset > 0; });
  recordStatistic(
      "app.env",
      {{"notch", notch},
       {"displays", static_cast<std::int64_t>(screens.size())},
       {"monitoredApps", static_cast<std::int64_t>(services_.settings.monitoredApps()->size())},
       {"followCC", *services_.settings.mirrorHUDFollowsControlCenter()}});
}

}  // namespace lumarin
