#include "ui/CapsuleSegmentedControl.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "ui/PillTheme.h"

namespace lumarin {

CapsuleSegmentedControl::CapsuleSegmentedControl(std::vector<QImage> images,
                                                 std::vector<QString> tooltips, double width,
                                                 double height, std::optional<double> cornerRadius,
                                                 QWidget* parent)
    : QWidget(parent),
      images_(std::move(images)),
      tooltips_(std::move(tooltips)),
      segmentCount_(std::max<int>(1, static_cast<int>(images_.size()))),
      cornerRadius_(cornerRadius) {
  setFixedSize(static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height)));
  setFocusPolicy(Qt::TabFocus);
  setMouseTracking(true);
  setAttribute(Qt::WA_Hover);
  QStringList names;
  for (const QString& tip : tooltips_) {
    if (!tip.isEmpty()) {
      names << tip;
    }
  }
  setAccessibleName(names.join(QStringLiteral(", ")));
  describeSelection();
}

void CapsuleSegmentedControl::setSelectedIndex(int index) {
  const int clamped = std::clamp(index, 0, segmentCount_ - 1);
  if (clamped == selectedIndex_) {
    return;
  }
  selectedIndex_ = clamped;
  describeSelection();
  update();
}

void CapsuleSegmentedControl::describeSelection() {
  const auto index = static_cast<size_t>(selectedIndex_);
  setAccessibleDescription(index < tooltips_.size() ? tooltips_[index] : QString());
}

double CapsuleSegmentedControl::segmentWidth() const {
  return static_cast<double>(width()) / segmentCount_;
}

int CapsuleSegmentedControl::segmentAt(double x) const {
  const double index = std::trunc(x / segmentWidth());
  return static_cast<int>(std::clamp(index, 0.0, static_cast<double>(segmentCount_ - 1)));
}

QRectF CapsuleSegmentedControl::iconRect(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= images_.size()) {
    return {};
  }
  const QSizeF s = naturalSize(images_[static_cast<size_t>(index)]);
  const QPointF centre(segmentWidth() * (index + 0.5), height() / 2.0);
  return {centre.x() - s.width() / 2, centre.y() - s.height() / 2, s.width(), s.height()};
}

QColor CapsuleSegmentedControl::iconTint(int index) const {
  const Appearance appearance = effectiveAppearance(this);
  return index == selectedIndex_ ? Theme::label().resolve(appearance)
                                 : Theme::secondaryLabel().resolve(appearance);
}

QString CapsuleSegmentedControl::toolTipAt(const QPointF& point) const {
  if (!QRectF(rect()).contains(point)) {
    return {};
  }
  const auto index = static_cast<size_t>(segmentAt(point.x()));
  return index < tooltips_.size() ? tooltips_[index] : QString();
}

ControlState CapsuleSegmentedControl::controlState() const {
  return {isEnabled(), hoveredSegment_ >= 0, false, hasFocus()};
}

QSize CapsuleSegmentedControl::sizeHint() const { return size(); }

double CapsuleSegmentedControl::outerRadius(const QSizeF& size,
                                            std::optional<double> cornerRadius) {
  const double half = size.height() / 2;
  return std::max(0.0, std::min(half, cornerRadius.value_or(half)));
}

void CapsuleSegmentedControl::paint(QPainter& painter, const QSizeF& size,
                                    const std::vector<QImage>& images, int segmentCount,
                                    int selected, int hovered, std::optional<double> cornerRadius,
                                    const ControlState& state, Appearance appearance) {
  painter.save();
  if (!state.enabled) {
    painter.setOpacity(painter.opacity() * kDisabledOpacity);
  }
  const QRectF bounds(QPointF(0, 0), size);
  const double w = size.width() / segmentCount;
  const double h = size.height();
  const double r = outerRadius(size, cornerRadius);
  const QColor overlay = PillTheme::segOverlay().resolve(appearance);

  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(overlay, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), r, r);

  painter.save();
  QPainterPath clip;
  const double inner = std::max(r - 1, 0.0);
  clip.addRoundedRect(bounds.adjusted(1, 1, -1, -1), inner, inner);
  painter.setClipPath(clip);
  painter.setPen(Qt::NoPen);
  painter.fillRect(QRectF(w * selected, 0, w, h), overlay);
  if (state.enabled && hovered >= 0 && hovered != selected) {
    painter.fillRect(QRectF(w * hovered, 0, w, h), PillTheme::hoverOverlay().resolve(appearance));
  }
  // Separators sit on pixel boundaries: no antialiasing, so each is one crisp point.
  painter.setRenderHint(QPainter::Antialiasing, false);
  const double t = std::round(h * 0.6);
  const double y = std::round((h - t) / 2);
  for (int i = 1; i < segmentCount; ++i) {
    if (i == selected || i == selected + 1) {
      continue;
    }
    painter.fillRect(QRectF(std::round(w * i - 0.5), y, 1, t), overlay);
  }
  painter.restore();

  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const QColor selectedTint = Theme::label().resolve(appearance);
  const QColor otherTint = Theme::secondaryLabel().resolve(appearance);
  for (int i = 0; i < segmentCount && static_cast<size_t>(i) < images.size(); ++i) {
    const QImage& image = images[static_cast<size_t>(i)];
    const QSizeF s = naturalSize(image);
    const QPointF centre(w * (i + 0.5), h / 2);
    painter.drawImage(
        QRectF(centre.x() - s.width() / 2, centre.y() - s.height() / 2, s.width(), s.height()),
        tintedTemplate(image, i == selected ? selectedTint : otherTint));
  }
  if (state.focused && state.enabled) {
    drawFocusRing(painter, bounds, r, appearance, false);
  }
  painter.restore();
}

void CapsuleSegmentedControl::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  paint(painter, QSizeF(size()), images_, segmentCount_, selectedIndex_, hoveredSegment_,
        cornerRadius_, controlState(), effectiveAppearance(this));
}

void CapsuleSegmentedControl::choose(int index) {
  if (index == selectedIndex_) {
    return;
  }
  selectedIndex_ = index;
  describeSelection();
  update();
  if (onSelect_) {
    onSelect_(index);
  }
}

void CapsuleSegmentedControl::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  choose(segmentAt(event->position().x()));
}

void CapsuleSegmentedControl::mouseMoveEvent(QMouseEvent* event) {
  const int segment =
      QRectF(rect()).contains(event->position()) ? segmentAt(event->position().x()) : -1;
  if (segment != hoveredSegment_) {
    hoveredSegment_ = segment;
    update();
  }
  QWidget::mouseMoveEvent(event);
}

void CapsuleSegmentedControl::leaveEvent(QEvent* event) {
  if (hoveredSegment_ != -1) {
    hoveredSegment_ = -1;
    update();
  }
  QWidget::leaveEvent(event);
}

void CapsuleSegmentedControl::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
      choose(std::max(selectedIndex_ - 1, 0));
      return;
    case Qt::Key_Right:
    case Qt::Key_Down:
      choose(std::min(selectedIndex_ + 1, segmentCount_ - 1));
      return;
    case Qt::Key_Home:
      choose(0);
      return;
    case Qt::Key_End:
      choose(segmentCount_ - 1);
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

bool CapsuleSegmentedControl::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = toolTipAt(QPointF(help->pos()));
    if (tip.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), tip, this);
    }
    return true;
  }
  if (changesAppearance(event)) {
    update();
  }
  return QWidget::event(event);
}

}  // namespace lumarin
