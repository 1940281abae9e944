#include <benchmark/benchmark.h>

#include "platform/sim/ManualScheduler.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimAccessibility.h"

namespace {

using namespace lumarin;
using namespace lumarin::sim;

// A Dock of `tiles` application tiles, every app installed and half of them running.
void buildDock(World& world, int tiles) {
  world.addScreen(makeScreen(1, "Built-in", CocoaRect(0, 0, 1512, 982), 2, 185, 32, 70));
  for (int i = 0; i < tiles; ++i) {
    InstalledBundle bundle;
    bundle.bundleID = "com.example.app" + std::to_string(i);
    bundle.name = "App " + std::to_string(i);
    bundle.path = "/Applications/App " + std::to_string(i) + ".app";
    world.installBundle(bundle);
    DockTile tile;
    tile.bundleID = bundle.bundleID;
    if (i % 3 == 0) {
      tile.badge = std::to_string(i);
    }
    world.addTile(tile);
    if (i % 2 == 0) {
      world.launch(bundle.bundleID);
    }
  }
}

void BM_SingleAttributeRead(benchmark::State& state) {
  World world;
  buildDock(world, 40);
  SimAccessibility ax(world);
  const auto root = ax.createApplication(world.dockPid());
  const auto list = ax.elementsAttribute(root, "AXChildren")->at(0);
  const auto tile = ax.elementsAttribute(list, "AXChildren")->at(10);
  AXValue value;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ax.copyAttributeValue(tile, "AXStatusLabel", value));
  }
}
BENCHMARK(BM_SingleAttributeRead);

// What a full read of the Dock costs on the simulated side: the root's children, the list's
// children, then six attributes per tile.
void BM_WalkDockOf40Tiles(benchmark::State& state) {
  World world;
  buildDock(world, 40);
  SimAccessibility ax(world);
  for (auto _ : state) {
    const auto root = ax.createApplication(world.dockPid());
    const auto children =
        ax.elementsAttribute(root, "AXChildren").value_or(std::vector<AXElement>{});
    for (const auto& child : children) {
      if (ax.stringAttribute(child, "AXRole") != "AXList") {
        continue;
      }
      const auto tiles =
          ax.elementsAttribute(child, "AXChildren").value_or(std::vector<AXElement>{});
      for (const auto& tile : tiles) {
        benchmark::DoNotOptimize(ax.stringAttribute(tile, "AXSubrole"));
        benchmark::DoNotOptimize(ax.urlAttribute(tile, "AXURL"));
        benchmark::DoNotOptimize(ax.stringAttribute(tile, "AXTitle"));
        benchmark::DoNotOptimize(ax.boolAttribute(tile, "AXIsApplicationRunning"));
        benchmark::DoNotOptimize(ax.stringAttribute(tile, "AXStatusLabel"));
      }
    }
  }
}
BENCHMARK(BM_WalkDockOf40Tiles);

}  // namespace
