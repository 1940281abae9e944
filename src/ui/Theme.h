#pragma once

#include <QColor>

#include "ui/Appearance.h"

namespace lumarin {

// One colour with a light and a dark variant, resolved when it is drawn.
class DynamicColor {
 public:
  DynamicColor(const QColor& light, const QColor& dark) : light_(light), dark_(dark) {}

  QColor resolve(Appearance appearance) const {
    return appearance == Appearance::dark ? dark_ : light_;
  }
  const QColor& light() const { return light_; }
  const QColor& dark() const { return dark_; }

 private:
  QColor light_;
  QColor dark_;
};

// The settings window's appearance-dependent colours. Besides the kit's own colours it carries
// the Mac's label colours (primary, secondary, tertiary) that the controls tint text and icons
// with, and the keyboard focus ring.
class Theme {
 public:
  static DynamicColor dynamic(const QColor& light, const QColor& dark) { return {light, dark}; }

  static DynamicColor accent();
  static DynamicColor surfaceCard();
  static DynamicColor textPrimary();
  static DynamicColor textSecondary();
  static DynamicColor fillTint();

  static DynamicColor label();
  static DynamicColor secondaryLabel();
  static DynamicColor tertiaryLabel();
  static DynamicColor focusRing();

  // Black or white with an alpha in 0…1.
  static QColor black(double alpha);
  static QColor white(double alpha);
};

}  // namespace lumarin
