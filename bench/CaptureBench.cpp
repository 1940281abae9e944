#include <benchmark/benchmark.h>

#include <filesystem>

#include "diagnostics/DebugLog.h"
#include "menubar/GlyphImage.h"
#include "menubar/IconCache.h"
#include "menubar/SkyLight.h"
#include "menubar/StatusItemCapture.h"
#include "menubar/StatusItemScanner.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimAccessibility.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimScreenCapture.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimWindowServer.h"
#include "platform/sim/SimWorkspace.h"

namespace {

using namespace lumarin;

// A 44 × 44 pixel glyph: a ring of ink on a transparent background.
Image glyph44() {
  Image image;
  image.pixelWidth = 44;
  image.pixelHeight = 44;
  image.pointSize = Size{22, 22};
  image.rgba.assign(44 * 44 * 4, 0);
  for (int y = 0; y < 44; ++y) {
    for (int x = 0; x < 44; ++x) {
      const double d = std::hypot(x - 21.5, y - 21.5);
      if (d > 12 && d < 16) {
        image.rgba[(static_cast<std::size_t>(y) * 44 + x) * 4 + 3] = 255;
      }
    }
  }
  return image;
}

void BM_GlyphTests44(benchmark::State& state) {
  const Image image = glyph44();
  for (auto _ : state) {
    benchmark::DoNotOptimize(glyph::isEffectivelyEmpty(image));
    benchmark::DoNotOptimize(glyph::trimmedToOpaque(image, 12));
    benchmark::DoNotOptimize(glyph::hasTransparentBackground(image));
    benchmark::DoNotOptimize(glyph::edgeInkFractions(image));
    benchmark::DoNotOptimize(glyph::keyingOutBackground(image));
    benchmark::DoNotOptimize(glyph::isEffectivelyMonochrome(image));
    benchmark::DoNotOptimize(glyph::adaptingStructure(image, true));
  }
}
BENCHMARK(BM_GlyphTests44);

// 25 menu bar items on a 3024-pixel-wide display (1512 points at scale 2).
struct CaptureMac {
  CaptureMac() {
    std::string apps;
    for (int i = 0; i < 21; ++i) {
      apps += std::string(i ? "," : "") + R"({"bundleID": "com.example.app)" + std::to_string(i) +
              R"(", "name": "App )" + std::to_string(i) +
              R"(", "accessory": true, "running": true, "menuExtras": [{"glyph":
                 "network-wireless-symbolic", "width": 24}]})";
    }
    auto scenario = sim::parseScenario(R"({"apps": [)" + apps + "]}", "bench");
    sim::buildWorld(*scenario, world);
    items = scanner.scan();
    for (auto& item : items) {
      item.drawnHint = true;
    }
  }
  ManualScheduler scheduler;
  sim::World world;
  sim::SimAccessibility ax{world};
  sim::SimWorkspace workspace{world, scheduler};
  sim::SimWindowServer windowServer{world};
  sim::SimScreens screens{world};
  sim::SimScreenCapture screenCapture{world};
  SimUserDefaults defaults;
  SimProcessInfo process;
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "lumarin-bench-capture";
  DebugLog log{dir / "log", scheduler.clock()};
  IconCache cache{dir};
  SkyLight skyLight{windowServer, false};
  StatusItemScanner scanner{
      StatusItemScanner::Dependencies{ax, workspace, skyLight, windowServer, defaults, log, 0}};
  std::shared_ptr<StatusItemCapture> capture =
      std::make_shared<StatusItemCapture>(StatusItemCapture::Dependencies{
          screenCapture, screens, scheduler, defaults, workspace, process, cache, dir});
  std::vector<ExternalStatusItem> items;
};

void BM_BandCaptureAndCut25Items(benchmark::State& state) {
  CaptureMac mac;
  std::size_t captured = 0;
  for (auto _ : state) {
    mac.capture->captureFromMenuBar(mac.items, nullptr,
                                    [&](StatusItemCapture::Captures c) { captured = c.size(); });
    mac.scheduler.advanceBy(seconds(1));
  }
  state.counters["items"] = static_cast<double>(mac.items.size());
  state.counters["captured"] = static_cast<double>(captured);
  std::filesystem::remove_all(mac.dir);
}
BENCHMARK(BM_BandCaptureAndCut25Items);

void BM_PerItemCaptureCycle25Items(benchmark::State& state) {
  CaptureMac mac;
  std::size_t captured = 0;
  for (auto _ : state) {
    mac.capture->captureItems(mac.items,
                              [&](StatusItemCapture::Captures c) { captured = c.size(); });
    mac.scheduler.advanceBy(seconds(1));
  }
  state.counters["items"] = static_cast<double>(mac.items.size());
  state.counters["captured"] = static_cast<double>(captured);
  std::filesystem::remove_all(mac.dir);
}
BENCHMARK(BM_PerItemCaptureCycle25Items);

}  // namespace
