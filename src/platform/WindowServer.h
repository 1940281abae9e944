#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"

namespace lumarin {

// One window-list entry with the keys the window server may put in its description
// (kCGWindowNumber, kCGWindowName, kCGWindowLayer, kCGWindowOwnerPID, kCGWindowOwnerName,
// kCGWindowBounds, kCGWindowIsOnscreen). Any key can be missing.
struct WindowDescription {
  std::optional<std::uint32_t> number;
  std::optional<std::string> name;
  std::optional<int> layer;
  std::optional<int> ownerPID;
  std::optional<std::string> ownerName;
  std::optional<GlobalRect> bounds;  // "X", "Y", "Width", "Height" in global points
  std::optional<bool> isOnscreen;
};

enum class WindowListOption { all, onScreenOnly };

// The window server: public window lists and the private menu bar calls. Any thread.
class WindowServer {
 public:
  virtual ~WindowServer() = default;

  // CGSGetProcessMenuBarWindowList: fills at most `capacity` ids of the windows that draw menu
  // bar items into `ids`, sets `count`; returns 0 or an error code.
  virtual int processMenuBarWindowList(int capacity, std::vector<std::uint32_t>& ids,
                                       int& count) = 0;
  // CGWindowListCopyWindowInfo with kCGNullWindowID; absent when the list is unavailable.
  virtual std::optional<std::vector<WindowDescription>> windowList(WindowListOption option) = 0;
  // CGWindowListCreateDescriptionFromArray.
  virtual std::optional<std::vector<WindowDescription>> describeWindows(
      const std::vector<std::uint32_t>& ids) = 0;
  // CGSGetScreenRectForWindow: 0 and the rectangle in global points, or an error code.
  virtual int screenRectForWindow(std::uint32_t id, GlobalRect& rect) = 0;
};

}  // namespace lumarin
