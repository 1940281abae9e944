#include "platform/desktop/TrayPixmap.h"

#include <QGuiApplication>
#include <QPalette>
#include <algorithm>
#include <cmath>

namespace lumarin {

namespace {

std::uint8_t channel(double unit) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(unit, 0.0, 1.0) * 255));
}

// Undoes premultiplication, rounding to nearest; a channel larger than its alpha (not valid
// premultiplied data) saturates rather than wrapping.
std::uint8_t unpremultiply(std::uint8_t c, std::uint8_t a) {
  return static_cast<std::uint8_t>(std::min(255u, (c * 255u + a / 2u) / a));
}

}  // namespace

TrayPixmap trayPixmap(const Image& image, std::optional<RgbColor> templateInk) {
  TrayPixmap out;
  if (image.isEmpty()) {
    return out;
  }
  const std::size_t pixels =
      static_cast<std::size_t>(image.pixelWidth) * static_cast<std::size_t>(image.pixelHeight);
  if (image.rgba.size() < pixels * 4) {
    return out;
  }
  out.width = image.pixelWidth;
  out.height = image.pixelHeight;
  out.argb.resize(pixels * 4);
  const std::uint8_t* in = image.rgba.data();
  std::uint8_t* dst = out.argb.data();
  if (image.isTemplate && templateInk) {
    const std::uint8_t r = channel(templateInk->red);
    const std::uint8_t g = channel(templateInk->green);
    const std::uint8_t b = channel(templateInk->blue);
    const unsigned inkAlpha = channel(templateInk->alpha);
    for (std::size_t i = 0; i < pixels; ++i, in += 4, dst += 4) {
      const std::uint8_t a = static_cast<std::uint8_t>((in[3] * inkAlpha + 127u) / 255u);
      dst[0] = a;
      dst[1] = a != 0 ? r : 0;
      dst[2] = a != 0 ? g : 0;
      dst[3] = a != 0 ? b : 0;
    }
    return out;
  }
  for (std::size_t i = 0; i < pixels; ++i, in += 4, dst += 4) {
    const std::uint8_t a = in[3];
    dst[0] = a;
    if (a == 255) {
      dst[1] = in[0];
      dst[2] = in[1];
      dst[3] = in[2];
    } else if (a == 0) {
      dst[1] = dst[2] = dst[3] = 0;
    } else {
      dst[1] = unpremultiply(in[0], a);
      dst[2] = unpremultiply(in[1], a);
      dst[3] = unpremultiply(in[2], a);
    }
  }
  return out;
}

RgbColor templateInk(bool darkPanel) {
  // Adwaita's text (#2e3436) and its light counterpart (#eeeeec).
  return darkPanel ? RgbColor{0xee / 255.0, 0xee / 255.0, 0xec / 255.0, 1}
                   : RgbColor{0x2e / 255.0, 0x34 / 255.0, 0x36 / 255.0, 1};
}

bool desktopPaletteIsDark() {
  if (qGuiApp == nullptr) {
    return false;
  }
  return QGuiApplication::palette().color(QPalette::Window).lightnessF() < 0.5;
}

}  // namespace lumarin

namespace lumarin {

std::vector<TrayPixmap> trayPixmaps(const LazyImage& image, const RgbColor& ink) {
  std::vector<TrayPixmap> out;
  for (double scale : {1.0, 2.0}) {
    Image raster = image.rasterize(scale);
    raster.isTemplate = raster.isTemplate || image.isTemplate;
    TrayPixmap pixmap = trayPixmap(raster, ink);
    if (pixmap.argb.empty()) {
      continue;
    }
    const bool sameSize = std::any_of(out.begin(), out.end(), [&](const TrayPixmap& p) {
      return p.width == pixmap.width && p.height == pixmap.height;
    });
    if (!sameSize) {
      out.push_back(std::move(pixmap));
    }
  }
  return out;
}

}  // namespace lumarin
