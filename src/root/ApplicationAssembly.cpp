#include "root/ApplicationAssembly.h"

#include <unistd.h>

#include <QGuiApplication>
#include <cstdio>
#include <filesystem>
#include <map>

#include "app/AppDelegate.h"
#include "app/BadgeSnapshots.h"
#include "app/MenuBarSnapshot.h"
#include "badges/AppIcons.h"
#include "badges/AppItemsRevision.h"
#include "badges/BadgeHistory.h"
#include "badges/DockBadgeMonitor.h"
#include "cloud/CloudAccount.h"
#include "cloud/CloudConfig.h"
#include "cloud/CloudSync.h"
#include "diagnostics/DebugLog.h"
#include "gfx/Drawing.h"
#include "hud/MirrorClickForwarder.h"
#include "hud/MirrorController.h"
#include "hud/MirrorHUDController.h"
#include "hud/MirrorHistory.h"
#include "hud/MirrorModel.h"
#include "l10n/L10n.h"
#include "menubar/ControlCenterExtras.h"
#include "menubar/IconCache.h"
#include "menubar/MenuBarAgentLayout.h"
#include "menubar/MenuBarGeometry.h"
#include "menubar/SkyLight.h"
#include "menubar/StatusItemCapture.h"
#include "menubar/StatusItemScanner.h"
#include "model/AppSettings.h"
#include "platform/AppShell.h"
#include "platform/Bundle.h"
#include "platform/Paths.h"
#include "platform/ProcessInfo.h"
#include "platform/RunLoop.h"
#include "platform/Scheduler.h"
#include "platform/Screens.h"
#include "platform/host/JsonFileUserDefaults.h"
#include "platform/host/QtFrameworkLocalization.h"
#include "platform/sim/Report.h"
#include "platform/sim/SimMenuBarRenderer.h"
#include "platform/sim/SimulatedMac.h"
#include "platform/sim/Timeline.h"
#include "root/DiagnosticsAssembly.h"
#include "root/HUDAssembly.h"
#include "root/PlatformAssembly.h"
#include "root/RunEnding.h"
#include "root/WindowsAssembly.h"
#include "simulator/SimulatorWindow.h"
#include "updates/QtUpdateUserDriver.h"
#include "updates/Relaunch.h"
#include "updates/UpdaterController.h"

