#include "ui/AppIconView.h"

#include <QPainter>
#include <QSvgRenderer>
#include <cmath>
#include <string_view>

namespace lumarin {

std::string_view ownIconSvg();  // generated from resources/icons/lumarin.svg

void drawOwnIcon(QPainter& painter, const QRectF& rect) {
  static QSvgRenderer renderer(
      QByteArray(ownIconSvg().data(), static_cast<qsizetype>(ownIconSvg().size())));
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  renderer.render(&painter, rect);
  painter.restore();
}

AppIconView::AppIconView(double size, QWidget* parent) : QWidget(parent), size_(size) {
  const int side = static_cast<int>(std::ceil(size));
  setFixedSize(side, side);
  setAttribute(Qt::WA_TranslucentBackground);
}

QRectF AppIconView::artworkRect(double size) {
  const double side = size * 128.0 / 103.0;
  const double offset = (size - side) / 2;
  return QRectF(offset, offset, side, side);
}

QSize AppIconView::sizeHint() const {
  const int side = static_cast<int>(std::ceil(size_));
  return QSize(side, side);
}

void AppIconView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  // The artwork may reach past the bounds; with clipping off the margin simply falls outside.
  painter.setClipping(false);
  drawOwnIcon(painter, artworkRect(size_));
}

}  // namespace lumarin
