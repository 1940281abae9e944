#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <string>

#include "ui/Appearance.h"
#include "ui/Theme.h"

namespace lumarin::test {

// `top` composited over the opaque `bottom`, with an extra opacity on top.
inline QColor over(const QColor& top, const QColor& bottom, double opacity = 1) {
  const double a = top.alphaF() * opacity;
  auto mix = [a](double t, double b) {
    return static_cast<int>(std::lround((t * a + b * (1 - a)) * 255));
  };
  return QColor(mix(top.redF(), bottom.redF()), mix(top.greenF(), bottom.greenF()),
                mix(top.blueF(), bottom.blueF()));
}

inline std::string describe(const QColor& c) {
  return "(" + std::to_string(c.red()) + "," + std::to_string(c.green()) + "," +
         std::to_string(c.blue()) + "," + std::to_string(c.alpha()) + ")";
}

inline ::testing::AssertionResult colorNear(const QColor& actual, const QColor& expected,
                                            int tolerance = 2) {
  const int d = std::max(
      {std::abs(actual.red() - expected.red()), std::abs(actual.green() - expected.green()),
       std::abs(actual.blue() - expected.blue()), std::abs(actual.alpha() - expected.alpha())});
  if (d <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "colour " << describe(actual) << " is not near " << describe(expected);
}

// The widget drawn at 1 pixel per point over its card colour in `appearance`, which is set on
// the widget first (as a window would pass it down).
inline QImage renderOnCard(QWidget& widget, Appearance appearance) {
  setAppearance(&widget, appearance);
  QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Theme::surfaceCard().resolve(appearance));
  widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return image;
}

// The widget drawn on transparency: the alpha channel is the coverage of what it paints.
inline QImage renderAlone(QWidget& widget) {
  QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return image;
}

inline QColor pixel(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

// The corner radius of an opaque rounded shape drawn on transparency, estimated from the area
// its top-left corner leaves uncovered: r²(1 − π/4).
inline double estimatedCornerRadius(const QImage& image, int box) {
  double uncovered = 0;
  for (int y = 0; y < box; ++y) {
    for (int x = 0; x < box; ++x) {
      uncovered += 1 - qAlpha(image.pixel(x, y)) / 255.0;
    }
  }
  return std::sqrt(uncovered / (1 - M_PI / 4));
}

}  // namespace lumarin::test
