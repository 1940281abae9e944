#include "root/DesktopAssembly.h"

#include <unistd.h>

#include <QCursor>
#include <QStandardPaths>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>

#include "app/AppDelegate.h"
#include "app/BadgeSnapshots.h"
#include "badges/AppIcons.h"
#include "badges/AppItemsRevision.h"
#include "badges/BadgeHistory.h"
#include "base/Json.h"
#include "cloud/CloudAccount.h"
#include "cloud/CloudConfig.h"
#include "cloud/CloudSync.h"
#include "desktop/AppTrayItems.h"
#include "desktop/LauncherBadgeMonitor.h"
#include "diagnostics/DebugLog.h"
#include "gfx/Drawing.h"
#include "hud/MirrorController.h"
#include "hud/MirrorHistory.h"
#include "hud/TrayTiles.h"
#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "platform/AppShell.h"
#include "platform/Bundle.h"
#include "platform/HotKeys.h"
#include "platform/Paths.h"
#include "platform/ProcessInfo.h"
#include "platform/RunLoop.h"
#include "platform/Scheduler.h"
#include "platform/desktop/DesktopAppShell.h"
#include "platform/desktop/DesktopEvents.h"
#include "platform/desktop/DesktopWorkspace.h"
#include "platform/desktop/PortalHotKeys.h"
#include "platform/desktop/QtPanels.h"
#include "platform/desktop/QtScreens.h"
#include "platform/desktop/SniStatusBar.h"
#include "platform/desktop/SniTrayHost.h"
#include "platform/desktop/X11HotKeys.h"
#include "platform/host/JsonFileUserDefaults.h"
#include "platform/host/QtFrameworkLocalization.h"
#include "root/DiagnosticsAssembly.h"
#include "root/HUDAssembly.h"
#include "root/PlatformAssembly.h"
#include "root/RunEnding.h"
#include "root/WindowsAssembly.h"
#include "ui/MenuPopup.h"
#include "updates/QtUpdateUserDriver.h"
#include "updates/Relaunch.h"
#include "updates/UpdaterController.h"

namespace lumarin {

namespace {

double rounded(double seconds) { return std::round(seconds * 1000) / 1000; }

// What the program asked of the desktop's apps, for the run's report: each launch or
// activation and each web address opened. Forwards every call to the desktop's workspace.
class RecordingWorkspace final : public Workspace {
 public:
  RecordingWorkspace(Workspace& inner, const Clock& clock)
      : inner_(inner), clock_(clock), start_(clock.monotonicNow()) {}

  std::vector<RunningApplication> runningApplications() const override {
    return inner_.runningApplications();
  }
  std::optional<std::string> urlForApplication(const std::string& id) const override {
    return inner_.urlForApplication(id);
  }
  std::optional<BundleDescription> bundleAtURL(const std::string& url) const override {
    return inner_.bundleAtURL(url);
  }
  Image iconForFile(const std::string& url) const override { return inner_.iconForFile(url); }
  bool openApplication(const std::string& url) override {
    const auto bundle = inner_.bundleAtURL(url);
    const std::string app = bundle ? bundle->bundleIdentifier : url;
    bool running = false;
    for (const auto& candidate : inner_.runningApplications()) {
      running = running || candidate.bundleIdentifier == app;
    }
    const bool ok = inner_.openApplication(url);
    record(app, "openApplication", !running, ok);
    return ok;
  }
  bool activate(int pid) override {
    std::string app = std::to_string(pid);
    for (const auto& candidate : inner_.runningApplications()) {
      if (candidate.pid == pid) {
        app = candidate.bundleIdentifier.value_or(app);
      }
    }
    const bool ok = inner_.activate(pid);
    record(app, "activate", false, ok);
    return ok;
  }
  bool openURL(const std::string& url) override {
    {
      std::lock_guard lock(mutex_);
      openedURLs_.push_back(url);
    }
    return inner_.openURL(url);
  }
  bool accessibilityDisplayShouldReduceMotion() const override {
    return inner_.accessibilityDisplayShouldReduceMotion();
  }
  Subscription observeLaunches(std::function<void(const RunningApplication&)> handler) override {
    return inner_.observeLaunches(std::move(handler));
  }
  Subscription observeTerminations(
      std::function<void(const RunningApplication&)> handler) override {
    return inner_.observeTerminations(std::move(handler));
  }

