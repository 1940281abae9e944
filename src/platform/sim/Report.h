#pragma once

#include <string>
#include <vector>

namespace lumarin::sim {

class Timeline;
class World;
class SimWorkspace;
struct Scenario;

// The JSON document of what the simulated desktop saw during a run (docs/report.md). It holds
// no calendar time and no real durations, so the same scenario gives the same bytes.
std::string makeReport(const Scenario& scenario, double duration, const World& world,
                       const Timeline& timeline, const SimWorkspace& workspace);

}  // namespace lumarin::sim
