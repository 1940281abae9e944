#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "base/Geometry.h"
#include "base/Signal.h"

namespace lumarin {

// One display as NSScreen describes it, in the window system's convention.
struct ScreenInfo {
  std::uint32_t displayID = 0;  // "NSScreenNumber"
  CocoaRect frame;
  CocoaRect visibleFrame;
  double backingScale = 1;
  double safeAreaTopInset = 0;
  std::optional<CocoaRect> auxiliaryTopLeftArea;
  std::optional<CocoaRect> auxiliaryTopRightArea;
  bool operator==(const ScreenInfo&) const = default;
};

// NSScreen.screens (the first is the one with the menu bar) and the mouse. Any thread.
class Screens {
 public:
  virtual ~Screens() = default;
  virtual std::vector<ScreenInfo> screens() const = 0;
  virtual CocoaPoint mouseLocation() const = 0;
  // NSApplicationDidChangeScreenParametersNotification: a display was attached, removed or
  // rearranged. Delivered on the thread that changed the screens.
  [[nodiscard]] virtual Subscription subscribeParametersChanged(std::function<void()> handler) = 0;
};

}  // namespace lumarin
