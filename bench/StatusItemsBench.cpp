#include <benchmark/benchmark.h>

#include <filesystem>

#include "badges/AppIcons.h"
#include "badges/AppItemsRevision.h"
#include "badges/AppStatusItemsController.h"
#include "badges/DockBadgeMonitor.h"
#include "diagnostics/DebugLog.h"
#include "l10n/FrameworkLanguage.h"
#include "l10n/L10n.h"
#include "menubar/SkyLight.h"
#include "menubar/StatusItemScanner.h"
#include "model/AppSettings.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimLoginItems.h"
#include "platform/sim/SimSystemLog.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimulatedMac.h"

namespace {

using namespace lumarin;

// `apps` monitored apps, each in the Dock with a badge, on the 14-inch notched laptop.
struct StatusItemsDesktop {
  explicit StatusItemsDesktop(int apps) {
    std::string list;
    std::string dock;
    for (int i = 0; i < apps; ++i) {
      const std::string id = "com.example.app" + std::to_string(i);
      list += std::string(i ? "," : "") + R"({"bundleID": ")" + id + R"(", "name": "App )" +
              std::to_string(i) + R"(", "running": true})";
      dock += std::string(i ? "," : "") + R"({"app": ")" + id + R"(", "badge": ")" +
              std::to_string(i + 1) + R"("})";
    }
    auto scenario =
        sim::parseScenario(R"({"apps": [)" + list + R"(], "dock": [)" + dock + "]}", "bench");
    mac.world.setClock(&scheduler.clock());
    mac.world.setProgramProcess(4242, "Lumarin");
    mac.build(*scenario);
    for (int i = 0; i < apps; ++i) {
      settings.add("com.example.app" + std::to_string(i), "App " + std::to_string(i));
    }
    controller->start();
    monitor->start();
    controller->reconcile();
    scheduler.runUntilIdle();
  }

  ManualScheduler scheduler;
  SimUserDefaults defaults;
  sim::SimulatedMac mac{scheduler, defaults};
  SimSystemLog systemLog;
  SimLoginItems loginItems;
  DebugLog log{std::filesystem::temp_directory_path() / "lumarin-bench-log", scheduler.clock()};
  FrameworkLanguage frameworkLanguage;
  L10n l10n{defaults, frameworkLanguage, nullptr};
  AppSettings settings{
      AppSettings::Dependencies{defaults, loginItems, systemLog, log, scheduler.clock(), &l10n}};
  std::shared_ptr<DockBadgeMonitor> monitor =
      std::make_shared<DockBadgeMonitor>(mac.accessibility, mac.workspace, scheduler);
  AppIcons icons{mac.workspace};
  SkyLight skyLight{mac.windowServer, false};
  StatusItemScanner scanner{StatusItemScanner::Dependencies{
      mac.accessibility, mac.workspace, skyLight, mac.windowServer, defaults, log, 4242}};
  AppItemsRevision revision;
  std::shared_ptr<AppStatusItemsController> controller =
      std::make_shared<AppStatusItemsController>(AppStatusItemsController::Dependencies{
          settings, monitor, mac.statusBar, mac.events, scheduler, mac.workspace,
          &mac.accessibility, &scanner, defaults, icons, l10n, log, systemLog, revision});
};

// One reconciliation: every item updated (picture drawn at display scale, tooltip, title) and
// the menu bar laid out again.
void BM_ReconcileApps(benchmark::State& state) {
  StatusItemsDesktop desktop(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    desktop.controller->reconcile();
  }
  state.counters["items"] = static_cast<double>(desktop.mac.statusBar.items().size());
}
BENCHMARK(BM_ReconcileApps)->Arg(1)->Arg(20)->Unit(benchmark::kMicrosecond);

// A badge read on the Dock reaching the item: the monitor's tick, the publication and the
// reconciliation it triggers, with one app's badge changing each time.
void BM_BadgeChangeToItem(benchmark::State& state) {
  StatusItemsDesktop desktop(20);
  int n = 0;
  for (auto _ : state) {
    desktop.mac.world.setBadge("com.example.app7", std::to_string(++n % 500 + 1));
    desktop.scheduler.advanceBy(seconds(1));
  }
  state.counters["reconciliations"] = benchmark::Counter(
      static_cast<double>(*desktop.revision.value), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_BadgeChangeToItem)->Unit(benchmark::kMicrosecond);

}  // namespace
