#pragma once

#include <filesystem>
#include <vector>

#include "base/Image.h"
#include "base/Result.h"
#include "menubar/ExternalStatusItem.h"

namespace lumarin {

// The menu bar picture with each scanned item's frame outlined: green when it is drawn, red
// when it is hidden (under the notch, behind the chevron). `originX` is the screen's minimum
// x in global points.
Status writeMenuBarSnapshot(const std::filesystem::path& file, const Image& menuBar, double originX,
                            const std::vector<ExternalStatusItem>& items);

}  // namespace lumarin
