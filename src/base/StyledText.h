#pragma once

#include <string>

namespace lumarin {

// An sRGB colour with components 0 to 1.
struct RgbColor {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;
  bool operator==(const RgbColor&) const = default;
};

// Text with the look it is shown in (an attributed title: a status item's badge number).
struct StyledText {
  std::string text;
  double pointSize = 12;
  bool semibold = true;
  bool monospacedDigits = true;
  RgbColor color;
  bool operator==(const StyledText&) const = default;
};

}  // namespace lumarin
