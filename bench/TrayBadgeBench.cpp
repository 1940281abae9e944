// A launcher badge signal on the desktop reaching the tray: the signal decoded and merged, the
// badge map published at the end of its frame, the app's item redrawn by the controller, and
// the item's IconPixmap (ARGB32 at 1× and 2×) the tray host reads next. The bus transport
// itself is not in the figure: the items run without a bus, as values.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "badges/AppIcons.h"
#include "badges/AppItemsRevision.h"
#include "badges/AppStatusItemsController.h"
#include "desktop/LauncherBadgeMonitor.h"
#include "diagnostics/DebugLog.h"
#include "l10n/FrameworkLanguage.h"
#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "platform/Workspace.h"
#include "platform/desktop/DesktopEvents.h"
#include "platform/desktop/SniStatusBar.h"
#include "platform/desktop/TrayPixmap.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimLoginItems.h"
#include "platform/sim/SimSystemLog.h"
#include "platform/sim/SimUserDefaults.h"

namespace {

using namespace lumarin;

// Apps with a 64-pixel icon each, all running.
class BenchWorkspace final : public Workspace {
 public:
  explicit BenchWorkspace(int apps) {
    for (int i = 0; i < apps; ++i) {
      RunningApplication app;
      app.pid = 100 + i;
      app.bundleIdentifier = id(i);
      app.localizedName = "App " + std::to_string(i);
      running_.push_back(app);
    }
    icon_.pixelWidth = icon_.pixelHeight = 64;
    icon_.pointSize = {32, 32};
    icon_.rgba.assign(std::size_t{64} * 64 * 4, 0);
    for (std::size_t p = 0; p < icon_.rgba.size(); p += 4) {
      icon_.rgba[p] = 40;
      icon_.rgba[p + 1] = 120;
      icon_.rgba[p + 2] = 200;
      icon_.rgba[p + 3] = 255;
    }
  }
  static std::string id(int i) { return "org.example.App" + std::to_string(i) + ".desktop"; }

  std::vector<RunningApplication> runningApplications() const override { return running_; }
  std::optional<std::string> urlForApplication(const std::string& app) const override {
    return "file:///usr/share/applications/" + app;
  }
  std::optional<BundleDescription> bundleAtURL(const std::string&) const override {
    return std::nullopt;
  }
  Image iconForFile(const std::string&) const override { return icon_; }
  bool openApplication(const std::string&) override { return false; }
  bool activate(int) override { return false; }
  bool openURL(const std::string&) override { return false; }
  bool accessibilityDisplayShouldReduceMotion() const override { return false; }
  Subscription observeLaunches(std::function<void(const RunningApplication&)>) override {
    return {};
  }
  Subscription observeTerminations(std::function<void(const RunningApplication&)>) override {
    return {};
  }

 private:
  std::vector<RunningApplication> running_;
  Image icon_;
};

SniStatusBar::Options noBus() {
  SniStatusBar::Options options;
  options.busAddress = "unix:path=/nonexistent/lumarin-bench-no-bus";
  options.templateInk = RgbColor{1, 1, 1, 1};
  return options;
}

// Twenty monitored apps in the tray, their badges from the launcher protocol.
struct TrayDesktop {
  static constexpr int kApps = 20;

  TrayDesktop() {
    for (int i = 0; i < kApps; ++i) {
      settings.add(BenchWorkspace::id(i), "App " + std::to_string(i));
    }
    monitor->start();
    controller->start();
    controller->reconcile();
    scheduler.runUntilIdle();
  }

  // The tray item of app 7, as the controller keeps it.
  std::shared_ptr<StatusItem> item() const {
    for (const auto& candidate : bar.items()) {
      if (candidate->autosaveName() ==
          std::string(AppStatusItemsController::kAutosavePrefix) + BenchWorkspace::id(7)) {
        return candidate;
      }
    }
    return nullptr;
  }

  ManualScheduler scheduler;
  SimUserDefaults defaults;
  SimSystemLog systemLog;
  SimLoginItems loginItems;
  DebugLog log{std::filesystem::temp_directory_path() / "lumarin-bench-log", scheduler.clock()};
  FrameworkLanguage frameworkLanguage;
  L10n l10n{defaults, frameworkLanguage, nullptr};
  AppSettings settings{
      AppSettings::Dependencies{defaults, loginItems, systemLog, log, scheduler.clock(), &l10n}};
  BenchWorkspace workspace{kApps};
  std::shared_ptr<LauncherBadgeMonitor> monitor =
      std::make_shared<LauncherBadgeMonitor>(LauncherBadgeMonitor::Dependencies{
          scheduler, workspace, [] { return std::vector<DockItem>{}; }, {}, false, {}});
  DesktopEvents events{0.5};
  SniStatusBar bar{scheduler, events, systemLog, noBus()};
  AppIcons icons{workspace};
  AppItemsRevision revision;
  std::shared_ptr<AppStatusItemsController> controller =
      std::make_shared<AppStatusItemsController>(AppStatusItemsController::Dependencies{
          settings, monitor, bar, events, scheduler, workspace, nullptr, nullptr, defaults, icons,
          l10n, log, systemLog, revision});
};

void BM_LauncherSignalToIconPixmap(benchmark::State& state) {
  TrayDesktop desktop;
  const auto item = desktop.item();
  if (!item) {
    state.SkipWithError("no tray item for the app");
    return;
  }
  const std::string uri = "application://" + BenchWorkspace::id(7);
  std::int64_t count = 0;
  std::size_t bytes = 0;
  for (auto _ : state) {
    const LauncherProperties properties{{"count", ++count % 500 + 1}, {"count-visible", true}};
    desktop.monitor->receive(":1.42", uri, properties);
    desktop.scheduler.advanceBy(LauncherBadgeMonitor::kFrame);
    const auto pixmaps = trayPixmaps(*item->button().image(), RgbColor{1, 1, 1, 1});
    bytes = 0;
    for (const auto& pixmap : pixmaps) {
      bytes += pixmap.argb.size();
    }
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["pixmapBytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_LauncherSignalToIconPixmap)->Unit(benchmark::kMicrosecond);

}  // namespace
