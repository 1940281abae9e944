#include "app/MenuBarIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace lumarin {

DrawableImage MenuBarIcon::image(bool alert) {
  DrawableImage icon;
  icon.size = Size{kCanvas, kCanvas};
  icon.isTemplate = true;
  icon.draw = [alert](QPainter& p) {
    p.save();
    // Design coordinates, origin top-left like the flipped canvas.
    p.scale(kDesignScale, kDesignScale);
    QPen pen(Qt::black, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    // The menu bar.
    p.drawRoundedRect(QRectF(2, 3.5, 16, 5), 1.75, 1.75);
    // The dropped-down menu with one entry.
    QPainterPath box;
    box.moveTo(5, 11);
    box.lineTo(5, 14.5);
    box.arcTo(QRectF(5, 13, 3, 3), 180, 90);  // quarter round to (6.5, 16)
    box.lineTo(15.5, 16);
    box.arcTo(QRectF(14, 13, 3, 3), 270, 90);  // to (17, 14.5)
    box.lineTo(17, 11);
    p.drawPath(box);
    p.drawLine(QPointF(8.5, 12.25), QPointF(13.5, 12.25));
    // Two dots and a dash inside the bar.
    pen.setWidthF(1.75);
    p.setPen(pen);
    p.drawLine(QPointF(5, 6), QPointF(5.01, 6));
    p.drawLine(QPointF(8.5, 6), QPointF(8.51, 6));
    p.drawLine(QPointF(13, 6), QPointF(15, 6));
    p.restore();
    if (alert) {
      p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::black);
      p.drawEllipse(QRectF(9, -0.9, 8, 8));
      p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
  };
  return icon;
}

}  // namespace lumarin
