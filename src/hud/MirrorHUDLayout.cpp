#include "hud/MirrorHUDLayout.h"

#include <algorithm>
#include <cmath>

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

Size MirrorHUDLayout::panelSize(std::size_t tileCount, bool permissionMissing, bool searching,
                                std::size_t entryRows) {
  std::size_t cols = 1;
  // Without tiles one row holds the text that says so (also when a filter leaves none, unless
  // it found menu entries).
  std::size_t rowCount = (permissionMissing && !searching) || entryRows > 0 ? 0 : 1;
  if (tileCount > 0) {
    cols = columns(tileCount);
    rowCount = (tileCount + cols - 1) / cols;
  }
  const auto r = static_cast<double>(rowCount);
  double height = r * kCellHeight + std::max(r - 1, 0.0) * kSpacing + 2 * kPadding;
  if (permissionMissing) {
    height += rowCount > 0 ? kPermissionRowHeight + kSpacing : kPermissionRowHeight;
  }
  const auto c = static_cast<double>(cols);
  double width = c * kCellWidth + (c - 1) * kSpacing + 2 * kPadding;
  if (permissionMissing) {
    width = std::max(width, 420.0);
  }
  if (searching) {
    height += kSearchRowHeight + kSpacing;
    width = std::max(width, kSearchMinWidth);
  }
  if (entryRows > 0) {
    height += static_cast<double>(entryRows) * kEntryRowHeight + (rowCount > 0 ? kSpacing : 0);
    width = std::max(width, kEntryMinWidth);
  }
  return Size{width, height};
}

CocoaRect MirrorHUDLayout::keptFrame(const Size& size, const CocoaRect& old,
                                     const CocoaRect& visible) {
  double x = std::round(old.midX() - size.width * 0.5);
  x = std::min(std::max(visible.minX() + 8, visible.maxX() - 8 - size.width),
               std::max(x, visible.minX() + 8));
  const double y = std::max(old.maxY() - size.height, visible.minY() + 8);
  return CocoaRect(x, y, size.width, size.height);
}

CocoaRect MirrorHUDLayout::panelFrame(const Size& size, const CocoaRect& visible,
                                      const CocoaRect& screenFrame,
                                      const std::optional<CocoaRect>& avoid,
                                      const std::optional<CocoaRect>& peer) {
  const double width = size.width;
  const double height = size.height;
  // std::round rounds halves away from zero, as the placement wants.
  double y = std::round(visible.minY() + visible.height() * 0.58 - height * 0.5);
  if (peer && peer->intersects(screenFrame)) {
    y = std::round(visible.midY() - (height + peer->height() + 8) * 0.5);
  }
  double x = std::round(visible.midX() - width * 0.5);
  if (avoid && x + width > avoid->minX() - 12) {
    x = std::max(avoid->minX() - 12 - width, visible.minX() + 8);
  }
  x = std::min(std::max(visible.minX() + 8, visible.maxX() - 8 - width),
               std::max(x, visible.minX() + 8));
  y = std::max(y, visible.minY() + 8);
  return CocoaRect(x, y, width, height);
}

}  // namespace lumarin
