#include <benchmark/benchmark.h>

#include <filesystem>

#include "BenchScenarios.h"
#include "diagnostics/DebugLog.h"
#include "menubar/MenuBarAgentLayout.h"
#include "menubar/MenuBarGeometry.h"
#include "menubar/SkyLight.h"
#include "menubar/StatusItemScanner.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimAccessibility.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimWindowServer.h"
#include "platform/sim/SimWorkspace.h"

namespace {

using namespace lumarin;

struct Mac {
  explicit Mac(const std::string& arrangement) {
    auto scenario = sim::parseScenario(bench::menuBarScenario(arrangement), "bench");
    sim::buildWorld(*scenario, world);
  }
  ManualScheduler scheduler;
  sim::World world;
  sim::SimAccessibility ax{world};
  sim::SimWorkspace workspace{world, scheduler};
  sim::SimWindowServer windowServer{world};
  sim::SimScreens screens{world};
  SimUserDefaults defaults;
  DebugLog log{std::filesystem::temp_directory_path() / "lumarin-bench-log", scheduler.clock()};
  SkyLight skyLight{windowServer, false};
  StatusItemScanner scanner{
      StatusItemScanner::Dependencies{ax, workspace, skyLight, windowServer, defaults, log, 0}};
  MenuBarAgentLayout agent{ax, workspace};
};

void BM_FullScan30Processes60Items(benchmark::State& state) {
  Mac mac("perItemWindows");
  std::size_t items = 0;
  for (auto _ : state) {
    items = mac.scanner.scan().size();
  }
  mac.world.resetCallCounts();
  mac.scanner.scan();
  state.counters["items"] = static_cast<double>(items);
  state.counters["axCalls"] = static_cast<double>(mac.world.callCounts().total);
}
BENCHMARK(BM_FullScan30Processes60Items);

void BM_AgentSnapshotAndPlace(benchmark::State& state) {
  Mac mac("unifiedBar");
  const auto items = mac.scanner.scan();
  const auto screens = menuBarScreens(mac.screens);
  for (auto _ : state) {
    const auto layouts = mac.agent.snapshot();
    benchmark::DoNotOptimize(
        mac.agent.place(items, layouts, screens, mac.world.overflowChevron(), {}, {}, nullptr));
  }
  mac.world.resetCallCounts();
  const auto layouts = mac.agent.snapshot();
  mac.agent.place(items, layouts, screens, mac.world.overflowChevron(), {}, {}, nullptr);
  state.counters["axCalls"] = static_cast<double>(mac.world.callCounts().total);
}
BENCHMARK(BM_AgentSnapshotAndPlace);

}  // namespace
