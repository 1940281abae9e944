#include "platform/StatusBar.h"

#include <algorithm>
#include <cmath>

namespace lumarin {

double KeyframeAnimation::valueAt(Duration now) const {
  if (values.empty()) {
    return 1;
  }
  if (values.size() == 1 || keyTimes.size() != values.size() || duration <= 0) {
    return values.front();
  }
  double t = toSeconds(now - beginTime) / duration;
  if (t < 0) {
    return values.front();
  }
  if (t >= 1) {
    if (!repeatsForever) {
      return values.back();
    }
    t -= std::floor(t);
  }
  for (std::size_t i = 1; i < keyTimes.size(); ++i) {
    if (t <= keyTimes[i]) {
      const double span = keyTimes[i] - keyTimes[i - 1];
      double f = span > 0 ? (t - keyTimes[i - 1]) / span : 1;
      if (easeInEaseOut) {
        f = f * f * (3 - 2 * f);  // smoothstep: slow at both keyframes
      }
      return values[i - 1] + (values[i] - values[i - 1]) * f;
    }
  }
  return values.back();
}

}  // namespace lumarin
