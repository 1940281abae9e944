// Composition root: builds the platform (host adapters for what this machine has, the
// simulated Mac for the rest), runs the entry point's steps and the application's loop.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "app/AppDelegate.h"
#include "app/BadgeSnapshots.h"
#include "app/CommandLine.h"
#include "app/EntryPoint.h"
#include "app/MenuBarProbe.h"
#include "app/MenuBarSnapshot.h"
#include "app/SingleInstanceGuard.h"
#include "badges/AppIcons.h"
#include "badges/BadgeHistory.h"
#include "badges/DockBadgeMonitor.h"
#include "diagnostics/DebugLog.h"
#include "gfx/Drawing.h"
#include "l10n/FrameworkLanguage.h"
#include "l10n/L10n.h"
#include "menubar/ControlCenterExtras.h"
#include "menubar/IconCache.h"
#include "menubar/MenuBarAgentLayout.h"
#include "menubar/MenuBarGeometry.h"
#include "menubar/SkyLight.h"
#include "menubar/StatusItemCapture.h"
#include "menubar/StatusItemScanner.h"
#include "model/AppSettings.h"
#include "platform/host/FlockInstanceLock.h"
#include "platform/host/HostBundle.h"
#include "platform/host/HostClock.h"
#include "platform/host/HostPaths.h"
#include "platform/host/HostProcessInfo.h"
#include "platform/host/HostScheduler.h"
#include "platform/host/JsonFileUserDefaults.h"
#include "platform/host/QtFrameworkLocalization.h"
#include "platform/host/QtRunLoop.h"
#include "platform/host/StderrSystemLog.h"
#include "platform/host/TerminationSignals.h"
#include "platform/host/XdgLoginItems.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/Report.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimAccessibility.h"
#include "platform/sim/SimAppShell.h"
#include "platform/sim/SimMenuBarRenderer.h"
#include "platform/sim/SimScreenCapture.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimWindowServer.h"
#include "platform/sim/SimWorkspace.h"
#include "platform/sim/Timeline.h"
#include "platform/sim/VirtualRunLoop.h"

namespace {

using namespace lumarin;

Result<sim::Scenario> loadScenario(const Options& options) {
  if (!options.scenario) {
    return sim::parseScenario(sim::defaultScenarioText(), "built-in scenario");
  }
  std::ifstream in(*options.scenario, std::ios::binary);
  if (!in) {
    return Error{*options.scenario + ": cannot be read", 2};
  }
  std::stringstream text;
  text << in.rdbuf();
  return sim::parseScenario(text.str(), *options.scenario);
}

bool writeReport(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

bool hasDisplay(const ProcessInfo& process) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    if (auto value = process.environmentValue(name); value && !value->empty()) {
      return true;
    }
  }
  return false;
}

