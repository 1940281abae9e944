#pragma once

#include <string>

#include "base/Image.h"

namespace lumarin::sim {

// Pictures of the simulated Mac, drawn from the system icon theme when it is installed and
// from simple shapes otherwise. Deterministic for the same inputs and installed theme.

inline constexpr int kIconPixels = 128;  // 32 points at scale 4

// An application icon in the shape of a Mac app icon: a rounded square in a colour of the
// app's own (picked from its bundle identifier) carrying a white glyph: the named theme
// icon, else the first letter of the name.
Image applicationIcon(const std::string& bundleID, const std::string& name,
                      const std::string& themeIcon);
Image genericDocumentIcon();

// The path of a scalable icon of the installed theme, or empty.
std::string themeIconPath(const std::string& name);

}  // namespace lumarin::sim
