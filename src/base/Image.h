#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/Geometry.h"

namespace lumarin {

// A bitmap: premultiplied RGBA, 8 bits per channel, rows top to bottom, with the size in
// points it stands for (pixels = points × scale) and whether it is a template image (one
// the system recolours for the menu bar, using only its alpha).
struct Image {
  int pixelWidth = 0;
  int pixelHeight = 0;
  Size pointSize;
  bool isTemplate = false;
  std::vector<std::uint8_t> rgba;  // 4 bytes per pixel

  bool isEmpty() const { return pixelWidth <= 0 || pixelHeight <= 0; }
  double scale() const { return pointSize.width > 0 ? pixelWidth / pointSize.width : 1; }

  struct Pixel {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
    bool operator==(const Pixel&) const = default;
  };
  Pixel pixel(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * pixelWidth + x) * 4;
    return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
  }
  std::uint8_t alpha(int x, int y) const {
    return rgba[(static_cast<std::size_t>(y) * pixelWidth + x) * 4 + 3];
  }
};

// An image whose pixels are drawn when it is displayed, at the display's scale (an NSImage
// with a drawing handler): a point size, the template flag, and the routine that rasterises
// it at a given number of pixels per point.
struct LazyImage {
  Size size;
  bool isTemplate = false;
  std::function<Image(double scale)> render;

  Image rasterize(double scale) const { return render ? render(scale) : Image{}; }
};

}  // namespace lumarin
