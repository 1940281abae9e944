#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"

namespace lumarin {

// What the command line asks for.
struct Options {
  bool headless = false;         // no display: Qt's offscreen platform
  bool virtualTime = false;      // the whole program on the manual scheduler, as fast as possible
  std::optional<double> runFor;  // quit normally after this many (virtual) seconds
  std::optional<std::string> scenario;  // the simulated Mac's world; the built-in one without
  std::optional<std::string> report;    // where to write what the simulated desktop saw
  std::optional<std::string> snapshot;  // a directory for pictures of what the program drew
  std::optional<std::string> openURL;   // a link of the program's scheme to hand over
  bool story = false;    // at the end, tell what happened, a line per event, on stdout
  bool desktop = false;  // on this machine's freedesktop desktop instead of the simulated Mac
  bool help = false;
  bool version = false;
};

// Parses the arguments after the program name. Unknown options, missing or bad values give
// an error whose message is meant for the user, followed by `usage()`.
Result<Options> parseCommandLine(const std::vector<std::string>& arguments);
std::string usage();

}  // namespace lumarin