namespace lumarin {

struct ApplicationAssembly::Parts {
  Parts(PlatformAssembly& assembly, const Options& options)
      : p(assembly.platform()),
        mac(assembly.mac()),
        skyLight(*p.windowServer,
                 p.processInfo->environmentValue("LUMARIN_MARKER_MOVE").has_value()),
        scanner(StatusItemScanner::Dependencies{*p.accessibility, *p.workspace, skyLight,
                                                *p.windowServer, *p.defaults, assembly.debugLog(),
                                                p.processInfo->processIdentifier()}),
        controlCenterExtras(*p.accessibility, *p.workspace),
        agentLayout(*p.accessibility, *p.workspace),
        iconCache(p.paths->applicationSupportDirectory()),
        capture(std::make_shared<StatusItemCapture>(StatusItemCapture::Dependencies{
            *p.screenCapture, *p.screens, *p.scheduler, *p.defaults, *p.workspace, *p.processInfo,
            iconCache, p.paths->applicationSupportDirectory()})),
        l10n(*p.defaults, assembly.frameworkLanguage(), &assembly.frameworkLocalization(),
             [process = p.processInfo] {
               return JsonFileUserDefaults::languagesFromEnvironment(*process);
             }),
        settings(AppSettings::Dependencies{*p.defaults, *p.loginItems, *p.systemLog,
                                           assembly.debugLog(), *p.clock, &l10n}),
        dockMonitor(
            std::make_shared<DockBadgeMonitor>(*p.accessibility, *p.workspace, *p.scheduler)),
        appIcons(*p.workspace),
        badgeHistory(*dockMonitor, *p.clock),
        cloud(CloudConfig::fromEnvironment(*p.processInfo)),
        account(CloudAccount::Dependencies{*p.http, *p.secrets, *p.workspace, *p.scheduler,
                                           assembly.debugLog(), cloud}),
        sync(CloudSync::Dependencies{settings, account, *p.defaults, *p.http, *p.scheduler,
                                     assembly.debugLog(), cloud}),
        mirror(std::make_shared<MirrorModel>(MirrorModel::Dependencies{
            *p.scheduler, scanner, skyLight, controlCenterExtras, agentLayout, menuBarOverflow,
            *p.screens, capture, iconCache, *p.accessibility, *p.workspace, *p.statusBar,
            assembly.debugLog(), [world = &mac.world] { return world->darkMenuBar(); }})),
        forwarder(std::make_shared<MirrorClickForwarder>(MirrorClickForwarder::Dependencies{
            *p.accessibility, *p.windowServer, *p.screens, menuBarOverflow, *p.events, *p.scheduler,
            *p.statusBar, assembly.debugLog(), p.bundle->bundleIdentifier().value_or("")})),
        mirrorHistory(*mirror, *p.clock, options.report.has_value() || options.story),
        diagnostics(p, assembly.debugLog(), settings, cloud, account,
                    options.report.has_value() || options.story),
        hud(p, assembly.debugLog(), mirror, *forwarder, &skyLight, l10n, mirrorHistory,
            statistics()),
        windows(WindowsAssembly::Dependencies{
            p, [world = &mac.world] { return world->darkMenuBar(); }, settings, l10n, appIcons,
            *dockMonitor, &account, &sync, &diagnostics.tester(), &hud,
            [this](const std::filesystem::path& directory) {
              (void)hud.writeSnapshots(directory, this->mac.world);
            },
            capture.get(), options.report.has_value() || options.story}),
        delegate(std::make_shared<AppDelegate>(
            p, assembly.debugLog(),
            AppServices{settings, l10n, dockMonitor, appIcons, &scanner, revision, &badgeHistory,
                        capture.get(), &account, &sync, hud.controller(), &diagnostics.improve(),
                        &diagnostics.crashReporter(), &diagnostics.tester(),
                        windows.showOnboarding(), makeUpdater(assembly.debugLog()), statistics(),
                        windows.showSettings()})) {
    windows.attach(delegate);
    // The HUD's filter finds the own items' menu entries, and Return runs them.
    const auto ownMenus = delegate->ownItemMenus();
    mirror->setOwnMenus(ownMenus);
    forwarder->setOwnMenus(ownMenus);
    if (options.snapshot) {
      hud.keepFilteredPicture();
    }
    forwarder->setReporter([this](const MirrorClickForwarder::Report& report) {
      mirrorHistory.recordClick(report);
      diagnostics.record("mirror.click", {{"ok", report.ok},
                                          {"path", report.path},
                                          {"targetApp", report.targetApp},
                                          {"notchHidden", report.notchHidden}});
    });
    scanner.setStatisticsHook(
        [this](const std::string& event, int items, int unidentified, int ms) {
          diagnostics.record(event, {{"items", std::int64_t{items}},
                                     {"unidentified", std::int64_t{unidentified}},
                                     {"ms", std::int64_t{ms}},
                                     {"sample", std::int64_t{10}}});
        });
    // A tile click from the scenario goes through the forwarder as the HUD's click would.
    assembly.timeline().setProgramActions([this](const sim::ScenarioEvent& event) {
      if (event.action == "typeText" && event.item == "hud") {
        // Typed into the HUD while it is the key panel, as its view passes typing on.
        HUDKey typed;
        typed.kind = HUDKey::Kind::text;
        typed.text = event.title;
        return hud.controller()->hud().keyPressed(typed);
      }
      if (event.action != "clickTile") {
        return windows.perform(event);
      }
      const auto& targets = mirror->targetsByID();
      auto target = targets.find(event.item);
      if (target == targets.end()) {
        return false;
      }
      if (auto controller = delegate->appItemsController()) {
        forwarder->setAppItems(controller);
      }
      // The event being handled is the tile's own mouse-up in the HUD.
      mac.events.setCurrentEvent(
          Event{event.rightButton ? EventType::rightMouseUp : EventType::leftMouseUp, 1,
                event.modifiers});
      // A click in the open HUD closes it, as the view's click does.
      MirrorHUDController& panel = hud.controller()->hud();
      if (panel.isVisible()) {
        panel.tileClicked(target->second, event.rightButton, event.modifiers);
      } else {
        forwarder->forward(target->second, event.rightButton, event.modifiers);
      }
      return true;
    });
    // The HUD refreshes the model only while it is shown; runs that report, take pictures or
    // click tiles also need it while the HUD is closed: one second after the start, then every
    // ten seconds.
    const auto& timeline = assembly.scenario().timeline;
    const bool clicksTiles = std::any_of(timeline.begin(), timeline.end(),
                                         [](const auto& e) { return e.action == "clickTile"; });
    if (options.report || options.story || options.snapshot || clicksTiles) {
      std::weak_ptr<MirrorModel> weak = mirror;
      refreshTimer =
          p.scheduler->mainQueue().scheduleRepeating(seconds(10), Duration::zero(), [weak] {
            if (auto model = weak.lock()) {
              model->refresh();
            }
          });
      refreshTimer->rearm(seconds(1), seconds(10), Duration::zero());
    }
  }

