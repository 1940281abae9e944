#pragma once

#include <string>
#include <vector>

#include "base/Json.h"

namespace lumarin::sim {

// A run told as a story: one line per thing that happened on the simulated desktop and per
// thing the program did, in time order ("0:05.0  Mail shows 4 in the menu bar"), read from the
// run's report (docs/report.md). The same report gives the same story.
std::vector<std::string> narrate(const json::Json& report);

}  // namespace lumarin::sim
