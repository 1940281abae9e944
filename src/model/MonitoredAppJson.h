#pragma once

// The monitored apps' list read from an already parsed document (a synced copy holds it as a
// member). Compile-heavy like base/Json.h: include it from .cpp files only.

#include <vector>

#include "base/Json.h"
#include "model/MonitoredApp.h"

namespace lumarin {

// The same rules as decodeMonitoredApps, without writing the tree out and reading it again.
Result<std::vector<MonitoredApp>> monitoredAppsFromJson(const json::Json& array);

}  // namespace lumarin
