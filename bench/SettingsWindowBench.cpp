#include <benchmark/benchmark.h>

#include <QApplication>
#include <filesystem>
#include <fstream>

#include "BenchScenarios.h"
#include "badges/AppIcons.h"
#include "badges/DockBadgeMonitor.h"
#include "diagnostics/DebugLog.h"
#include "l10n/FrameworkLanguage.h"
#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "platform/Platform.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimBundle.h"
#include "platform/sim/SimLoginItems.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimSystemLog.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimulatedMac.h"
#include "settings/SettingsWindowController.h"

namespace {

using namespace lumarin;

// Resident memory of this process in kilobytes.
double residentKB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
}

struct SettingsDesktop {
  SettingsDesktop() {
    mac.world.setClock(&scheduler.clock());
    mac.world.setProgramProcess(4242, "Lumarin");
    auto scenario = sim::parseScenario(bench::menuBarScenario("perItemWindows"), "bench");
    mac.build(*scenario);
    platform.scheduler = &scheduler;
    platform.bundle = &bundle;
    platform.processInfo = &process;
    mac.provide(platform);
    for (int i = 0; i < 12; ++i) {
      settings.add("com.example.app" + std::to_string(i), "App " + std::to_string(i));
    }
  }
  SettingsWindowController::Dependencies dependencies() {
    return {SettingsContext{settings,
                            l10n,
                            scheduler,
                            &mac.accessibility,
                            &mac.screenCapture,
                            mac.workspace,
                            mac.panels,
                            mac.appShell,
                            bundle,
                            icons,
                            monitor->items(),
                            "jp.kestova.lumarin",
                            nullptr,
                            nullptr,
                            nullptr,
                            {},
                            {},
                            {},
                            {},
                            {}},
            process,
            nullptr,
            Appearance::light,
            nullptr,
            {}};
  }
  // Shows the window and paints it, as the first frame on screen needs.
  static void showAndPaint(SettingsWindowController& controller, std::optional<SettingsTab> tab) {
    controller.show(tab);
    QApplication::processEvents();
    controller.window()->repaint();
  }

  ManualScheduler scheduler;
  SimUserDefaults defaults;
  sim::SimulatedMac mac{scheduler, defaults};
  SimProcessInfo process;
  SimBundle bundle;
  Platform platform;
  SimSystemLog systemLog;
  SimLoginItems loginItems;
  std::filesystem::path support = std::filesystem::temp_directory_path() / "lumarin-bench-settings";
  DebugLog log{support / "log", scheduler.clock()};
  FrameworkLanguage language;
  L10n l10n{defaults, language, nullptr};
  AppSettings settings{
      AppSettings::Dependencies{defaults, loginItems, systemLog, log, scheduler.clock(), &l10n}};
  std::shared_ptr<DockBadgeMonitor> monitor =
      std::make_shared<DockBadgeMonitor>(mac.accessibility, mac.workspace, scheduler);
  AppIcons icons{mac.workspace};
};

// The first opening: the window and the apps tab with twelve apps built, shown and painted.
// `residentKB` is what the process held more after the very first opening (later ones reuse
// the memory the first left behind).
void BM_SettingsWindowFirstOpen(benchmark::State& state) {
  SettingsDesktop desktop;
  static double grown = -1;  // the benchmark function runs more than once
  for (auto _ : state) {
    const double before = residentKB();
    SettingsWindowController controller(desktop.dependencies());
    SettingsDesktop::showAndPaint(controller, SettingsTab::apps);
    if (grown < 0) {
      grown = residentKB() - before;
    }
    state.PauseTiming();
    controller.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    state.ResumeTiming();
  }
  state.counters["residentKB"] = grown;
}
BENCHMARK(BM_SettingsWindowFirstOpen)->Unit(benchmark::kMillisecond);

// Opening it again: the kept window shown and painted on the tab it was left on.
void BM_SettingsWindowReopen(benchmark::State& state) {
  SettingsDesktop desktop;
  SettingsWindowController controller(desktop.dependencies());
  SettingsDesktop::showAndPaint(controller, SettingsTab::apps);
  for (auto _ : state) {
    state.PauseTiming();
    controller.close();
    QApplication::processEvents();
    state.ResumeTiming();
    SettingsDesktop::showAndPaint(controller, std::nullopt);
  }
}
BENCHMARK(BM_SettingsWindowReopen)->Unit(benchmark::kMillisecond);

}  // namespace
