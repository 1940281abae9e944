// The stored (or synced) list of monitored apps.
#include <cstdint>
#include <string_view>

#include "model/MonitoredApp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumarin;
  auto apps = decodeMonitoredApps(std::string_view(reinterpret_cast<const char*>(data), size));
  if (apps) {
    // What reads must write back the same way.
    auto again = decodeMonitoredApps(encodeMonitoredApps(apps.value()));
    if (!again || again.value() != apps.value()) {
      __builtin_trap();
    }
  }
  return 0;
}
