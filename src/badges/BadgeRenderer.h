#pragma once

#include <optional>
#include <string>

#include "base/Image.h"
#include "base/StyledText.h"
#include "gfx/Drawing.h"
#include "model/DockItem.h"
#include "model/MonitoredApp.h"

namespace lumarin {

// Pure drawing of a per-app status item's picture: the app icon, and the badge as a dot or a
// circle with its number; the text style shows the number as the item's title instead.
// Geometry in points, origin at the canvas's bottom-left as the design states it; the drawing
// converts to the painter's top-left origin. Any thread (drawing needs the GUI application).
class BadgeRenderer {
 public:
  static constexpr double kIconSize = 18;
  static constexpr double kDimmedOpacity = 0.35;
  static constexpr double kDotDiameter = 7;
  static constexpr double kCircleHeight = 11;

  // The count below 1000 in decimal, "999+" above, the label when there is no count.
  static std::string displayText(const BadgeValue& badge);
  // max(n × 5.4 + 5, 11) for a text of n characters.
  static double circleWidth(const std::string& text);
  static Size canvasSize(const std::optional<BadgeValue>& badge, BadgeStyle style);
  // Where the badge sits, in the bottom-left convention: the dot or the circle rectangle.
  static CocoaRect badgeRect(const std::optional<BadgeValue>& badge, BadgeStyle style);

  // The picture, drawn at display time. A drawn dot or circle makes the image a non-template
  // one so the badge keeps its colour; otherwise it is a template exactly when the icon is.
  static DrawableImage image(const Image& icon, const std::optional<BadgeValue>& badge,
                             BadgeStyle style, RgbColor color, bool dimmed);
  static StyledText title(const BadgeValue& badge, RgbColor color);
  // Every non-transparent pixel of the icon in `color` (source-atop over the icon).
  static Image tinted(const Image& icon, RgbColor color);
};

}  // namespace lumarin
