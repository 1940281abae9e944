#include "menubar/MenuBarGeometry.h"

#include "platform/Screens.h"

namespace lumarin {

std::vector<MenuBarScreen> menuBarScreens(const Screens& screens) {
  const auto list = screens.screens();
  std::vector<MenuBarScreen> out;
  if (list.empty()) {
    return out;
  }
  const double firstMaxY = list.front().frame.maxY();
  for (const auto& s : list) {
    out.push_back(MenuBarScreen{toGlobal(s.frame, firstMaxY), s.backingScale, s.displayID});
  }
  return out;
}

bool isHiddenByNotch(const std::vector<ScreenInfo>& screens, double minX, double midX) {
  for (const auto& s : screens) {
    if (s.safeAreaTopInset > 0 && midX >= s.frame.minX() && midX <= s.frame.maxX() &&
        s.auxiliaryTopRightArea && minX < s.auxiliaryTopRightArea->minX()) {
      return true;
    }
  }
  return false;
}

}  // namespace lumarin
