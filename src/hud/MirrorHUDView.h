#pragma once

#include <QWidget>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/Signal.h"
#include "hud/HUDTiles.h"

class QAccessibleInterface;
class QPainter;

namespace lumarin {

class L10n;

// The HUD panel's content: the permission row while accessibility access is missing, the
// tile grid (the top row nearest the menu bar's right end, each row in menu bar order,
// right-aligned), or a short text when there is nothing to show. A mouse-down on a tile
// reports its target; the panel works without being key. Main thread.
class MirrorHUDView : public QWidget {
 public:
  using ClickHandler =
      std::function<void(const HUDTiles::Target& target, bool right, unsigned modifiers)>;

  MirrorHUDView(std::shared_ptr<HUDTiles> model, const L10n& l10n, ClickHandler onClick,
                std::function<void()> onPermissionTap, QWidget* parent = nullptr);
  ~MirrorHUDView() override;
  MirrorHUDView(const MirrorHUDView&) = delete;
  MirrorHUDView& operator=(const MirrorHUDView&) = delete;

  // The middle button and the wheel (whole notches, positive up or right) on a tile.
  void setOtherButtons(std::function<void(const HUDTiles::Target&)> onMiddleClick,
                       std::function<void(const HUDTiles::Target&, int, bool)> onScroll) {
    onMiddleClick_ = std::move(onMiddleClick);
    onScroll_ = std::move(onScroll);
  }

  QSize sizeHint() const override;
  // Where each tile's cell stands, by tile id (for tests and the outside-click check).
  std::vector<std::pair<std::string, QRectF>> cellRects() const;
  QRectF permissionRowRect() const;
  // The display scale pictures are sized for (1 or 2).
  void setDisplayScale(double scale);
  const std::optional<std::size_t>& hovered() const { return hovered_; }
  // The keyboard's filter (the search line shows while it is not empty), the tiles it leaves
  // and the focused tile, which gets a ring.
  // The menu entries the filter found (id and title) are listed under the grid.
  void setSearch(const std::string& text, const std::vector<std::string>& visibleIDs,
                 const std::optional<std::string>& focusedID,
                 const std::vector<std::pair<std::string, std::string>>& entries = {});
  void setOnEntryClick(std::function<void(const std::string&)> onEntryClick) {
    onEntryClick_ = std::move(onEntryClick);
  }
  // Where each listed entry's row stands, by entry id.
  std::vector<std::pair<std::string, QRectF>> entryRects() const;
  const std::string& searchText() const { return searchText_; }
  QRectF searchRowRect() const;
  // The ids of the shown tiles, in reading order (rows top to bottom, each left to right).
  std::vector<std::string> shownIDs() const;
  const std::optional<std::string>& focusedID() const { return focusedID_; }
  // For assistive technology the view has a child per shown tile, in reading order (a button
  // named after its app and item, focused with the keyboard's focus), after the search line
  // (an editable text holding the filter) while filtering. The focused tile is announced.

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void reload();
  std::optional<std::size_t> cellAt(const QPointF& point) const;
  std::optional<HUDTiles::Target> targetAt(const QPointF& point) const;
  void paintEntries(QPainter& p) const;
  bool isEntry(const std::string& id) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [&id](const auto& entry) { return entry.first == id; });
  }

  std::shared_ptr<HUDTiles> model_;
  const L10n& l10n_;
  ClickHandler onClick_;
  std::function<void()> onPermissionTap_;
  std::function<void(const HUDTiles::Target&)> onMiddleClick_;
  std::function<void(const HUDTiles::Target&, int, bool)> onScroll_;
  std::function<void(const std::string&)> onEntryClick_;
  std::vector<std::pair<std::string, std::string>> entries_;
  QPoint wheelRest_;
  std::vector<HUDTiles::Tile> tiles_;
  bool permissionMissing_ = false;
  double displayScale_ = 2;
  std::optional<std::size_t> hovered_;
  std::string searchText_;
  std::set<std::string> searchVisible_;
  std::optional<std::string> focusedID_;
  // The tiles' accessible interfaces, made on first use and kept (Qt owns them) until their
  // tile goes; by tile id.
  friend class MirrorHUDViewAccessible;
  friend class MirrorHUDChildAccessible;
  // The child for a tile id ("" for the search line), made and registered on first use.
  QAccessibleInterface* accessibleChild(const std::string& id);
  std::vector<std::string> accessibleChildIDs() const;
  QString accessibleName(const std::string& id) const;
  void announceFocus();
  std::map<std::string, unsigned> accessibleIDs_;
  Subscription tilesSubscription_;
  Subscription permissionSubscription_;
};

}  // namespace lumarin
