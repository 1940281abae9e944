// The CPU one launcher entry signal costs before any bus work: decoding its URI and
// properties and merging them into the sender's state for the app.
#include <benchmark/benchmark.h>

#include "desktop/LauncherEntryParser.h"

namespace lumarin {
namespace {

void BM_LauncherEntryParseAndMerge(benchmark::State& state) {
  const LauncherProperties properties{
      {"count", std::int64_t{0}},  {"count-visible", true},
      {"urgent", false},           {"progress", 0.5},
      {"progress-visible", false}, {"quicklist", std::string("/org/example/Menu")}};
  LauncherEntryState entry;
  std::int64_t n = 0;
  for (auto _ : state) {
    auto copy = properties;
    copy[0].second = ++n % 1000;
    auto result = parseLauncherEntryUpdate("application://org.telegram.desktop.desktop", copy);
    benchmark::DoNotOptimize(entry.apply(std::get<LauncherEntryUpdate>(result)));
  }
}
BENCHMARK(BM_LauncherEntryParseAndMerge);

}  // namespace
}  // namespace lumarin
