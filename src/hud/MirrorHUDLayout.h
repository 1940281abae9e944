#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "base/Geometry.h"

namespace lumarin {

// The HUD grid's geometry: 84 × 64 point cells, 4 points between cells and rows, 14 points of
// padding, at most eight columns; a 24-point permission row above the grid while access is
// missing. Pure functions; any thread.
struct MirrorHUDLayout {
  static constexpr double kCellWidth = 84;
  static constexpr double kCellHeight = 64;
  static constexpr double kSpacing = 4;
  static constexpr double kPadding = 14;
  static constexpr std::size_t kMaxColumns = 8;
  static constexpr double kPermissionRowHeight = 24;
  static constexpr double kPictureBand = 26;
  // The search line above everything else while the keyboard filters the tiles, and the
  // panel's least width then, so the typed text has room.
  static constexpr double kSearchRowHeight = 28;
  static constexpr double kSearchMinWidth = 260;
  // Menu entries the filter found, one row each under the grid, and the panel's least width
  // then.
  static constexpr double kEntryRowHeight = 24;
  static constexpr double kEntryMinWidth = 360;

  // The tile count clamped to 1…8.
  static std::size_t columns(std::size_t tileCount);
  // Rows cut from the end of the list: the first row holds the last `columns` tiles, the
  // last row what is left at the start; each row in menu bar order. Indexes into the list.
  static std::vector<std::vector<std::size_t>> rows(std::size_t tileCount, std::size_t columns);
  // The size a tile's picture is shown at, for an image of `imageSize` points (none: 0 × 0)
  // on a display of `scale`.
  static Size displaySize(const Size& imageSize, double scale);

  // The panel's size: the grid with its padding; with the permission missing at least 420
  // points wide, and without tiles only the permission row.
  // While `searching`, the search line on top, and the panel at least 260 points wide; with
  // `entryRows` menu entries, their rows under the grid (which, left without tiles, then
  // takes no room) and the panel at least 360 points wide.
  static Size panelSize(std::size_t tileCount, bool permissionMissing, bool searching = false,
                        std::size_t entryRows = 0);
  // The frame of `size` that keeps `old`'s top edge and middle, inside the 8-point margins of
  // `visible`: the panel as the keyboard reshapes it.
  static CocoaRect keptFrame(const Size& size, const CocoaRect& old, const CocoaRect& visible);
  // Where the panel goes on a screen whose visible frame is `visible` (the window system's
  // bottom-left convention): its centre 58 % up the visible frame, or, beside the sibling's
  // HUD (`peer`, when it lies on `screenFrame`), the two stacked around the middle; left of
  // Control Center's panel (`avoid`) with 12 points clear; 8-point margins.
  static CocoaRect panelFrame(const Size& size, const CocoaRect& visible,
                              const CocoaRect& screenFrame, const std::optional<CocoaRect>& avoid,
                              const std::optional<CocoaRect>& peer);
};

}  // namespace lumarin
