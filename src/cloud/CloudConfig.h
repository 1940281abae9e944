#pragma once

#include <string>

namespace lumarin {

class ProcessInfo;

// Where the web service is. The base URL is fixed at build time (LUMARIN_SERVICE_URL, a CMake
// cache variable) and may be replaced for a run by the environment variable of the same name,
// which is how development and the integration tests point the program at a loopback service.
// Always ends in "/", so paths are appended as they are ("api/me").
struct CloudConfig {
  std::string baseURL;

  static std::string builtInBaseURL();
  // The environment's URL when it is set and permitted (https, or http on a loopback host);
  // otherwise the built-in one.
  static CloudConfig fromEnvironment(const ProcessInfo& process);
  static std::string normalized(std::string url);
};

}  // namespace lumarin
