#include <benchmark/benchmark.h>

#include <filesystem>

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

// 30 running processes with 60 menu bar items between them, on a wide display so the
// arrangement decides what is drawn rather than the space.
std::string scenarioText(const std::string& arrangement) {
  std::string apps;
  for (int i = 0; i < 30; ++i) {
    apps += std::string(i ? "," : "") + R"({"bundleID": "com.example.app)" + std::to_string(i) +
            R"(", "name": "App )" + std::to_string(i) +
            R"(", "accessory": true, "running": true, "menuExtras": [{"title": "a", "width": 24},
               {"description": "b", "width": 30}]})";
  }
  return R"({"menuBar": {"arrangement": ")" + arrangement + R"("},
             "screens": [{"size": [3024, 1964], "scale": 2, "notch": {"width": 185}}],
             "apps": [)" +
         apps + "]}";
}

struct Mac {
  explicit Mac(const std::string& arrangement) {
    auto scenario = sim::parseScenario(scenarioText(arrangement), "bench");
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
