#pragma once

#include "base/Geometry.h"
#include "base/Image.h"

namespace lumarin::sim {

class World;

// The first screen's menu bar as the user sees it: the bar's background (light or dark), every
// drawn item's glyph or title at its frame, and the notch in black. `scale` pixels per point.
// Items that macOS would not draw (under or beyond the notch, behind the chevron) are absent;
// the chevron is drawn where the agent shows one.
Image renderMenuBar(const World& world, double scale);

struct PlacedMenuExtra;
// What one item's window shows: its glyph or title on a transparent background, `bounds`
// (the window's rectangle) drawn into the given pixels.
Image renderMenuExtra(const World& world, const PlacedMenuExtra& extra, const GlobalRect& bounds,
                      int pixelWidth, int pixelHeight);

}  // namespace lumarin::sim
