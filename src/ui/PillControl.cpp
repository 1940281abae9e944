#include "ui/PillControl.h"

#include "ui/Appearance.h"

namespace lumarin {

PillControl::PillControl(const QString& title, QWidget* parent) : QAbstractButton(parent) {
  setText(title);
  setAccessibleName(title);
  setFocusPolicy(Qt::TabFocus);
  setAttribute(Qt::WA_Hover);
}

void PillControl::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void PillControl::leaveEvent(QEvent* event) {
  hovered_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

bool PillControl::event(QEvent* event) {
  if (changesAppearance(event)) {
    update();
  }
  return QAbstractButton::event(event);
}

}  // namespace lumarin
