#include "ui/PillButton.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPainter>
#include <cmath>

#include "ui/PillTheme.h"

namespace lumarin {
namespace {

// A plain borderless button keeps this much room on each side of its title.
constexpr double kPlainInset = 3;

}  // namespace

PillButton::PillButton(const QString& title, bool filled, QWidget* parent)
    : PillControl(title, parent), filled_(filled) {
  // Hugs its title horizontally; an explicit frame from the caller still wins.
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PillButton::setButtonTitle(const QString& title) {
  if (title == text()) {
    return;
  }
  setText(title);  // repaints and invalidates the size hint
  setAccessibleName(title);
  updateGeometry();
}

QFont PillButton::titleFont() { return kitFont(kTitlePoints, QFont::DemiBold); }

int PillButton::plainButtonWidth(const QString& title) {
  const double advance = QFontMetricsF(titleFont()).horizontalAdvance(title);
  return static_cast<int>(std::ceil(advance + 2 * kPlainInset));
}

QSize PillButton::sizeHint() const { return {plainButtonWidth(text()) + kExtraWidth, kHeight}; }

QSize PillButton::minimumSizeHint() const { return sizeHint(); }

void PillButton::paint(QPainter& painter, const QRectF& bounds, const QString& title, bool filled,
                       const ControlState& state, Appearance appearance) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  if (!state.enabled) {
    painter.setOpacity(painter.opacity() * kDisabledOpacity);
  }
  const double radius = std::min(kCornerRadius, bounds.height() / 2);
  const QColor background =
      filled ? Theme::accent().resolve(appearance) : PillTheme::field().resolve(appearance);
  painter.setPen(Qt::NoPen);
  painter.setBrush(background);
  painter.drawRoundedRect(bounds, radius, radius);
  if (state.enabled && (state.pressed || state.hovered)) {
    const DynamicColor overlay =
        state.pressed ? PillTheme::pressedOverlay() : PillTheme::hoverOverlay();
    painter.setBrush(overlay.resolve(appearance));
    painter.drawRoundedRect(bounds, radius, radius);
  }
  if (!filled) {
    // The border lies inside the bounds, as a layer's border does.
    const double inset = kBorderWidth / 2;
    painter.setPen(QPen(PillTheme::fieldBorder().resolve(appearance), kBorderWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(bounds.adjusted(inset, inset, -inset, -inset), radius - inset,
                            radius - inset);
  }
  const QFont font = titleFont();
  const QFontMetricsF metrics(font);
  const QRectF room =
      bounds.adjusted(kExtraWidth / 2.0 + kPlainInset, 0, -(kExtraWidth / 2.0 + kPlainInset), 0);
  // Wider than the pill was given: end in an ellipsis rather than cut a letter.
  const QString shown = metrics.horizontalAdvance(title) <= room.width() + 0.5
                            ? title
                            : metrics.elidedText(title, Qt::ElideRight, room.width());
  painter.setFont(font);
  painter.setPen(filled ? QColor(Qt::white) : Theme::label().resolve(appearance));
  painter.drawText(room, Qt::AlignCenter | Qt::TextSingleLine, shown);
  if (state.focused && state.enabled) {
    drawFocusRing(painter, bounds, radius, appearance, filled);
  }
  painter.restore();
}

void PillButton::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  paint(painter, QRectF(rect()), text(), filled_, controlState(), effectiveAppearance(this));
}

void PillButton::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat()) {
    click();
    return;
  }
  PillControl::keyPressEvent(event);
}

}  // namespace lumarin
