#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "diagnostics/DebugLog.h"
#include "platform/sim/ManualScheduler.h"

namespace {

using namespace lumarin;

// One line as the program writes it: format, lock, stat, open, append, close.
void BM_DebugLogLine(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "lumarin-bench-XXXXXX").string();
  const std::filesystem::path dir = ::mkdtemp(pattern.data());
  ManualScheduler scheduler;
  DebugLog log(dir, scheduler.clock());
  for (auto _ : state) {
    log.log("mirror: refresh tiles=42 captured=40 fallback=2 ms=12");
  }
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DebugLogLine);

void BM_DebugLogTail(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "lumarin-bench-XXXXXX").string();
  const std::filesystem::path dir = ::mkdtemp(pattern.data());
  ManualScheduler scheduler;
  DebugLog log(dir, scheduler.clock());
  for (int i = 0; i < 20000; ++i) {
    log.log("mirror: refresh tiles=42 captured=40 fallback=2 ms=12 i=" + std::to_string(i));
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(log.tail());
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DebugLogTail);

}  // namespace
