#pragma once

#include <QWidget>

namespace lumarin {

// The program's own icon in its windows. The artwork is laid out in a square of
// size × 128/103 centred on the view's size × size frame and is not clipped, so the icon's
// transparent margin reaches past the view and the visible artwork fills about `size`.
// Main thread.
class AppIconView : public QWidget {
 public:
  explicit AppIconView(double size, QWidget* parent = nullptr);

  // The artwork's square, in the view's coordinates (it may extend past the bounds).
  static QRectF artworkRect(double size);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  double size_;
};

// Draws the program's icon into `rect` (any painter, any scale).
void drawOwnIcon(QPainter& painter, const QRectF& rect);

}  // namespace lumarin
