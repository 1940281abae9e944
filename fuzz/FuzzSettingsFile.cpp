// The settings file as the program finds it on disk, loaded into the settings store.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "diagnostics/DebugLog.h"
#include "l10n/FrameworkLanguage.h"
#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "platform/host/JsonFileUserDefaults.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimLoginItems.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimSystemLog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumarin;
  static const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("lumarin-fuzz-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  {
    std::ofstream out(dir / "defaults.json", std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  SimProcessInfo process;
  SimSystemLog systemLog;
  JsonFileUserDefaults defaults(dir / "defaults.json", process, systemLog);
  ManualScheduler scheduler;
  DebugLog debugLog(dir / "log", scheduler.clock());
  FrameworkLanguage framework;
  L10n l10n(defaults, framework, nullptr);
  SimLoginItems loginItems;
  AppSettings settings(AppSettings::Dependencies{defaults, loginItems, systemLog, debugLog,
                                                 scheduler.clock(), &l10n});
  settings.add("com.apple.mail", "Mail");
  return 0;
}