  json::OrderedJson activationsJson() const {
    std::lock_guard lock(mutex_);
    return activations_;
  }
  json::OrderedJson openedURLsJson() const {
    std::lock_guard lock(mutex_);
    return json::OrderedJson(openedURLs_);
  }

 private:
  void record(const std::string& app, const char* via, bool launched, bool ok) {
    json::OrderedJson entry;
    entry["at"] = rounded(toSeconds(clock_.monotonicNow() - start_));
    entry["app"] = app;
    entry["via"] = via;
    entry["launched"] = launched;
    entry["ok"] = ok;
    std::lock_guard lock(mutex_);
    activations_.push_back(std::move(entry));
  }

  Workspace& inner_;
  const Clock& clock_;
  Duration start_;
  mutable std::mutex mutex_;
  json::OrderedJson activations_ = json::OrderedJson::array();
  std::vector<std::string> openedURLs_;
};

// The system-wide shortcuts the program registered and the presses that reached it, for the
// run's report. Forwards every call to the display's shortcuts.
class RecordingHotKeys final : public HotKeys {
 public:
  RecordingHotKeys(HotKeys& inner, const Clock& clock)
      : inner_(inner), clock_(clock), start_(clock.monotonicNow()) {
    // A desktop that answers later (the portal): the registration's row takes its answer.
    inner_.setStatusObserver([this](Handle handle, int status) {
      if (auto row = rows_.find(handle); row != rows_.end()) {
        registrations_[row->second]["status"] = status;
        registrations_[row->second]["active"] = status == 0;
        registrations_[row->second]["answeredAt"] = now();
      }
      if (observer_) {
        observer_(handle, status);
      }
    });
  }

  int registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID identity,
                     Handle& handle) override {
    const int status = inner_.registerHotKey(keyCode, modifiers, identity, handle);
    registrations_.push_back(json::OrderedJson{{"at", now()},
                                               {"id", identity.id},
                                               {"keyCode", keyCode},
                                               {"modifiers", modifiers},
                                               {"status", status},
                                               {"active", status == 0}});
    if (status == 0) {
      rows_[handle] = registrations_.size() - 1;
    }
    return status;
  }
  void unregisterHotKey(Handle handle) override {
    if (auto row = rows_.find(handle); row != rows_.end()) {
      registrations_[row->second]["active"] = false;
      rows_.erase(row);
    }
    inner_.unregisterHotKey(handle);
  }
  void installHandler(std::function<int(std::optional<HotKeyID>)> handler) override {
    inner_.installHandler([this, handler = std::move(handler)](std::optional<HotKeyID> id) {
      presses_.push_back(json::OrderedJson{
          {"at", now()}, {"reached", id ? std::to_string(id->id) : std::string("none")}});
      return handler ? handler(id) : 0;
    });
  }

  void setStatusObserver(const std::function<void(Handle, int)>& observer) override {
    observer_ = observer;
  }

  json::OrderedJson toJson() const {
    return {{"registrations", registrations_}, {"presses", presses_}};
  }

 private:
  double now() const { return rounded(toSeconds(clock_.monotonicNow() - start_)); }

