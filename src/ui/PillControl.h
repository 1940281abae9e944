#pragma once

#include <QAbstractButton>

#include "ui/ControlPainting.h"

namespace lumarin {

// What the pill-shaped buttons share: they follow the mouse for their hover look, repaint when
// the window's appearance changes, and describe their state for painting. Main thread.
class PillControl : public QAbstractButton {
 public:
  // Titled, named for accessibility by its title, focused from Tab only (as buttons on the
  // Mac are) and told of hovering.
  explicit PillControl(const QString& title, QWidget* parent = nullptr);

  bool hovered() const { return hovered_; }
  ControlState controlState() const { return {isEnabled(), hovered_, isDown(), hasFocus()}; }

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  bool event(QEvent* event) override;

 private:
  bool hovered_ = false;
};

}  // namespace lumarin
