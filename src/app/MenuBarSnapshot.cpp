#include "app/MenuBarSnapshot.h"

#include <QImage>
#include <QPainter>

#include "gfx/Drawing.h"

namespace lumarin {

Status writeMenuBarSnapshot(const std::filesystem::path& file, const Image& menuBar, double originX,
                            const std::vector<ExternalStatusItem>& items) {
  QImage image = toQImage(menuBar);
  if (image.isNull()) {
    return Error{"no menu bar to draw"};
  }
  {
    QPainter p(&image);
    preparePainter(p, menuBar.scale());
    for (const auto& item : items) {
      const bool drawn = item.drawnHint.value_or(false);
      QPen pen(drawn ? QColor(0x22, 0xAA, 0x44) : QColor(0xE0, 0x30, 0x30), 1);
      pen.setStyle(drawn ? Qt::SolidLine : Qt::DashLine);
      p.setPen(pen);
      p.setBrush(Qt::NoBrush);
      p.drawRect(QRectF(item.frame.minX() - originX + 0.5, item.frame.minY() + 0.5,
                        item.frame.width() - 1, item.frame.height() - 1));
    }
  }
  return writePng(fromQImage(image, menuBar.pointSize), file);
}

}  // namespace lumarin