  HotKeys& inner_;
  const Clock& clock_;
  Duration start_;
  json::OrderedJson registrations_ = json::OrderedJson::array();
  json::OrderedJson presses_ = json::OrderedJson::array();
  std::map<Handle, std::size_t> rows_;
  std::function<void(Handle, int)> observer_;
};

// The display's system-wide shortcuts: X11's key grabs on an X11 display, else the desktop
// portal's global shortcuts where the desktop offers them (Wayland), else none.
std::unique_ptr<HotKeys> systemShortcuts(PlatformAssembly& host) {
  const Platform& p = host.platform();
  auto x11 = std::make_unique<X11HotKeys>(*p.scheduler);
  if (x11->isConnected()) {
    return x11;
  }
  auto portal =
      std::make_unique<PortalHotKeys>(*p.scheduler, *p.systemLog, PortalHotKeys::Options{});
  if (portal->available()) {
    return portal;
  }
  return nullptr;
}

// Stands in for the shortcuts where the display has none, so the recording wrapper always has
// something to wrap; the platform then offers no shortcuts at all.
class NoHotKeys final : public HotKeys {
 public:
  int registerHotKey(std::uint32_t, std::uint32_t, HotKeyID, Handle&) override { return -1; }
  void unregisterHotKey(Handle) override {}
  void installHandler(std::function<int(std::optional<HotKeyID>)>) override {}
};

// A menu value as the report lists its entries: titles ("-" for separators), with the marks
// and submenus they carry.
json::OrderedJson entriesJson(const Menu& menu) {
  json::OrderedJson out = json::OrderedJson::array();
  for (const auto& item : menu.items) {
    if (item.isSeparator) {
      out.push_back("-");
      continue;
    }
    json::OrderedJson entry;
    entry["title"] = item.title;
    entry["key"] = item.keyEquivalent;
    entry["modifiers"] = item.modifiers;
    entry["checked"] = item.checked;
    entry["enabled"] = item.enabled;
    entry["image"] = item.image.has_value();
    if (item.submenu) {
      entry["submenu"] = entriesJson(*item.submenu);
    }
    out.push_back(std::move(entry));
  }
  return out;
}

// Where "Other App…" browses: the user's own desktop entries when they exist, else the
// system's.
std::string applicationsDirectory() {
  const QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
  for (const QString& dir : dirs) {
    if (std::filesystem::is_directory(dir.toStdString())) {
      return dir.toStdString();
    }
  }
  return "/usr/share/applications";
}

Platform desktopPlatform(const Platform& host, Workspace* workspace, StatusBar* statusBar,
                         Events* events, Screens* screens, Panels* panels, AppShell* appShell,
                         HotKeys* hotKeys) {
  Platform p = host;
  p.workspace = workspace;
  p.statusBar = statusBar;
  p.events = events;
  p.screens = screens;
  p.panels = panels;
  p.appShell = appShell;
  // What the desktop has no counterpart for: the application layer leaves it out.
  p.accessibility = nullptr;
  p.windowServer = nullptr;
  p.screenCapture = nullptr;
  p.hotKeys = hotKeys;
  p.notifications = nullptr;
  p.windows = nullptr;
  return p;
}

}  // namespace

