#include "badges/AlertBadge.h"

#include "platform/Scheduler.h"
#include "platform/StatusBar.h"

namespace lumarin {

CocoaPoint AlertBadge::position(const StatusBarButton& button, double iconSize) {
  const double u = iconSize * 0.0625;
  const Size bounds = button.bounds();
  const double mx = bounds.width / 2;
  const double my = bounds.height / 2;
  const double x = mx - iconSize / 2 + 13 * u;
  const double y = button.isFlipped() ? my - iconSize / 2 + 3.1 * u : my + iconSize / 2 - 3.1 * u;
  return CocoaPoint{x, y};
}

void AlertBadge::update(StatusBarButton& button, bool visible, double iconSize, const Clock& clock,
                        bool reduceMotion) {
  const bool present = button.layer(kLayerName).has_value();
  if (!visible) {
    if (present) {
      button.removeLayer(kLayerName);
    }
    return;
  }
  if (present) {
    button.moveLayer(kLayerName, position(button, iconSize));
    return;
  }
  const double d = diameter(iconSize);
  ButtonLayer dot;
  dot.name = kLayerName;
  dot.bounds = Size{d, d};
  dot.cornerRadius = d / 2;
  dot.background = RgbColor{1.0, 0.231, 0.188, 1.0};  // the system red
  dot.position = position(button, iconSize);
  const auto window = button.window();
  dot.contentsScale = window ? window->backingScaleFactor : 2.0;
  if (!reduceMotion) {
    KeyframeAnimation heartbeat;
    heartbeat.keyPath = "transform.scale";
    heartbeat.values = {1.0, 0.74, 1.0, 0.82, 1.0, 1.0};
    heartbeat.keyTimes = {0, 0.12, 0.28, 0.42, 0.6, 1.0};
    heartbeat.duration = 1.6;
    heartbeat.repeatsForever = true;
    heartbeat.easeInEaseOut = true;
    heartbeat.beginTime = clock.monotonicNow();
    dot.animations[kAnimationKey] = heartbeat;
  }
  button.addLayer(std::move(dot));
}

}  // namespace lumarin