  const Platform& p;
  sim::SimulatedMac& mac;
  SkyLight skyLight;
  StatusItemScanner scanner;
  ControlCenterExtras controlCenterExtras;
  MenuBarAgentLayout agentLayout;
  MenuBarOverflow menuBarOverflow;
  IconCache iconCache;
  std::shared_ptr<StatusItemCapture> capture;
  L10n l10n;
  AppSettings settings;
  std::shared_ptr<DockBadgeMonitor> dockMonitor;
  AppIcons appIcons;
  BadgeHistory badgeHistory;
  AppItemsRevision revision;
  CloudConfig cloud;
  CloudAccount account;
  CloudSync sync;  // after the account, so it goes first
  std::shared_ptr<MirrorModel> mirror;
  std::shared_ptr<MirrorClickForwarder> forwarder;
  MirrorHistory mirrorHistory;
  DiagnosticsAssembly diagnostics;
  HUDAssembly hud;
  WindowsAssembly windows;
  std::shared_ptr<AppDelegate> delegate;
  std::shared_ptr<RepeatingTimer> refreshTimer;
  std::unique_ptr<sim::SimulatorWindow> simulator;  // with a display
  Duration startedAt{};

  Status writeSnapshots(const std::filesystem::path& directory);
  std::unique_ptr<QtUpdateUserDriver> updateWindows;
  std::function<std::unique_ptr<UpdaterController>()> makeUpdater(const DebugLog& log) {
    return [this, &log] {
      updateWindows = std::make_unique<QtUpdateUserDriver>(l10n);
      AppShell* shell = p.appShell;
      return UpdaterController::create(
          UpdaterController::Dependencies{*p.scheduler,
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
                                          [&log](std::string_view line) { log.log(line); }});
    };
  }
  std::function<void(const std::string&, const Properties&)> statistics() {
    return [this](const std::string& name, const Properties& properties) {
      diagnostics.record(name, properties);
    };
  }
};

ApplicationAssembly::ApplicationAssembly(PlatformAssembly& platform, const Options& options)
    : platform_(platform), options_(options), parts_(std::make_unique<Parts>(platform, options)) {}

ApplicationAssembly::~ApplicationAssembly() = default;

AppDelegate& ApplicationAssembly::delegate() { return *parts_->delegate; }

void ApplicationAssembly::launch() {
  const Platform& p = platform_.platform();
  parts_->startedAt = p.clock->monotonicNow();
  platform_.timeline().start();
  auto delegate = parts_->delegate;
  p.scheduler->mainQueue().post([delegate] { delegate->applicationDidFinishLaunching(); });
  // With a display, the simulated Mac is on screen for a person to use.
  if (!options_.virtualTime && QGuiApplication::platformName() != QStringLiteral("offscreen")) {
    Parts& parts = *parts_;
    PlatformAssembly* platform = &platform_;
    parts.simulator = std::make_unique<sim::SimulatorWindow>(sim::SimulatorWindow::Dependencies{
        parts.mac,
        [&parts](QPainter& painter) { parts.hud.paintWindows(painter, parts.mac.world); },
        [platform](double rate) { platform->setTimeRate(rate); }, platform_.timeRate()});
    parts.simulator->show();
  }
  // Started by a link: it arrives once launching has finished.
  if (options_.openURL) {
    SimAppShell* shell = &platform_.mac().appShell;
    p.scheduler->mainQueue().post(
        [shell, url = *options_.openURL] { (void)shell->deliverGetURL(url); });
  }
  if (options_.runFor) {
    RunLoop* runLoop = &platform_.runLoop();
    p.scheduler->mainQueue().postAfter(seconds(*options_.runFor), [runLoop] { runLoop->stop(); });
  }
}

int ApplicationAssembly::finish() {
  Parts& parts = *parts_;
  parts.delegate->applicationWillTerminate();
  sim::SimulatedMac& mac = parts.mac;
  std::string report;
  if (options_.report || options_.story) {
    const double duration = toSeconds(parts.p.clock->monotonicNow() - parts.startedAt);
    report = sim::makeReport(platform_.scenario(), duration, mac.world, platform_.timeline(),
                             mac.workspace,
                             {{"badges", parts.badgeHistory.toJson()},
                              {"mirror", parts.mirrorHistory.publicationsJson()},
                              {"forwardedClicks", parts.mirrorHistory.clicksJson()},
                              {"statusItems", json::dump(mac.statusBar.statusItemsJson())},
                              {"menus", json::dump(mac.statusBar.menusJson())},
                              {"panels", json::dump(mac.panels.toJson())},
                              {"hotKeys", json::dump(mac.hotKeys.toJson())},
                              {"hud", parts.mirrorHistory.hudJson()},
                              {"diagnostics", parts.diagnostics.historyJson()},
                              {"windows", parts.windows.historyJson()}});
  }
  return endRun(
      options_, report, [&parts, this] { return parts.writeSnapshots(*options_.snapshot); },
      "menubar.png, hud.png, hud-filtered.png, desktop.png, …");
}

Status ApplicationAssembly::Parts::writeSnapshots(const std::filesystem::path& directory) {
  auto written =
      writeBadgeSnapshots(directory, appIcons, "com.apple.mail", *settings.monitoredApps(),
                          *settings.defaultStyle(), *dockMonitor->items(), 2);
  if (!written) {
    return written.error();
  }
  if (auto status = mac.statusBar.writePictures(directory / "statusItems", 2); !status) {
    return status;
  }
  // Each tile's picture as the HUD shows it, and the menu bar as it stands at the end with
  // every item of the last publication outlined.
  const auto tileDir = directory / "tiles";
  std::filesystem::create_directories(tileDir);
  std::vector<ExternalStatusItem> items;
  for (const auto& tile : *mirror->tiles()) {
    if (tile.image) {
      std::string name = tile.id;
      std::replace(name.begin(), name.end(), '#', '-');
      if (auto status = writePng(*tile.image, tileDir / (name + ".png")); !status) {
        return status;
      }
    }
    auto target = mirror->targetsByID().find(tile.id);
    if (target != mirror->targetsByID().end()) {
      if (const auto* item = std::get_if<ExternalStatusItem>(&target->second)) {
        ExternalStatusItem outlined = *item;
        if (!outlined.drawnHint) {
          outlined.drawnHint =
              !isHiddenByNotch(p.screens->screens(), item->frame.minX(), item->frame.midX());
        }
        items.push_back(std::move(outlined));
      }
    }
  }
  if (auto status = hud.writeSnapshots(directory, mac.world); !status) {
    return status;
  }
  // Every settings tab and onboarding page, light and dark, in three languages.
  if (auto status = windows.writeSnapshots(directory); !status) {
    return status;
  }
  // The simulator window as the person saw it last.
  if (simulator &&
      !simulator->grab().save(QString::fromStdString((directory / "simulator.png").string()))) {
    return Error{"could not write " + (directory / "simulator.png").string(), 1};
  }
  const auto screenList = mac.world.screens();
  const double originX = screenList.empty() ? 0 : screenList.front().frame.minX();
  return writeMenuBarSnapshot(directory / "menubar.png", sim::renderMenuBar(mac.world, 2), originX,
                              items);
}

}  // namespace lumarin
