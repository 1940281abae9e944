#pragma once

#include "base/Geometry.h"

namespace lumarin {

class Clock;
class StatusBarButton;

// The pulsing red dot a status item's button shows over its icon while something needs the
// user (the missing accessibility permission): a sublayer of the button's layer named
// "kestova.alertBadge", beating with a "heartbeat" scale animation unless the user asked the
// system to reduce motion. Main queue.
class AlertBadge {
 public:
  static constexpr const char* kLayerName = "kestova.alertBadge";
  static constexpr const char* kAnimationKey = "heartbeat";

  static void update(StatusBarButton& button, bool visible, double iconSize, const Clock& clock,
                     bool reduceMotion);
  // The dot's centre: 13/16 across the icon and 3.1/16 below its top edge, in the button's
  // coordinates.
  static CocoaPoint position(const StatusBarButton& button, double iconSize);
  static double diameter(double iconSize) { return iconSize * 0.0625 * 5.8; }
};

}  // namespace lumarin