int run(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  auto parsed = parseCommandLine(arguments);
  if (!parsed) {
    std::fprintf(stderr, "lumarin: %s\n%s", parsed.error().message.c_str(), usage().c_str());
    return 2;
  }
  const Options& options = *parsed;
  if (options.help) {
    std::fputs(usage().c_str(), stdout);
    return 0;
  }

  auto scenario = loadScenario(options);
  if (!scenario) {
    std::fprintf(stderr, "lumarin: %s\n", scenario.error().message.c_str());
    return 2;
  }

  HostProcessInfo process;
  HostBundle bundle;
  HostPaths paths(process);
  StderrSystemLog systemLog;
  HostClock hostClock;
  // Virtual time starts at the real calendar time, so the debug log's stamps stay sensible.
  std::unique_ptr<ManualScheduler> virtualScheduler;
  if (options.virtualTime) {
    virtualScheduler = std::make_unique<ManualScheduler>(
        std::chrono::floor<std::chrono::seconds>(hostClock.wallNow()));
  }
  const Clock& clock =
      virtualScheduler ? virtualScheduler->clock() : static_cast<const Clock&>(hostClock);

  const std::string bundleID = EntryPoint::readStartupInfo(bundle).bundleID;
  // The program's defaults domain: the user's settings file, or, when the scenario brings
  // settings of its own, a private in-memory domain that leaves the user's file alone.
  JsonFileUserDefaults fileDefaults(paths.configurationDirectory() / bundleID / "defaults.json",
                                    process, systemLog);
  SimUserDefaults scenarioDefaults;
  UserDefaults& defaults = scenario->defaults ? static_cast<UserDefaults&>(scenarioDefaults)
                                              : static_cast<UserDefaults&>(fileDefaults);
  if (scenario->defaults) {
    for (const auto& [key, value] : *scenario->defaults) {
      scenarioDefaults.set(key, value);
    }
    scenarioDefaults.setGlobal("AppleLanguages",
                               scenario->appleLanguages.empty()
                                   ? JsonFileUserDefaults::languagesFromEnvironment(process)
                                   : scenario->appleLanguages);
  } else if (!scenario->appleLanguages.empty()) {
    // On the simulated Mac the system's preferred languages are the scenario's.
    fileDefaults.setGlobalLanguages(scenario->appleLanguages);
  }
  const DebugLog debugLog(DebugLog::directoryFor(paths.applicationSupportDirectory(), bundleID),
                          clock);
  FrameworkLanguage frameworkLanguage;
  FlockInstanceLock instanceLock;
  SingleInstanceGuard guard(instanceLock, paths, process);
  EntryPoint entry(defaults, frameworkLanguage, bundle, process, guard, debugLog);
  if (!entry.start()) {
    return 0;
  }

  // Step 6: the application object, an accessory without windows of its own.
  if (options.headless || !hasDisplay(process)) {
    if (!options.headless) {
      systemLog.log("Lumarin: no display found; running headless");
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName("Lumarin");
  // The frameworks' own texts follow the language the entry point chose.
  QtFrameworkLocalization frameworkLocalization;
  frameworkLocalization.useLanguage(frameworkLanguage.code());

  std::unique_ptr<HostScheduler> hostScheduler;
  std::unique_ptr<RunLoop> runLoop;
  Scheduler* scheduler = nullptr;
  if (virtualScheduler) {
    scheduler = virtualScheduler.get();
    runLoop = std::make_unique<VirtualRunLoop>(*virtualScheduler);
  } else {
    hostScheduler = std::make_unique<HostScheduler>(hostClock);
    scheduler = hostScheduler.get();
    runLoop = std::make_unique<QtRunLoop>();
  }

  // The simulated Mac, laid out from the scenario; its calls cost virtual time, or real time.
  sim::World world;
  world.setClock(&clock);
  if (virtualScheduler) {
    world.setTimeSink([&virtualScheduler](Duration d) { virtualScheduler->elapse(d); });
  } else {
    world.setTimeSink([](Duration d) { std::this_thread::sleep_for(d); });
  }
  sim::buildWorld(*scenario, world);
  sim::SimAccessibility accessibility(world);
  sim::SimWorkspace workspace(world, *scheduler);
  sim::SimWindowServer windowServer(world);
  sim::SimScreens screens(world);
  sim::Timeline timeline(*scenario, world, *scheduler);

  SimAppShell appShell;
  Platform platform;
  platform.scheduler = scheduler;
  platform.clock = &clock;
  platform.bundle = &bundle;
  platform.processInfo = &process;
  platform.paths = &paths;
  platform.systemLog = &systemLog;
  platform.defaults = &defaults;
  platform.instanceLock = &instanceLock;
  platform.appShell = &appShell;
  platform.accessibility = &accessibility;
  platform.workspace = &workspace;
  platform.windowServer = &windowServer;
  platform.screens = &screens;

  // Menu bar discovery.
  SkyLight skyLight(windowServer, process.environmentValue("LUMARIN_MARKER_MOVE").has_value());
  StatusItemScanner scanner(StatusItemScanner::Dependencies{accessibility, workspace, skyLight,
                                                            windowServer, defaults, debugLog,
                                                            process.processIdentifier()});
  ControlCenterExtras controlCenterExtras(accessibility, workspace);
  MenuBarAgentLayout agentLayout(accessibility, workspace);
  MenuBarOverflow menuBarOverflow;
  sim::SimScreenCapture screenCapture(world);
  IconCache iconCache(paths.applicationSupportDirectory());
  auto capture = std::make_shared<StatusItemCapture>(
      StatusItemCapture::Dependencies{screenCapture, screens, *scheduler, defaults, workspace,
                                      process, iconCache, paths.applicationSupportDirectory()});

  L10n l10n(defaults, frameworkLanguage, &frameworkLocalization,
            [&process] { return JsonFileUserDefaults::languagesFromEnvironment(process); });
  XdgLoginItems loginItems(paths.configurationDirectory() / "autostart", bundle.executablePath());
  AppSettings settings(
      AppSettings::Dependencies{defaults, loginItems, systemLog, debugLog, clock, &l10n});

  auto dockMonitor = std::make_shared<DockBadgeMonitor>(accessibility, workspace, *scheduler);
  AppIcons appIcons(workspace);
  BadgeHistory badgeHistory(*dockMonitor, clock);
  auto delegate = std::make_shared<AppDelegate>(
      platform, debugLog,
      AppServices{settings, l10n, dockMonitor, appIcons, &badgeHistory, capture.get()});
  appShell.setActivationPolicy(ActivationPolicy::accessory);

  // Until the HUD refreshes on its own, runs that report or take snapshots probe the menu bar
  // the way its refresh will: one second after the start, then every ten seconds.
  std::shared_ptr<MenuBarProbe> menuBarProbe;
  if (options.report || options.snapshot) {
    menuBarProbe =
        std::make_shared<MenuBarProbe>(*scheduler, scanner, controlCenterExtras, agentLayout,
                                       menuBarOverflow, screens, capture, [&skyLight] {
                                         for (const auto& w : skyLight.menuBarItemWindows()) {
                                           if (w.rect.width() > 1 && w.rect.width() <= 200) {
                                             return true;
                                           }
                                         }
                                         return false;
                                       });
    menuBarProbe->start(seconds(1), seconds(10));
  }

  TerminationSignals terminationSignals([&runLoop](int) { runLoop->stop(); });
  const Duration startedAt = clock.monotonicNow();
  timeline.start();
  scheduler->mainQueue().post([delegate] { delegate->applicationDidFinishLaunching(); });
  if (options.runFor) {
    scheduler->mainQueue().postAfter(seconds(*options.runFor), [&runLoop] { runLoop->stop(); });
  }
  runLoop->run();
  delegate->applicationWillTerminate();
  if (options.report) {
    const double duration = toSeconds(clock.monotonicNow() - startedAt);
    if (!writeReport(*options.report,
                     sim::makeReport(*scenario, duration, world, timeline, workspace,
                                     {{"badges", badgeHistory.toJson()},
                                      {"menuBarScans", menuBarProbe->toJson()}}))) {
      std::fprintf(stderr, "lumarin: could not write the report to %s\n", options.report->c_str());
      return 1;
    }
  }
  if (options.snapshot) {
    auto written = writeBadgeSnapshots(*options.snapshot, appIcons, "com.apple.mail",
                                       *settings.monitoredApps(), *settings.defaultStyle(),
                                       *dockMonitor->items(), 2);
    if (!written) {
      std::fprintf(stderr, "lumarin: %s\n", written.error().message.c_str());
      return 1;
    }
    // The menu bar as it stands at the end, with what the last discovery found outlined.
    const auto last = menuBarProbe->discover();
    const auto screenList = world.screens();
    const double originX = screenList.empty() ? 0 : screenList.front().frame.minX();
    // The glyphs the last capture of each pipeline produced (per item window, menu bar strip).
    std::map<std::string, const MenuBarProbe::Result*> lastByPipeline;
    const auto results = menuBarProbe->results();
    for (const auto& result : results) {
      lastByPipeline[result.pipeline] = &result;
    }
    for (const auto& [pipeline, result] : lastByPipeline) {
      const auto dir = std::filesystem::path(*options.snapshot) / "glyphs" / pipeline;
      std::filesystem::create_directories(dir);
      for (const auto& item : result->items) {
        auto glyph = result->glyphs.find(item.id());
        if (glyph != result->glyphs.end()) {
          (void)writePng(glyph->second, dir / IconCache::fileName(IconCache::cacheKey(item)));
        }
      }
    }
    auto status = writeMenuBarSnapshot(std::filesystem::path(*options.snapshot) / "menubar.png",
                                       sim::renderMenuBar(world, 2), originX, last.items);
    if (!status) {
      std::fprintf(stderr, "lumarin: %s\n", status.error().message.c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
