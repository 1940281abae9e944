#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Geometry.h"
#include "platform/Accessibility.h"

namespace lumarin {

// One menu bar item of another process (or of the system). Equal when pid, index and frame
// are equal; identity is "<pid>#<index>".
struct ExternalStatusItem {
  int pid = 0;
  int index = 0;  // child index; 900+ for bundle-named windows; 10000+ for system items
  std::string appName;
  std::optional<std::string> bundleID;
  GlobalRect frame;
  std::optional<AXElement> element;
  std::uint32_t windowID = 0;
  std::optional<std::string> windowTitle;
  std::optional<bool> drawnHint;  // set by the agent layout

  std::string id() const { return std::to_string(pid) + "#" + std::to_string(index); }
  bool operator==(const ExternalStatusItem& other) const {
    return pid == other.pid && index == other.index && frame == other.frame;
  }
};

}  // namespace lumarin
