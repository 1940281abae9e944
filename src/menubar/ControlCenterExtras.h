#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "platform/Accessibility.h"

namespace lumarin {

class Workspace;

// The system's own menu bar items, read from the process that hosts them (the menu bar agent,
// else Control Center), and the overflow chevron. Any thread; every element of the host is
// asked with a 0.3 s timeout.
class ControlCenterExtras {
 public:
  static constexpr double kMessagingTimeout = 0.3;

  struct Item {
    std::string identifier;
    std::string description;
    GlobalRect frame;
    AXElement element;
    int pid = 0;
  };
  struct Snapshot {
    std::vector<Item> items;
    std::optional<GlobalRect> overflowChevron;
    bool empty() const { return items.empty() && !overflowChevron; }
  };

  ControlCenterExtras(Accessibility& accessibility, Workspace& workspace)
      : ax_(accessibility), workspace_(workspace) {}

  Snapshot snapshot();
  Snapshot snapshot(int hostPID);
  // AXPosition and AXSize; a missing position gives (0, 0), a missing size zero size.
  GlobalRect frame(const AXElement& element);

 private:
  Accessibility& ax_;
  Workspace& workspace_;
};

}  // namespace lumarin
