#include "ui/PulldownPill.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "ui/PillTheme.h"
#include "ui/SystemSymbols.h"

namespace lumarin {

PulldownPill::PulldownPill(const QString& title, QWidget* parent) : PillControl(title, parent) {
  // The label yields to a narrow frame (it is truncated); the height is the field's own.
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void PulldownPill::setTitle(const QString& title) {
  if (title == text()) {
    return;
  }
  setText(title);
  setAccessibleName(title);
  updateGeometry();
}

void PulldownPill::setAlphaValue(double alpha) {
  alpha_ = std::clamp(alpha, 0.0, 1.0);
  update();
}

bool PulldownPill::hitTest(const QPointF& point) const {
  if (isHidden() || alpha_ < 0.01) {
    return false;
  }
  return QRectF(rect()).contains(point);
}

bool PulldownPill::hitButton(const QPoint& pos) const { return hitTest(QPointF(pos)); }

QFont PulldownPill::labelFont() { return kitFont(kLabelPoints, QFont::Medium); }

QImage PulldownPill::chevronImage() {
  static const QImage image =
      systemSymbol(QStringLiteral("chevron.down"), kChevronPoints, QFont::DemiBold);
  return image;
}

QRectF PulldownPill::chevronRect(const QRectF& bounds) {
  const QSizeF size = naturalSize(chevronImage());
  const double x = bounds.right() - kTrailingPadding - size.width();
  return {x, bounds.center().y() - size.height() / 2, size.width(), size.height()};
}

QRectF PulldownPill::labelRect(const QRectF& bounds) {
  const double left = bounds.left() + kLeadingPadding;
  const double right = chevronRect(bounds).left() - kChevronGap;
  const double height = QFontMetricsF(labelFont()).height();
  return {left, bounds.center().y() - height / 2, std::max(right - left, 0.0), height};
}

QString PulldownPill::displayedLabel(const QString& title, double width) {
  const QFontMetricsF metrics(labelFont());
  if (metrics.horizontalAdvance(title) <= width + 0.5) {
    return title;
  }
  return metrics.elidedText(title, Qt::ElideRight, width);
}

QSize PulldownPill::sizeHint() const {
  const double label = QFontMetricsF(labelFont()).horizontalAdvance(text());
  const double width = kLeadingPadding + label + kChevronGap + naturalSize(chevronImage()).width() +
                       kTrailingPadding;
  return {static_cast<int>(std::ceil(width)), kHeight};
}

QSize PulldownPill::minimumSizeHint() const {
  // Room for an ellipsis and the chevron.
  const double ellipsis = QFontMetricsF(labelFont()).horizontalAdvance(QStringLiteral("…"));
  const double width = kLeadingPadding + ellipsis + kChevronGap +
                       naturalSize(chevronImage()).width() + kTrailingPadding;
  return {static_cast<int>(std::ceil(width)), kHeight};
}

void PulldownPill::paint(QPainter& painter, const QRectF& bounds, const QString& title,
                         const ControlState& state, Appearance appearance) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (!state.enabled) {
    painter.setOpacity(painter.opacity() * kDisabledOpacity);
  }
  const double radius = std::min(kCornerRadius, bounds.height() / 2);
  painter.setPen(Qt::NoPen);
  painter.setBrush(PillTheme::field().resolve(appearance));
  painter.drawRoundedRect(bounds, radius, radius);
  if (state.enabled && (state.pressed || state.hovered)) {
    const DynamicColor overlay =
        state.pressed ? PillTheme::pressedOverlay() : PillTheme::hoverOverlay();
    painter.setBrush(overlay.resolve(appearance));
    painter.drawRoundedRect(bounds, radius, radius);
  }
  const double inset = kBorderWidth / 2;
  painter.setPen(QPen(PillTheme::fieldBorder().resolve(appearance), kBorderWidth));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(bounds.adjusted(inset, inset, -inset, -inset), radius - inset,
                          radius - inset);

  const QRectF labelBox = labelRect(bounds);
  painter.setFont(labelFont());
  painter.setPen(Theme::label().resolve(appearance));
  painter.drawText(labelBox, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   displayedLabel(title, labelBox.width()));
  painter.drawImage(chevronRect(bounds),
                    tintedTemplate(chevronImage(), Theme::tertiaryLabel().resolve(appearance)));
  if (state.focused && state.enabled) {
    drawFocusRing(painter, bounds, radius, appearance, false);
  }
  painter.restore();
}

void PulldownPill::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setOpacity(alpha_);
  paint(painter, QRectF(rect()), text(), controlState(), effectiveAppearance(this));
}

void PulldownPill::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Down:
    case Qt::Key_Up:
      if (!event->isAutoRepeat()) {
        click();
      }
      return;
    default:
      PillControl::keyPressEvent(event);
  }
}

}  // namespace lumarin
