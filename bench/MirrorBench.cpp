#include <benchmark/benchmark.h>

#include <ctime>
#include <filesystem>

#include "BenchScenarios.h"
#include "diagnostics/DebugLog.h"
#include "hud/ControlCenterWatcher.h"
#include "hud/HUDLayoutBus.h"
#include "hud/MirrorClickForwarder.h"
#include "hud/MirrorController.h"
#include "hud/MirrorHUDController.h"
#include "hud/MirrorHUDView.h"
#include "hud/MirrorHUDWindow.h"
#include "hud/MirrorModel.h"
#include "l10n/FrameworkLanguage.h"
#include "l10n/L10n.h"
#include "menubar/ControlCenterExtras.h"
#include "menubar/IconCache.h"
#include "menubar/MenuBarAgentLayout.h"
#include "menubar/MenuBarGeometry.h"
#include "menubar/Permissions.h"
#include "menubar/SkyLight.h"
#include "menubar/StatusItemCapture.h"
#include "menubar/StatusItemScanner.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimulatedMac.h"

namespace {

using namespace lumarin;

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Desktop {
  explicit Desktop(const std::string& arrangement) {
    mac.world.setClock(&scheduler.clock());
    mac.world.setTimeSink([this](Duration d) { scheduler.elapse(d); });
    mac.world.setProgramProcess(4242, "Lumarin");
    auto scenario = sim::parseScenario(bench::menuBarScenario(arrangement), "bench");
    mac.build(*scenario);
  }
  ManualScheduler scheduler;
  SimUserDefaults defaults;
  sim::SimulatedMac mac{scheduler, defaults};
  SimProcessInfo process;
  std::filesystem::path support = std::filesystem::temp_directory_path() / "lumarin-bench-mirror";
  DebugLog log{support / "log", scheduler.clock()};
  SkyLight skyLight{mac.windowServer, false};
  StatusItemScanner scanner{StatusItemScanner::Dependencies{
      mac.accessibility, mac.workspace, skyLight, mac.windowServer, defaults, log, 4242}};
  ControlCenterExtras extras{mac.accessibility, mac.workspace};
  MenuBarAgentLayout agent{mac.accessibility, mac.workspace};
  MenuBarOverflow overflow;
  IconCache iconCache{support};
  std::shared_ptr<StatusItemCapture> capture = std::make_shared<StatusItemCapture>(
      StatusItemCapture::Dependencies{mac.screenCapture, mac.screens, scheduler, defaults,
                                      mac.workspace, process, iconCache, support});
  std::shared_ptr<MirrorModel> model = std::make_shared<MirrorModel>(MirrorModel::Dependencies{
      scheduler, scanner, skyLight, extras, agent, overflow, mac.screens, capture, iconCache,
      mac.accessibility, mac.workspace, mac.statusBar, log, [] { return false; }});
  std::shared_ptr<MirrorClickForwarder> forwarder =
      std::make_shared<MirrorClickForwarder>(MirrorClickForwarder::Dependencies{
          mac.accessibility, mac.windowServer, mac.screens, overflow, mac.events, scheduler,
          mac.statusBar, log, "com.kestova.Lumarin"});

  void refresh() {
    model->refresh();
    scheduler.advanceBy(seconds(1));  // the capture gate and the queues
  }
};

// One full refresh: scan, window lists, Control Center's extras, placement, captures and the
// publication. Counts the accessibility calls of one refresh.
void BM_MirrorRefresh60Items(benchmark::State& state) {
  Desktop desktop(state.range(0) == 0 ? "perItemWindows" : "unifiedBar");
  desktop.refresh();
  const double cpuStart = cpuSeconds();
  for (auto _ : state) {
    desktop.refresh();
  }
  state.counters["cpu_ms_per_refresh"] =
      (cpuSeconds() - cpuStart) * 1000 / static_cast<double>(state.iterations());
  desktop.mac.world.resetCallCounts();
  desktop.refresh();
  const auto counts = desktop.mac.world.callCounts();
  state.counters["axCalls"] = static_cast<double>(counts.total);
  state.counters["tiles"] = static_cast<double>(desktop.model->tiles()->size());
}
BENCHMARK(BM_MirrorRefresh60Items)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One forwarded click on each path: the accessibility press of a hidden item (0) and the
// synthesised click of a visible one (1), each delivered by the simulated Mac.
void BM_ForwardedClick(benchmark::State& state) {
  Desktop desktop("perItemWindows");
  desktop.refresh();
  MirrorModel::Target chosen;
  for (const auto& [id, target] : desktop.model->targetsByID()) {
    const auto* item = std::get_if<ExternalStatusItem>(&target);
    if (item == nullptr) {
      continue;
    }
    const bool hidden =
        isHiddenByNotch(desktop.mac.screens.screens(), item->frame.minX(), item->frame.midX());
    if (hidden == (state.range(0) == 0)) {
      chosen = target;
      break;
    }
  }
  if (std::holds_alternative<ExternalStatusItem>(chosen) &&
      std::get<ExternalStatusItem>(chosen).pid == 0) {
    state.SkipWithError("no tile of the wanted kind");
    return;
  }
  for (auto _ : state) {
    desktop.forwarder->forward(chosen, false,
                               state.range(0) == 0 ? 0u : static_cast<unsigned>(kModifierOption));
    desktop.scheduler.advanceBy(seconds(0.1));
  }
}
BENCHMARK(BM_ForwardedClick)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The HUD on the same desktop, its panel painted by the Qt window.
struct HUDDesktop : Desktop {
  HUDDesktop() : Desktop("perItemWindows") {
    controller->start(follows);
    refresh();
  }
  FrameworkLanguage language;
  L10n l10n{defaults, language, nullptr};
  std::shared_ptr<HUDLayoutBus> bus =
      std::make_shared<HUDLayoutBus>(mac.notifications, scheduler.clock(), log);
  std::shared_ptr<ControlCenterWatcher> watcher = std::make_shared<ControlCenterWatcher>(
      ControlCenterWatcher::Dependencies{scheduler, mac.windowServer, mac.screens, mac.workspace,
                                         mac.accessibility, mac.events, log});
  Permissions permissions{mac.accessibility, mac.workspace};
  MirrorHUDWindow* window = nullptr;
  std::shared_ptr<MirrorHUDController> hud =
      std::make_shared<MirrorHUDController>(MirrorHUDController::Dependencies{
          model, &mac.windows, mac.events, mac.screens, scheduler, &skyLight, mac.workspace,
          bus.get(), *forwarder, &permissions, log,
          [this](MirrorHUDController::SurfaceHandlers handlers) {
            auto made = std::make_unique<MirrorHUDWindow>(model, l10n, std::move(handlers),
                                                          [] { return 1964.0; });
            window = made.get();
            return std::unique_ptr<MirrorHUDSurface>(std::move(made));
          },
          [] { return std::string("en"); }});
  Observable<bool> follows{false};
  std::shared_ptr<MirrorController> controller =
      std::make_shared<MirrorController>(MirrorController::Dependencies{
          model, hud, watcher, bus.get(), scheduler, mac.screens, &mac.screenCapture, log, {}});
};

// The hot key with tiles at hand: from the key's handler to the panel ordered in and painted
// (the fresh refresh that follows runs on the queues afterwards and is not counted).
void BM_HotKeyToPanelVisible(benchmark::State& state) {
  HUDDesktop desktop;
  for (auto _ : state) {
    desktop.controller->toggleHUD("hotkey");
    desktop.window->view().repaint();
    if (!desktop.hud->isVisible()) {
      state.SkipWithError("the panel did not show");
      return;
    }
    state.PauseTiming();
    desktop.controller->toggleHUD("hotkey");
    desktop.scheduler.advanceBy(seconds(1));
    state.ResumeTiming();
  }
  state.counters["tiles"] = static_cast<double>(desktop.model->tiles()->size());
}
BENCHMARK(BM_HotKeyToPanelVisible)->Unit(benchmark::kMicrosecond);

// One paint of the panel with the desktop's 60 tiles at scale 2.
void BM_PanelRepaint60Tiles(benchmark::State& state) {
  HUDDesktop desktop;
  desktop.controller->toggleHUD("hotkey");
  for (auto _ : state) {
    benchmark::DoNotOptimize(desktop.window->picture(2));
  }
  state.counters["tiles"] = static_cast<double>(desktop.model->tiles()->size());
}
BENCHMARK(BM_PanelRepaint60Tiles)->Unit(benchmark::kMillisecond);

}  // namespace