struct DesktopAssembly::Parts {
  Parts(PlatformAssembly& host, const Options& options)
      : shortcuts(systemShortcuts(host)),
        hotKeys(shortcuts ? *shortcuts : noShortcuts, *host.platform().clock),
        p(desktopPlatform(host.platform(), &workspace, &statusBar, &events, &screens, &panels,
                          &appShell, shortcuts ? &hotKeys : nullptr)),
        log(host.debugLog()),
        statusBar(*p.scheduler, events, *p.systemLog),
        desktopWorkspace(),
        workspace(desktopWorkspace, *p.clock),
        l10n(*p.defaults, host.frameworkLanguage(), &host.frameworkLocalization(),
             [process = p.processInfo] {
               return JsonFileUserDefaults::languagesFromEnvironment(*process);
             }),
        settings(AppSettings::Dependencies{*p.defaults, *p.loginItems, *p.systemLog, log, *p.clock,
                                           &l10n}),
        badges(std::make_shared<LauncherBadgeMonitor>(LauncherBadgeMonitor::Dependencies{
            *p.scheduler,
            desktopWorkspace,
            [this] {
              std::vector<DockItem> apps;
              for (const auto& entry : desktopWorkspace.installedApplications()) {
                apps.push_back(DockItem{entry.id, entry.name, false, std::nullopt, {}});
              }
              return apps;
            },
            [this](std::string_view line) { log.log(line); },
            true,
            {}})),
        appIcons(workspace),
        badgeHistory(*badges, *p.clock),
        cloud(CloudConfig::fromEnvironment(*p.processInfo)),
        account(
            CloudAccount::Dependencies{*p.http, *p.secrets, workspace, *p.scheduler, log, cloud}),
        sync(CloudSync::Dependencies{settings, account, *p.defaults, *p.http, *p.scheduler, log,
                                     cloud}),
        diagnostics(p, log, settings, cloud, account, options.report.has_value() || options.story),
        windows(WindowsAssembly::Dependencies{p, [] { return false; }, settings, l10n, appIcons,
                                              *badges, &account, &sync, &diagnostics.tester(),
                                              nullptr, nullptr, nullptr,
                                              options.report.has_value() || options.story}),
        trayItems(workspace),
        trayHost(*p.scheduler, *p.systemLog, SniTrayHost::Options{}),
        trayTiles(std::make_shared<TrayTileModel>(trayHost, *p.scheduler, log)),
        trayClicks(std::make_shared<TrayClickForwarder>(TrayClickForwarder::Dependencies{
            trayHost, log,
            []() -> std::optional<GlobalPoint> {
              const QPoint at = QCursor::pos();
              return GlobalPoint{static_cast<double>(at.x()), static_cast<double>(at.y())};
            },
            [this](const std::string& owner, const Menu& menu, const MenuHandlers& handlers,
                   GlobalPoint at) { return present(owner, menu, handlers, at); }})),
        mirrorHistory(*trayTiles, *p.clock, options.report.has_value() || options.story),
        hud(p, log, trayTiles, *trayClicks, nullptr, l10n, mirrorHistory,
            [this](const std::string& name, const Properties& properties) {
              diagnostics.record(name, properties);
            }),
        startedAt(p.clock->monotonicNow()) {
    trayClicks->setReporter([this](const HUDClickSink::Report& report) {
      mirrorHistory.recordClick(report);
      diagnostics.record("mirror.click", {{"ok", report.ok},
                                          {"path", report.path},
                                          {"targetApp", report.targetApp},
                                          {"notchHidden", report.notchHidden}});
    });
    if (options.snapshot) {
      hud.keepFilteredPicture();
    }
    AppServices services{settings,
                         l10n,
                         badges,
                         appIcons,
                         nullptr,
                         revision,
                         &badgeHistory,
                         nullptr,
                         &account,
                         &sync,
                         hud.controller(),
                         &diagnostics.improve(),
                         &diagnostics.crashReporter(),
                         &diagnostics.tester(),
                         windows.showOnboarding(),
                         makeUpdater(),
                         [this](const std::string& name, const Properties& properties) {
                           diagnostics.record(name, properties);
                         },
                         windows.showSettings()};
    services.offersControlCenter = false;
    services.applicationsDirectory = applicationsDirectory();
    services.openOwnItem = [this](const std::string& appID) {
      // Where the pointer is: the click that got here was on our item in the panel.
      const QPoint at = QCursor::pos();
      return trayItems.activate(appID, at.x(), at.y());
    };
    delegate = std::make_shared<AppDelegate>(p, log, std::move(services));
    windows.attach(delegate);
    appShell.setActivationPolicy(ActivationPolicy::accessory);
    statusBar.setMenuPresenter(
        [this](const std::string& owner, const Menu& menu, const MenuHandlers& handlers) {
          const QPoint at = QCursor::pos();
          present(owner, menu, handlers,
                  GlobalPoint{static_cast<double>(at.x()), static_cast<double>(at.y())});
        });
  }

  // A menu the program pops up itself (an item's right click, a tray item's menu from the
  // HUD), drawn by Qt at a screen point and kept for the report with what became of it.
  // Returns what replaces the shown entries while the menu is open (kept in the report too).
  std::function<void(const Menu&)> present(const std::string& owner, const Menu& menu,
                                           const MenuHandlers& handlers, GlobalPoint at) {
    const std::size_t index = shownMenus.size();
    json::OrderedJson entry;
    entry["at"] = rounded(toSeconds(p.clock->monotonicNow() - startedAt));
    entry["item"] = owner;
    entry["entries"] = entriesJson(menu);
    entry["outcome"] = "open";
    shownMenus.push_back(std::move(entry));
    MenuHandlers recorded;
    recorded.chose = [this, index, chose = handlers.chose](const MenuItem& item) {
      shownMenus[index]["outcome"] = "chose";
      shownMenus[index]["chose"] = item.title;
      if (chose) {
        chose(item);
      }
    };
    recorded.didClose = [this, index, didClose = handlers.didClose] {
      if (shownMenus[index]["outcome"] == "open") {
        shownMenus[index]["outcome"] = "closed";
      }
      if (didClose) {
        didClose();
      }
    };
    recorded.submenuOpened = handlers.submenuOpened;
    recorded.submenuClosed = handlers.submenuClosed;
    auto update =
        popUpMenu(menu, std::move(recorded), static_cast<int>(at.x), static_cast<int>(at.y));
    return [this, index, update = std::move(update)](const Menu& changed) {
      shownMenus[index]["entries"] = entriesJson(changed);
      shownMenus[index]["updates"] = shownMenus[index].value("updates", 0) + 1;
      update(changed);
    };
  }

