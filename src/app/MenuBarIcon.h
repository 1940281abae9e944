#pragma once

#include "gfx/Drawing.h"

namespace lumarin {

// The program's own menu bar glyph: a menu bar with a dropped-down menu, drawn in black as a
// template image for the system to colour. The alert variant cuts a round hole into the
// top-right corner where the pulsing alert dot sits.
class MenuBarIcon {
 public:
  static constexpr double kCanvas = 16;
  static constexpr double kDesignScale = 0.8;

  static DrawableImage image(bool alert);
};

}  // namespace lumarin
