#include "ui/ConsentSwitch.h"

#include <QPainter>

#include "ui/ControlPainting.h"
#include "ui/PillTheme.h"
#include "ui/Theme.h"

namespace lumarin {

ConsentSwitch::ConsentSwitch(const QString& accessibleName, bool on, QWidget* parent)
    : QAbstractButton(parent) {
  setCheckable(true);
  setChecked(on);
  setAccessibleName(accessibleName);
  setFocusPolicy(Qt::TabFocus);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ConsentSwitch::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const Appearance appearance = effectiveAppearance(this);
  if (!isEnabled()) {
    painter.setOpacity(kDisabledOpacity);
  }
  const QRectF track(0.5, 0.5, width() - 1.0, height() - 1.0);
  const double radius = track.height() / 2;
  painter.setPen(isChecked() ? Qt::NoPen : QPen(PillTheme::fieldBorder().resolve(appearance), 1));
  painter.setBrush(isChecked() ? Theme::accent().resolve(appearance)
                               : PillTheme::field().resolve(appearance));
  painter.drawRoundedRect(track, radius, radius);
  const double knob = track.height() - 4;
  const double x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
  painter.setPen(QPen(Theme::black(0.12), 0.5));
  painter.setBrush(Qt::white);
  painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
  if (hasFocus()) {
    drawFocusRing(painter, QRectF(rect()), radius, appearance, isChecked());
  }
}

bool ConsentSwitch::event(QEvent* event) {
  if (changesAppearance(event)) {
    update();
  }
  return QAbstractButton::event(event);
}

}  // namespace lumarin
