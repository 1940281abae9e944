#pragma once

#include "base/Image.h"

namespace lumarin::test {

// A square picture of `side` points, opaque white all over, drawn at whatever scale it is asked
// for (a button image for the simulated status bar).
inline LazyImage solidSquare(double side, bool isTemplate) {
  return LazyImage{Size{side, side}, isTemplate, [side, isTemplate](double scale) {
                     Image image;
                     image.pixelWidth = image.pixelHeight = static_cast<int>(side * scale);
                     image.pointSize = Size{side, side};
                     image.isTemplate = isTemplate;
                     image.rgba.assign(static_cast<std::size_t>(image.pixelWidth) *
                                           static_cast<std::size_t>(image.pixelHeight) * 4,
                                       255);
                     return image;
                   }};
}

}  // namespace lumarin::test