  std::function<std::unique_ptr<UpdaterController>()> makeUpdater() {
    return [this] {
      updateWindows = std::make_unique<QtUpdateUserDriver>(l10n);
      AppShell* shell = p.appShell;
      const DebugLog* debugLog = &log;
      return UpdaterController::create(UpdaterController::Dependencies{
          *p.scheduler,
          *p.http,
          *p.defaults,
          *p.bundle,
          *updateWindows,
          [shell](const std::filesystem::path& executable) {
            // The new program starts once this one has ended.
            (void)relaunchAfterExit(executable, {}, ::getpid());
            shell->terminate();
          },
          {},
          [debugLog](std::string_view line) { debugLog->log(line); }});
    };
  }

  json::OrderedJson statusItemsJson() const {
    json::OrderedJson out = json::OrderedJson::array();
    for (const auto& item : statusBar.items()) {
      json::OrderedJson entry;
      entry["autosaveName"] = item->autosaveName();
      const auto state = statusBar.stateOf(*item);
      entry["service"] = state ? json::OrderedJson(state->service) : json::OrderedJson();
      entry["path"] = state ? json::OrderedJson(state->objectPath) : json::OrderedJson();
      entry["status"] = state ? json::OrderedJson(state->status) : json::OrderedJson();
      entry["registered"] = state && state->registered;
      entry["visible"] = item->isVisible();
      StatusBarButton& button = item->button();
      const auto& styled = button.attributedTitle();
      entry["title"] = styled ? json::OrderedJson(styled->text) : json::OrderedJson("");
      entry["toolTip"] =
          button.toolTip() ? json::OrderedJson(*button.toolTip()) : json::OrderedJson();
      entry["picture"] = button.image()
                             ? json::OrderedJson("statusItems/" + item->autosaveName() + ".png")
                             : json::OrderedJson();
      out.push_back(std::move(entry));
    }
    return out;
  }

  json::OrderedJson applicationsJson() const {
    json::OrderedJson out = json::OrderedJson::array();
    for (const auto& app : workspace.runningApplications()) {
      json::OrderedJson entry;
      entry["pid"] = app.pid;
      entry["bundleID"] =
          app.bundleIdentifier ? json::OrderedJson(*app.bundleIdentifier) : json::OrderedJson();
      entry["name"] = app.localizedName;
      out.push_back(std::move(entry));
    }
    return out;
  }

  std::string report() const {
    json::OrderedJson out;
    out["platform"] = "desktop";
    out["duration"] = rounded(toSeconds(p.clock->monotonicNow() - startedAt));
    out["applications"] = applicationsJson();
    json::OrderedJson monitored = json::OrderedJson::array();
    for (const auto& app : *settings.monitoredApps()) {
      monitored.push_back({{"bundleID", app.bundleID}, {"name", app.name}});
    }
    out["monitoredApps"] = monitored;
    out["openedURLs"] = workspace.openedURLsJson();
    out["badges"] = json::parse(badgeHistory.toJson()).valueOr(json::Json::object());
    out["activations"] = workspace.activationsJson();
    out["statusItems"] = statusItemsJson();
    out["hotKeys"] = hotKeys.toJson();
    out["mirror"] = json::parse(mirrorHistory.publicationsJson()).valueOr(json::Json::array());
    out["forwardedClicks"] = json::parse(mirrorHistory.clicksJson()).valueOr(json::Json::array());
    out["hud"] = json::parse(mirrorHistory.hudJson()).valueOr(json::Json::object());
    out["menus"] = shownMenus;
    out["diagnostics"] = json::parse(diagnostics.historyJson()).valueOr(json::Json::object());
    out["windows"] = json::parse(windows.historyJson()).valueOr(json::Json::array());
    return json::dump(out);
  }

