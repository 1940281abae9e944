#include "root/ApplicationAssembly.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/AppDelegate.h"
#include "app/BadgeSnapshots.h"
#include "app/MenuBarProbe.h"
#include "app/MenuBarSnapshot.h"
#include "badges/AppIcons.h"
#include "badges/AppItemsRevision.h"
#include "badges/BadgeHistory.h"
#include "badges/DockBadgeMonitor.h"
#include "gfx/Drawing.h"
#include "l10n/L10n.h"
#include "menubar/ControlCenterExtras.h"
#include "menubar/IconCache.h"
#include "menubar/MenuBarAgentLayout.h"
#include "menubar/MenuBarGeometry.h"
#include "menubar/SkyLight.h"
#include "menubar/StatusItemCapture.h"
#include "menubar/StatusItemScanner.h"
#include "model/AppSettings.h"
#include "platform/Bundle.h"
#include "platform/Paths.h"
#include "platform/ProcessInfo.h"
#include "platform/RunLoop.h"
#include "platform/Scheduler.h"
#include "platform/host/JsonFileUserDefaults.h"
#include "platform/host/QtFrameworkLocalization.h"
#include "platform/sim/Report.h"
#include "platform/sim/SimMenuBarRenderer.h"
#include "platform/sim/SimulatedMac.h"
#include "platform/sim/Timeline.h"
#include "root/PlatformAssembly.h"

namespace lumarin {

namespace {

bool writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

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
        delegate(std::make_shared<AppDelegate>(
            p, assembly.debugLog(),
            AppServices{settings, l10n, dockMonitor, appIcons, scanner, revision, &badgeHistory,
                        capture.get()})) {
    // Until the HUD refreshes on its own, runs that report or take snapshots probe the menu
    // bar the way its refresh will: one second after the start, then every ten seconds.
    if (options.report || options.snapshot) {
      menuBarProbe =
          std::make_shared<MenuBarProbe>(*p.scheduler, scanner, controlCenterExtras, agentLayout,
                                         menuBarOverflow, *p.screens, capture, [this] {
                                           for (const auto& w : skyLight.menuBarItemWindows()) {
                                             if (w.rect.width() > 1 && w.rect.width() <= 200) {
                                               return true;
                                             }
                                           }
                                           return false;
                                         });
      menuBarProbe->start(seconds(1), seconds(10));
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
  std::shared_ptr<AppDelegate> delegate;
  std::shared_ptr<MenuBarProbe> menuBarProbe;
  Duration startedAt{};

  Status writeSnapshots(const std::filesystem::path& directory);
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
  if (options_.runFor) {
    RunLoop* runLoop = &platform_.runLoop();
    p.scheduler->mainQueue().postAfter(seconds(*options_.runFor), [runLoop] { runLoop->stop(); });
  }
}

int ApplicationAssembly::finish() {
  Parts& parts = *parts_;
  parts.delegate->applicationWillTerminate();
  sim::SimulatedMac& mac = parts.mac;
  if (options_.report) {
    const double duration = toSeconds(parts.p.clock->monotonicNow() - parts.startedAt);
    const std::string report = sim::makeReport(
        platform_.scenario(), duration, mac.world, platform_.timeline(), mac.workspace,
        {{"badges", parts.badgeHistory.toJson()},
         {"menuBarScans", parts.menuBarProbe->toJson()},
         {"statusItems", json::dump(mac.statusBar.statusItemsJson())},
         {"menus", json::dump(mac.statusBar.menusJson())},
         {"panels", json::dump(mac.panels.toJson())}});
    if (!writeFile(*options_.report, report)) {
      std::fprintf(stderr, "lumarin: could not write the report to %s\n", options_.report->c_str());
      return 1;
    }
  }
  if (options_.snapshot) {
    if (auto status = parts.writeSnapshots(*options_.snapshot); !status) {
      std::fprintf(stderr, "lumarin: %s\n", status.error().message.c_str());
      return 1;
    }
  }
  return 0;
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
  // The menu bar as it stands at the end, with what the last discovery found outlined.
  const auto last = menuBarProbe->discover();
  const auto screenList = mac.world.screens();
  const double originX = screenList.empty() ? 0 : screenList.front().frame.minX();
  // The glyphs the last capture of each pipeline produced (per item window, menu bar strip).
  std::map<std::string, const MenuBarProbe::Result*> lastByPipeline;
  const auto results = menuBarProbe->results();
  for (const auto& result : results) {
    lastByPipeline[result.pipeline] = &result;
  }
  for (const auto& [pipeline, result] : lastByPipeline) {
    const auto dir = directory / "glyphs" / pipeline;
    std::filesystem::create_directories(dir);
    for (const auto& item : result->items) {
      auto glyph = result->glyphs.find(item.id());
      if (glyph != result->glyphs.end()) {
        (void)writePng(glyph->second, dir / IconCache::fileName(IconCache::cacheKey(item)));
      }
    }
  }
  return writeMenuBarSnapshot(directory / "menubar.png", sim::renderMenuBar(mac.world, 2), originX,
                              last.items);
}

}  // namespace lumarin
