#pragma once

#include "ui/Appearance.h"
#include "ui/ControlPainting.h"
#include "ui/PillControl.h"

namespace lumarin {

// The rounded pull-down field: a label and a down chevron on a quiet field with a border. It is
// only the field; whoever owns it opens the menu on `clicked` (a click, Space, Return or the
// Up/Down arrow keys). The whole pill is one hit target: the label and chevron are painted, not
// child widgets, so a click anywhere inside reaches the pill. Main thread.
class PulldownPill : public PillControl {
 public:
  static constexpr double kCornerRadius = 7;
  static constexpr double kBorderWidth = 1;
  static constexpr int kHeight = 28;
  static constexpr int kLabelPoints = 12;
  static constexpr int kChevronPoints = 9;
  static constexpr double kLeadingPadding = 10;  // field edge to label
  static constexpr double kChevronGap = 6;       // label to chevron
  static constexpr double kTrailingPadding = 9;  // chevron to field edge

  explicit PulldownPill(const QString& title, QWidget* parent = nullptr);

  QString title() const { return text(); }
  void setTitle(const QString& title);

  // Like a view's alpha: below 0.01 the pill takes no clicks (it is still laid out).
  double alphaValue() const { return alpha_; }
  void setAlphaValue(double alpha);
  // Whether a click at `point` (widget coordinates) reaches the pill.
  bool hitTest(const QPointF& point) const;

  // Where the label and the chevron sit inside `bounds`: both centred vertically, the chevron
  // after the label; when room is short the label gives way, the chevron keeps its size.
  static QRectF labelRect(const QRectF& bounds);
  static QRectF chevronRect(const QRectF& bounds);
  // The label as drawn in `width` points: whole, or cut at the tail with an ellipsis.
  static QString displayedLabel(const QString& title, double width);
  static QFont labelFont();
  static QImage chevronImage();

  static void paint(QPainter& painter, const QRectF& bounds, const QString& title,
                    const ControlState& state, Appearance appearance);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  bool hitButton(const QPoint& pos) const override;
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  double alpha_ = 1;
};

}  // namespace lumarin
