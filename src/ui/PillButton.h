#pragma once

#include "ui/Appearance.h"
#include "ui/ControlPainting.h"
#include "ui/PillControl.h"

namespace lumarin {

// The settings window's rounded push button: accent-filled for the main action of a row, or a
// quiet field with a thin border. Activated by a click, Space or Return; it takes keyboard
// focus from Tab only, as buttons on the Mac do. Connect to `clicked` for its action.
// Colours are resolved at drawing time against the widget's effective appearance. Main thread.
class PillButton : public PillControl {
 public:
  static constexpr double kCornerRadius = 8;
  static constexpr double kBorderWidth = 1;  // unfilled buttons only
  static constexpr int kHeight = 24;
  static constexpr int kExtraWidth = 24;  // beyond the plain button's width
  static constexpr int kTitlePoints = 11;

  PillButton(const QString& title, bool filled, QWidget* parent = nullptr);

  bool filled() const { return filled_; }
  QString titleText() const { return text(); }
  // A different title replaces the old one, recolours and asks the layout for a new size.
  void setButtonTitle(const QString& title);

  // The title font: the system font at 11 points, semibold.
  static QFont titleFont();
  // The width a plain borderless button with this title asks for: the title and the small
  // inset such a button keeps around it.
  static int plainButtonWidth(const QString& title);
  // Draws a pill of `bounds` as the widget does; the snapshot gallery uses it for fixed states.
  static void paint(QPainter& painter, const QRectF& bounds, const QString& title, bool filled,
                    const ControlState& state, Appearance appearance);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool filled_;
};

}  // namespace lumarin
