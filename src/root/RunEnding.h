#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/CommandLine.h"
#include "base/Result.h"

namespace lumarin {

// How a run ends, on the simulated Mac and on the desktop alike: the report written where
// `--report` says, the pictures (`writeSnapshots`, called only with `--snapshot`), then with
// `--story` the story, the report's path and where the pictures are (`pictureNames` says what
// a reader finds there). The process's exit status: 1 when a file could not be written.
int endRun(const Options& options, const std::string& report,
           const std::function<Status()>& writeSnapshots, std::string_view pictureNames);

}  // namespace lumarin
