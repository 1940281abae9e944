#pragma once

#include <optional>
#include <utility>

#include "base/Geometry.h"
#include "base/Image.h"

namespace lumarin::glyph {

// The image tests that judge a captured menu bar picture, and its adaptation to the HUD's
// background. Pure functions on premultiplied RGBA bitmaps, rows top first; any thread.

// Sampled into at most 24 × 24 pixels: fewer than 2 pixels above alpha 20 in a sample under
// 100 pixels, or fewer than sample size / 50 otherwise. A zero-sized image is not empty.
bool isEffectivelyEmpty(const Image& image);
// The bounding box of pixels above `alphaThreshold`, grown by one pixel each side (clipped).
std::optional<Image> trimmedToOpaque(const Image& image, std::uint8_t alphaThreshold);
// The upper median alpha of the top row is below 8.
bool hasTransparentBackground(const Image& image);
// Fractions of the leftmost and rightmost columns that carry ink against the bottom row's
// median colour (or alpha, on a transparent background).
std::optional<std::pair<double, double>> edgeInkFractions(const Image& image);
// The border's median colour keyed out, the remaining pixels un-mixed from it.
std::optional<Image> keyingOutBackground(const Image& image);
// Sampled into at most 20 × 20: coloured pixels are fewer than 15 % of the visible ones.
bool isEffectivelyMonochrome(const Image& image);
// A neutral glyph drawn for the wrong background has its greys inverted; template images and
// coloured glyphs are returned unchanged.
Image adaptingStructure(const Image& image, bool forDarkBackground);

// The upper median: the element at count / 2 of the sorted values.
int upperMedian(std::vector<int> values);

}  // namespace lumarin::glyph
