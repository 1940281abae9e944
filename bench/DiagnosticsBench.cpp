#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "diagnostics/DebugLog.h"
#include "diagnostics/ImproveReporter.h"
#include "diagnostics/TesterMode.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimBundle.h"
#include "platform/sim/SimHttpClient.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimSystemLog.h"
#include "platform/sim/SimUserDefaults.h"

namespace {

using namespace lumarin;

std::filesystem::path scratch() {
  std::string pattern = (std::filesystem::temp_directory_path() / "lumarin-bench-XXXXXX").string();
  return ::mkdtemp(pattern.data());
}

struct Statistics {
  ManualScheduler scheduler;
  SimUserDefaults defaults;
  SimHttpClient http;
  SimBundle bundle;
  SimProcessInfo process;
  std::filesystem::path dir = scratch();
  std::shared_ptr<ImproveReporter> reporter = std::make_shared<ImproveReporter>(
      ImproveReporter::Dependencies{scheduler, defaults, http, bundle, process, dir, "https://x/"});
  ~Statistics() { std::filesystem::remove_all(dir); }
};

const Properties kClick{{"ok", true},
                        {"path", std::string("ax")},
                        {"targetApp", std::string("com.getdropbox.dropbox")},
                        {"notchHidden", false}};

// What a caller pays for one event: sanitising and one JSON serialisation.
void BM_StatisticsRecordCaller(benchmark::State& state) {
  Statistics s;
  for (auto _ : state) {
    s.reporter->record("mirror.click", kClick);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StatisticsRecordCaller);

// The queue's share of one event with `range(0)` lines already waiting: the append, and the
// read of the whole queue that decides on an early flush.
void BM_StatisticsAppend(benchmark::State& state) {
  Statistics s;
  for (int i = 0; i < state.range(0); ++i) {
    s.reporter->record("mirror.click", kClick);
  }
  s.scheduler.runUntilIdle();
  for (auto _ : state) {
    s.reporter->record("mirror.click", kClick);
    s.scheduler.runUntilIdle();
    state.PauseTiming();
    s.reporter->clearQueue();
    s.scheduler.runUntilIdle();
    for (int i = 0; i < state.range(0); ++i) {
      s.reporter->record("mirror.click", kClick);
    }
    s.scheduler.runUntilIdle();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StatisticsAppend)->Arg(0)->Arg(198);

// One tester export's text at its largest: a full debug log tail and 4,000 system-log lines.
void BM_TesterExportText(benchmark::State& state) {
  ManualScheduler scheduler;
  const auto dir = scratch();
  DebugLog log(dir, scheduler.clock());
  for (int i = 0; i < 6000; ++i) {
    log.log("mirror: refresh tiles=42 captured=40 fallback=2 ms=12 i=" + std::to_string(i));
  }
  SimSystemLog systemLog;
  systemLog.setClock(&scheduler.clock());
  for (int i = 0; i < 5000; ++i) {
    systemLog.log("Lumarin: launch-at-login update failed: " + std::to_string(i));
  }
  SimUserDefaults defaults;
  SimHttpClient http;
  SimBundle bundle;
  SimProcessInfo process;
  auto tester = std::make_shared<TesterMode>(TesterMode::Dependencies{
      defaults, scheduler, log, systemLog, http, bundle, process, "https://x/", "/home/ann"});
  const std::string tail = log.tail();
  const auto since = scheduler.clock().wallNow() - std::chrono::hours(1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(tester->composeText(tail, since, {"token-123456", "a@b.example"}));
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_TesterExportText);

}  // namespace
