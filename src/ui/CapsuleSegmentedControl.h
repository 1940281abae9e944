#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "ui/Appearance.h"
#include "ui/ControlPainting.h"

namespace lumarin {

// A capsule of equal segments, one icon each, with the selected segment shaded. It selects on
// mouse down (not on release), and from the keyboard with the arrow keys, Home and End once it
// has Tab focus. Changing the selection by hand calls `onSelect`; setSelectedIndex does not.
// A disabled control ignores the mouse and the keyboard. Main thread.
class CapsuleSegmentedControl : public QWidget {
 public:
  // One segment per image (at least one segment); `tooltips[i]` belongs to segment i when
  // present. The control has exactly `width` × `height` points.
  CapsuleSegmentedControl(std::vector<QImage> images, std::vector<QString> tooltips, double width,
                          double height, std::optional<double> cornerRadius = std::nullopt,
                          QWidget* parent = nullptr);

  void setOnSelect(std::function<void(int)> onSelect) { onSelect_ = std::move(onSelect); }

  int selectedIndex() const { return selectedIndex_; }
  // Selects without calling onSelect (the owner already knows); clamped to the segments.
  void setSelectedIndex(int index);
  int segmentCount() const { return segmentCount_; }
  std::optional<double> cornerRadius() const { return cornerRadius_; }

  // The segment under `x`, truncated and clamped to the segments.
  int segmentAt(double x) const;
  double segmentWidth() const;
  // Where icon i is drawn (its natural size, centred in its segment).
  QRectF iconRect(int index) const;
  // The colour icon i is tinted with now.
  QColor iconTint(int index) const;
  QString toolTipAt(const QPointF& point) const;
  int hoveredSegment() const { return hoveredSegment_; }
  ControlState controlState() const;

  // Draws the control as the widget does; `hovered` is a segment index or -1.
  static void paint(QPainter& painter, const QSizeF& size, const std::vector<QImage>& images,
                    int segmentCount, int selected, int hovered, std::optional<double> cornerRadius,
                    const ControlState& state, Appearance appearance);
  // r = min(height / 2, cornerRadius when given).
  static double outerRadius(const QSizeF& size, std::optional<double> cornerRadius);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // Selects `index` on the user's behalf: nothing when it is already selected.
  void choose(int index);
  void describeSelection();

  std::vector<QImage> images_;
  std::vector<QString> tooltips_;
  int segmentCount_;
  std::optional<double> cornerRadius_;
  int selectedIndex_ = 0;
  int hoveredSegment_ = -1;
  std::function<void(int)> onSelect_;
};

}  // namespace lumarin
