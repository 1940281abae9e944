#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include "badges/BadgeRenderer.h"
#include "badges/DockBadgeMonitor.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimAccessibility.h"
#include "platform/sim/SimWorkspace.h"

namespace {

using namespace lumarin;

// A Dock of 40 application tiles, every app running, ten of them watched.
struct DockMac {
  DockMac() {
    world.addScreen(sim::makeScreen(1, "Built-in", CocoaRect(0, 0, 1512, 982), 2, 185, 32, 70));
    for (int i = 0; i < 40; ++i) {
      sim::InstalledBundle bundle;
      bundle.bundleID = "com.example.app" + std::to_string(i);
      bundle.name = "App " + std::to_string(i);
      bundle.path = "/Applications/App " + std::to_string(i) + ".app";
      world.installBundle(bundle);
      sim::DockTile tile;
      tile.bundleID = bundle.bundleID;
      tile.badge = std::to_string(i);
      world.addTile(tile);
      world.launch(bundle.bundleID);
    }
    monitor->start();
    std::set<std::string> watched;
    for (int i = 0; i < 10; ++i) {
      watched.insert("com.example.app" + std::to_string(i * 4));
    }
    monitor->setWatched(watched);
    scheduler.runUntilIdle();
  }
  ManualScheduler scheduler;
  sim::World world;
  sim::SimAccessibility ax{world};
  sim::SimWorkspace workspace{world, scheduler};
  std::shared_ptr<DockBadgeMonitor> monitor =
      std::make_shared<DockBadgeMonitor>(ax, workspace, scheduler);
};

// One incremental tick: 10 watched apps, two attribute reads each.
void BM_MonitorTickTenWatched(benchmark::State& state) {
  DockMac mac;
  std::uint64_t before = mac.world.callCounts().total;
  std::int64_t ticks = 0;
  for (auto _ : state) {
    // Stay within the 30-second window so every tick is an incremental one.
    if (ticks % 25 == 24) {
      state.PauseTiming();
      mac.scheduler.advanceBy(seconds(31));
      before = mac.world.callCounts().total;
      state.ResumeTiming();
    }
    mac.scheduler.advanceBy(seconds(1));
    ++ticks;
  }
  mac.world.resetCallCounts();
  mac.scheduler.advanceBy(seconds(1));
  state.counters["axCallsPerTick"] = static_cast<double>(mac.world.callCounts().total);
  (void)before;
}
BENCHMARK(BM_MonitorTickTenWatched);

void BM_MonitorFullReadFortyTiles(benchmark::State& state) {
  DockMac mac;
  for (auto _ : state) {
    benchmark::DoNotOptimize(mac.monitor->snapshotDockItems());
  }
  mac.world.resetCallCounts();
  mac.monitor->snapshotDockItems();
  state.counters["axCalls"] = static_cast<double>(mac.world.callCounts().total);
}
BENCHMARK(BM_MonitorFullReadFortyTiles);

void BM_DrawBadgeImageAtScale2(benchmark::State& state) {
  Image icon;
  icon.pixelWidth = 128;
  icon.pixelHeight = 128;
  icon.pointSize = Size{18, 18};
  icon.rgba.assign(128 * 128 * 4, 200);
  const auto badge = DockBadgeMonitor::parseBadge("12");
  for (auto _ : state) {
    const auto drawable =
        BadgeRenderer::image(icon, badge, BadgeStyle::circle, colorValue(BadgeColor::red), false);
    benchmark::DoNotOptimize(drawable.rasterize(2));
  }
}
BENCHMARK(BM_DrawBadgeImageAtScale2);

}  // namespace
