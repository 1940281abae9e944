#pragma once

#include <QFont>
#include <QImage>
#include <QRectF>

#include "ui/Appearance.h"

class QPainter;

namespace lumarin {

// What a kit control looks like at one moment, apart from its content.
struct ControlState {
  bool enabled = true;
  bool hovered = false;  // the pointer is over it
  bool pressed = false;  // a mouse button or Space is held on it
  bool focused = false;  // it has keyboard focus
};

// Disabled controls are drawn whole at this opacity: content, fill and border fade together.
inline constexpr double kDisabledOpacity = 0.4;

// The system font at a size in points. A Mac point is one device-independent pixel, so the
// size is set in pixels: text keeps its proportion to the controls on any screen density.
QFont kitFont(int points, QFont::Weight weight);

// The keyboard focus ring, drawn inside `bounds` (2 points wide) following a rounded rectangle
// of `radius`. On an accent-filled control it is white so it stays visible.
void drawFocusRing(QPainter& painter, const QRectF& bounds, double radius, Appearance appearance,
                   bool onAccent);

// A template image (only its alpha counts) filled with `color`.
QImage tintedTemplate(const QImage& image, const QColor& color);

// The size in points of an image drawn at its natural size.
QSizeF naturalSize(const QImage& image);

}  // namespace lumarin
