#pragma once

#include <string>
#include <utility>
#include <vector>

namespace lumarin::sim {

class Timeline;
class World;
class SimWorkspace;
struct Scenario;

// The JSON document of what the simulated desktop saw during a run (docs/report.md). It holds
// no calendar time and no real durations, so the same scenario gives the same bytes.
// `sections` are further top-level members from the program's side (name, JSON text), in
// order; text that is not valid JSON is stored as a string.
std::string makeReport(const Scenario& scenario, double duration, const World& world,
                       const Timeline& timeline, const SimWorkspace& workspace,
                       const std::vector<std::pair<std::string, std::string>>& sections = {});

}  // namespace lumarin::sim
