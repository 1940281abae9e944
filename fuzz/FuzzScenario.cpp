// Scenario files given on the command line.
#include <cstdint>
#include <string_view>

#include "platform/sim/Scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumarin::sim;
  auto scenario =
      parseScenario(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
  if (scenario) {
    World world;
    buildWorld(*scenario, world);
    for (const auto& event : scenario->timeline) {
      applyEvent(event, world);
    }
  }
  return 0;
}
