#include "hud/MirrorHUDLayout.h"

#include <algorithm>

namespace lumarin {

std::size_t MirrorHUDLayout::columns(std::size_t tileCount) {
  return std::clamp<std::size_t>(tileCount, 1, kMaxColumns);
}

std::vector<std::vector<std::size_t>> MirrorHUDLayout::rows(std::size_t tileCount,
                                                            std::size_t columns) {
  std::vector<std::vector<std::size_t>> out;
  if (columns == 0) {
    return out;
  }
  std::size_t end = tileCount;
  while (end > 0) {
    const std::size_t start = end > columns ? end - columns : 0;
    std::vector<std::size_t> row;
    for (std::size_t i = start; i < end; ++i) {
      row.push_back(i);
    }
    out.push_back(std::move(row));
    end = start;
  }
  return out;
}

Size MirrorHUDLayout::displaySize(const Size& imageSize, double scale) {
  if (!(imageSize.width > 0) || !(imageSize.height > 0)) {
    return Size{22, 22};
  }
  const double f = scale >= 2 ? 1.45 : 1;
  double w = imageSize.width * f;
  double h = imageSize.height * f;
  if (h > kPictureBand) {
    w = w * kPictureBand / h;
    h = kPictureBand;
    if (w > 68) {
      h = kPictureBand * 68 / w;
      w = 68;
    }
  } else if (w > 68) {
    h = h * 68 / w;
    w = 68;
  } else if (w < 14 && h < 14) {
    const double k = 14 / std::max(w, h);
    w *= k;
    h *= k;
  }
  return Size{w, h};
}

Size MirrorHUDLayout::contentSize(std::size_t tileCount, bool permissionRow) {
  const std::size_t cols = columns(tileCount);
  const std::size_t rowCount = tileCount == 0 ? 1 : (tileCount + cols - 1) / cols;
  double width = static_cast<double>(cols) * kCellWidth + static_cast<double>(cols - 1) * kSpacing;
  double height =
      static_cast<double>(rowCount) * kCellHeight + static_cast<double>(rowCount - 1) * kSpacing;
  if (permissionRow) {
    height += kPermissionRowHeight + kSpacing;
  }
  return Size{width + 2 * kPadding, height + 2 * kPadding};
}

}  // namespace lumarin
