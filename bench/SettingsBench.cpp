#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "diagnostics/DebugLog.h"
#include "l10n/FrameworkLanguage.h"
#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "platform/host/JsonFileUserDefaults.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimLoginItems.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimSystemLog.h"
#include "platform/sim/SimUserDefaults.h"

namespace {

using namespace lumarin;

// One persist() with 50 monitored apps: encoding every key and, for the file, one atomic
// rewrite with fsync.
template <bool kFile>
void BM_PersistFiftyApps(benchmark::State& state) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("lumarin-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  SimProcessInfo process;
  SimSystemLog systemLog;
  JsonFileUserDefaults file(dir / "defaults.json", process, systemLog);
  SimUserDefaults memory;
  UserDefaults& defaults = kFile ? static_cast<UserDefaults&>(file) : memory;
  ManualScheduler scheduler;
  DebugLog debugLog(dir / "log", scheduler.clock());
  FrameworkLanguage framework;
  L10n l10n(defaults, framework, nullptr);
  SimLoginItems loginItems;
  AppSettings settings(AppSettings::Dependencies{defaults, loginItems, systemLog, debugLog,
                                                 scheduler.clock(), &l10n});
  for (int i = 0; i < 50; ++i) {
    settings.add("com.example.app" + std::to_string(i), "App " + std::to_string(i));
  }
  for (auto _ : state) {
    settings.persist();
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_PersistFiftyApps<false>)->Name("BM_PersistFiftyApps/memory");
BENCHMARK(BM_PersistFiftyApps<true>)->Name("BM_PersistFiftyApps/file");

}  // namespace