  Status writeSnapshots(const std::filesystem::path& directory) const {
    const auto& monitored = *settings.monitoredApps();
    const std::string sample = monitored.empty() ? std::string() : monitored.front().bundleID;
    auto written = writeBadgeSnapshots(directory, const_cast<AppIcons&>(appIcons), sample,
                                       monitored, *settings.defaultStyle(), *badges->items(), 2);
    if (!written) {
      return written.error();
    }
    const auto pictures = directory / "statusItems";
    std::error_code error;
    std::filesystem::create_directories(pictures, error);
    for (const auto& item : statusBar.items()) {
      const auto& image = item->button().image();
      if (!image) {
        continue;
      }
      const Image picture = image->rasterize(2);
      if (picture.isEmpty()) {
        continue;
      }
      if (auto status = writePng(picture, pictures / (item->autosaveName() + ".png")); !status) {
        return status;
      }
    }
    return hud.writePanelPictures(directory);
  }

  // Before the platform that points at them: the display's shortcuts, when it is an X11 one.
  NoHotKeys noShortcuts;
  std::unique_ptr<HotKeys> shortcuts;
  RecordingHotKeys hotKeys;
  Platform p;
  const DebugLog& log;
  DesktopEvents events;
  SniStatusBar statusBar;
  QtScreens screens;
  QtPanels panels;
  DesktopAppShell appShell;
  DesktopWorkspace desktopWorkspace;
  RecordingWorkspace workspace;
  L10n l10n;
  AppSettings settings;
  std::shared_ptr<LauncherBadgeMonitor> badges;
  AppIcons appIcons;
  BadgeHistory badgeHistory;
  AppItemsRevision revision;
  CloudConfig cloud;
  CloudAccount account;
  CloudSync sync;  // after the account, so it goes first
  DiagnosticsAssembly diagnostics;
  WindowsAssembly windows;
  AppTrayItems trayItems;
  // Every app's tray items, shown as the HUD's tiles.
  SniTrayHost trayHost;
  std::shared_ptr<TrayTileModel> trayTiles;
  std::shared_ptr<TrayClickForwarder> trayClicks;
  MirrorHistory mirrorHistory;
  HUDAssembly hud;
  std::unique_ptr<QtUpdateUserDriver> updateWindows;
  std::shared_ptr<AppDelegate> delegate;
  json::OrderedJson shownMenus = json::OrderedJson::array();
  Duration startedAt{};
};

DesktopAssembly::DesktopAssembly(PlatformAssembly& host, const Options& options)
    : host_(host), options_(options), parts_(std::make_unique<Parts>(host, options)) {
  parts_->appShell.setTerminationHandler([&host] { host.runLoop().stop(); });
}

DesktopAssembly::~DesktopAssembly() = default;

AppDelegate& DesktopAssembly::delegate() { return *parts_->delegate; }

bool DesktopAssembly::deliverLink(const std::string& url) {
  return parts_->appShell.deliverGetURL(url);
}

void DesktopAssembly::launch() {
  const Platform& p = parts_->p;
  parts_->startedAt = p.clock->monotonicNow();
  parts_->trayHost.start();
  auto delegate = parts_->delegate;
  p.scheduler->mainQueue().post([delegate] { delegate->applicationDidFinishLaunching(); });
  if (options_.openURL) {
    DesktopAppShell* shell = &parts_->appShell;
    p.scheduler->mainQueue().post(
        [shell, url = *options_.openURL] { (void)shell->deliverGetURL(url); });
  }
  if (options_.runFor) {
    RunLoop* runLoop = &host_.runLoop();
    p.scheduler->mainQueue().postAfter(seconds(*options_.runFor), [runLoop] { runLoop->stop(); });
  }
}

int DesktopAssembly::finish() {
  Parts& parts = *parts_;
  parts.delegate->applicationWillTerminate();
  const std::string report = options_.report || options_.story ? parts.report() : std::string();
  Status pictures = options_.snapshot ? parts.writeSnapshots(*options_.snapshot) : success();
  // The tray forgets the items now rather than when the connection drops.
  for (const auto& item : parts.statusBar.items()) {
    parts.statusBar.removeStatusItem(item);
  }
  return endRun(
      options_, report, [&pictures] { return pictures; },
      "statusItems/, apps/, catalogue/, hud.png");
}

}  // namespace lumarin
