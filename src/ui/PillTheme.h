#pragma once

#include "ui/Theme.h"

namespace lumarin {

// Colours of the pill controls: the field's fill and border and the segmented control's
// overlay, plus the overlays that mark a hovered and a pressed control.
class PillTheme {
 public:
  static DynamicColor field();
  static DynamicColor fieldBorder();
  static DynamicColor segOverlay();

  static DynamicColor hoverOverlay();
  static DynamicColor pressedOverlay();
};

}  // namespace lumarin
