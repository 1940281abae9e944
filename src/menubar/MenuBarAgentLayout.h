#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/Geometry.h"
#include "menubar/ExternalStatusItem.h"
#include "menubar/MenuBarGeometry.h"
#include "platform/Accessibility.h"

namespace lumarin {

class Workspace;

// The menu bar agent's strip: its windows and slots, the layout displayed on a screen, and the
// matching of scanned items to the slots really drawn (those right of the chevron). Any thread.
class MenuBarAgentLayout {
 public:
  // Messaging timeouts, in seconds, of every element each step asks: the agent's strip, and
  // the owner of a slot the scan could not place.
  static constexpr double kSnapshotTimeout = 0.3;
  static constexpr double kResolveTimeout = 0.2;

  struct Slot {
    GlobalRect rect;
    bool isChevron = false;
    AXElement element;
    bool operator==(const Slot&) const = default;
  };
  struct Layout {
    GlobalRect frame;
    std::vector<Slot> slots;  // by minimum x
    bool operator==(const Layout&) const = default;
    // Non-chevron slots at or right of (first chevron's maxX − 1); all of them without one.
    std::vector<Slot> drawnSlots() const;
  };
  struct Placement {
    std::map<std::string, GlobalRect> matched;
    std::map<std::size_t, std::vector<std::string>> contested;  // drawn-slot index → ids
    std::vector<std::size_t> unclaimed;
  };

  MenuBarAgentLayout(Accessibility& accessibility, Workspace& workspace)
      : ax_(accessibility), workspace_(workspace) {}

  std::vector<Layout> snapshot();
  std::optional<int> resolvePID(const AXElement& slot);

  static std::optional<Layout> displayedLayout(const std::vector<Layout>& layouts,
                                               const GlobalRect& screen,
                                               const std::optional<GlobalRect>& chevron,
                                               const std::vector<GlobalRect>& systemRects);
  static Placement match(const std::vector<std::pair<std::string, GlobalRect>>& items,
                         const Layout& layout);

  std::pair<std::vector<ExternalStatusItem>, std::string> place(
      const std::vector<ExternalStatusItem>& items, const std::vector<Layout>& layouts,
      const std::vector<MenuBarScreen>& screens, const std::optional<GlobalRect>& chevron,
      const std::vector<GlobalRect>& systemRects, const std::vector<GlobalRect>& knownRects,
      const std::function<bool(const ExternalStatusItem&)>& fallbackIsDrawn);

 private:
  Accessibility& ax_;
  Workspace& workspace_;
};

}  // namespace lumarin
