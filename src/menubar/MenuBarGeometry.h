#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "base/Geometry.h"

namespace lumarin {

class Screens;

// Displays in the accessibility interface's coordinates (global, top-left origin).
struct MenuBarScreen {
  GlobalRect frame;
  double scale = 1;
  std::uint32_t displayID = 0;
  bool operator==(const MenuBarScreen&) const = default;
};

std::vector<MenuBarScreen> menuBarScreens(const Screens& screens);

struct ScreenInfo;
// Whether a menu bar item with this minimum and mid x stands where a notch hides it: on a
// notched screen (top inset above 0, with an auxiliary top-right area) whose x range holds
// mid x, left of the area's minimum x.
bool isHiddenByNotch(const std::vector<ScreenInfo>& screens, double minX, double midX);

// The last known position of the menu bar's overflow chevron. Any thread.
class MenuBarOverflow {
 public:
  void set(std::optional<GlobalRect> chevron) {
    std::lock_guard lock(mutex_);
    chevron_ = chevron;
  }
  std::optional<GlobalRect> get() const {
    std::lock_guard lock(mutex_);
    return chevron_;
  }

 private:
  mutable std::mutex mutex_;
  std::optional<GlobalRect> chevron_;
};

}  // namespace lumarin
