#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/Geometry.h"

namespace lumarin {

class WindowServer;

// A window that draws a menu bar item: id, rectangle in global points, name (empty when the
// window server reports none).
struct MenuBarWindow {
  std::uint32_t id = 0;
  GlobalRect rect;
  std::string title;
  bool operator==(const MenuBarWindow&) const = default;
};

// Window-server queries for menu bar item windows and the matching of an item to its window.
// Any thread.
class SkyLight {
 public:
  static constexpr int kCapacity = 512;

  // `markerMove`: the LUMARIN_MARKER_MOVE preference (prefer the window named after the owner).
  SkyLight(WindowServer& windowServer, bool markerMove)
      : windowServer_(windowServer), markerMove_(markerMove) {}

  std::vector<MenuBarWindow> menuBarItemWindows();
  std::set<std::uint32_t> onscreenWindowIDs();

  // The window whose centre is within `tolerance` of the rectangle's centre; every window tied
  // (within 0.5 points of the closest distance) is consumed, not only the chosen one.
  static std::optional<std::uint32_t> windowIDForCenter(const GlobalRect& rect,
                                                        const std::vector<MenuBarWindow>& windows,
                                                        std::set<std::uint32_t>& consumed,
                                                        const std::optional<std::string>& owner,
                                                        double tolerance, bool markerMove);
  std::optional<std::uint32_t> windowIDForCenter(const GlobalRect& rect,
                                                 const std::vector<MenuBarWindow>& windows,
                                                 std::set<std::uint32_t>& consumed,
                                                 const std::optional<std::string>& owner,
                                                 double tolerance) const {
    return windowIDForCenter(rect, windows, consumed, owner, tolerance, markerMove_);
  }

 private:
  WindowServer& windowServer_;
  bool markerMove_;
};

// The public window list's status-level windows, by owner, as a fallback.
struct StatusWindow {
  std::uint32_t windowID = 0;
  GlobalRect frame;
};
using StatusWindowMap = std::map<int, std::vector<StatusWindow>>;

StatusWindowMap statusWindowsByPID(WindowServer& windowServer);
// The owner's window whose mid x is closest (first of equals), when closer than 25 points.
std::optional<std::uint32_t> windowIDForFrame(const GlobalRect& rect, int pid,
                                              const StatusWindowMap& map);

}  // namespace lumarin
