#include "ui/Theme.h"

#include "ui/PillTheme.h"

namespace lumarin {

QColor Theme::black(double alpha) { return QColor::fromRgbF(0, 0, 0, static_cast<float>(alpha)); }
QColor Theme::white(double alpha) { return QColor::fromRgbF(1, 1, 1, static_cast<float>(alpha)); }

DynamicColor Theme::accent() { return dynamic(QColor(10, 132, 255), QColor(10, 132, 255)); }
DynamicColor Theme::surfaceCard() { return dynamic(QColor(255, 255, 255), QColor(42, 42, 45)); }
DynamicColor Theme::textPrimary() { return dynamic(black(0.85), white(0.92)); }
DynamicColor Theme::textSecondary() { return dynamic(black(0.55), white(0.60)); }
DynamicColor Theme::fillTint() { return dynamic(black(0.045), white(0.07)); }

// The Mac's labelColor, secondaryLabelColor and tertiaryLabelColor.
DynamicColor Theme::label() { return dynamic(black(0.85), white(0.85)); }
DynamicColor Theme::secondaryLabel() { return dynamic(black(0.50), white(0.55)); }
DynamicColor Theme::tertiaryLabel() { return dynamic(black(0.26), white(0.25)); }
DynamicColor Theme::focusRing() {
  QColor ring(10, 132, 255);
  ring.setAlphaF(0.55f);
  return dynamic(ring, ring);
}

DynamicColor PillTheme::field() { return Theme::dynamic(Theme::black(0.05), Theme::white(0.06)); }
DynamicColor PillTheme::fieldBorder() {
  return Theme::dynamic(Theme::black(0.12), Theme::white(0.12));
}
DynamicColor PillTheme::segOverlay() {
  return Theme::dynamic(Theme::black(0.075), Theme::white(0.052));
}
DynamicColor PillTheme::hoverOverlay() {
  return Theme::dynamic(Theme::black(0.05), Theme::white(0.06));
}
DynamicColor PillTheme::pressedOverlay() {
  return Theme::dynamic(Theme::black(0.14), Theme::white(0.16));
}

}  // namespace lumarin
