#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/Image.h"
#include "base/StyledText.h"

namespace lumarin {

// One icon bitmap as tray hosts take it: ARGB32, one 32-bit word per pixel in network byte
// order (bytes A, R, G, B), straight (not premultiplied) alpha, rows top to bottom.
struct TrayPixmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> argb;
  bool operator==(const TrayPixmap&) const = default;
};

// Converts our premultiplied RGBA bitmap. With `templateInk`, a template image keeps only its
// alpha and is painted in that colour (what the menu bar does to template images); without
// it, or for an image that is no template, the colours are kept. An empty or malformed image
// (a pixel buffer shorter than its size) gives an empty pixmap.
TrayPixmap trayPixmap(const Image& image, std::optional<RgbColor> templateInk);

// The ink template images are painted in on a panel: the panel's text colour. Tray hosts do
// not tell clients their colours, so it follows the desktop's palette: on a dark window
// background (lightness under one half) a near-white, otherwise the near-black of light
// themes' text. Both are the colours a symbolic icon gets from common themes.
RgbColor templateInk(bool darkPanel);

// Whether the desktop's palette is dark (its window background's lightness under one half);
// false without a GUI application.
bool desktopPaletteIsDark();

}  // namespace lumarin

namespace lumarin {

// An item image as the tray gets it: rendered at 1× and 2× and converted (template images in
// `templateInk`); sizes that come out the same are given once, empty renderings not at all.
std::vector<TrayPixmap> trayPixmaps(const LazyImage& image, const RgbColor& templateInk);

}  // namespace lumarin
