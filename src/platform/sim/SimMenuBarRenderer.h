#pragma once

#include "base/Image.h"

namespace lumarin::sim {

class World;

// The first screen's menu bar as the user sees it: the bar's background (light or dark), every
// drawn item's glyph or title at its frame, and the notch in black. `scale` pixels per point.
// Items that macOS would not draw (under or beyond the notch, behind the chevron) are absent;
// the chevron is drawn where the agent shows one.
Image renderMenuBar(const World& world, double scale);

}  // namespace lumarin::sim
