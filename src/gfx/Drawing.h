#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "base/Image.h"
#include "base/Result.h"

class QImage;
class QPainter;

namespace lumarin {

// An image drawn at display time: a size in points and a routine that draws it in points
// (origin top-left, as QPainter has it), so it is sharp at any scale.
struct DrawableImage {
  Size size;
  bool isTemplate = false;
  std::function<void(QPainter&)> draw;

  // Rasterises at `scale` pixels per point onto a transparent canvas.
  Image rasterize(double scale) const;
  // The same picture for ports that take images drawn at display time.
  LazyImage lazy() const {
    return LazyImage{size, isTemplate,
                     [copy = *this](double scale) { return copy.rasterize(scale); }};
  }
};

// Conversions between our bitmaps and Qt's (premultiplied RGBA8888 both ways).
QImage toQImage(const Image& image);
Image fromQImage(const QImage& image, Size pointSize, bool isTemplate = false);

Status writePng(const Image& image, const std::filesystem::path& file);
Result<Image> readPng(const std::filesystem::path& file, double scale = 1);

// A QPainter set up for drawing in points onto `image` (pixels = points × scale), with
// antialiasing and 72 dots per inch, so a font of N points is N points tall on the canvas.
void preparePainter(QPainter& painter, double scale);

}  // namespace lumarin
