#include "ui/ControlPainting.h"

#include <QApplication>
#include <QPainter>
#include <algorithm>

#include "ui/Theme.h"

namespace lumarin {

QFont kitFont(int points, QFont::Weight weight) {
  QFont font = QApplication::font();
  font.setPixelSize(points);
  font.setWeight(weight);
  return font;
}

void drawFocusRing(QPainter& painter, const QRectF& bounds, double radius, Appearance appearance,
                   bool onAccent) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor color = onAccent ? Theme::white(0.9) : Theme::focusRing().resolve(appearance);
  QPen pen(color, 2);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  const QRectF ring = bounds.adjusted(1, 1, -1, -1);
  const double r = std::max(radius - 1, 0.0);
  painter.drawRoundedRect(ring, r, r);
  painter.restore();
}

QImage tintedTemplate(const QImage& image, const QColor& color) {
  QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  QPainter p(&out);
  p.setCompositionMode(QPainter::CompositionMode_SourceIn);
  p.fillRect(QRectF(QPointF(0, 0), naturalSize(out)), color);
  p.end();
  return out;
}

QSizeF naturalSize(const QImage& image) { return image.deviceIndependentSize(); }

}  // namespace lumarin
