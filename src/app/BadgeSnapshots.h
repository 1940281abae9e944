#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/Result.h"
#include "model/DockItem.h"
#include "model/MonitoredApp.h"

namespace lumarin {

class AppIcons;

// Writes the badge pictures as PNG files at `scale`, for looking at what the renderer draws:
//  - catalogue/<style>-<colour>-<badge>.png: every style in every colour for the badges
//    "3", "12", "•" and 1234 ("999+"), on `sampleBundleID`'s icon, plus dimmed and idle ones;
//  - apps/<bundle id>.png: each monitored app as it stands at the end of the run.
// Returns the number of files written.
Result<int> writeBadgeSnapshots(const std::filesystem::path& directory, AppIcons& icons,
                                const std::string& sampleBundleID,
                                const std::vector<MonitoredApp>& apps, BadgeStyle defaultStyle,
                                const std::map<std::string, DockItem>& dock, double scale);

}  // namespace lumarin
