#include "ui/SystemSymbols.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <functional>
#include <map>

#include "ui/ControlPainting.h"

namespace lumarin {
namespace {

// Stroke width of a line symbol at `points`: semibold symbols are a little heavier.
double strokeWidth(double points, QFont::Weight weight) {
  const double base = points * 0.13;
  return weight >= QFont::DemiBold ? base * 1.3 : base;
}

using Painter = std::function<void(QPainter&, double points, QFont::Weight)>;

struct Shape {
  double widthFactor;   // of the point size
  double heightFactor;  // of the point size
  Painter draw;
};

void drawChevron(QPainter& p, double w, double h, double stroke, bool down) {
  QPainterPath path;
  const double inset = stroke / 2;
  const double top = down ? inset : h - inset;
  const double bottom = down ? h - inset : inset;
  path.moveTo(inset, top);
  path.lineTo(w / 2, bottom);
  path.lineTo(w - inset, top);
  QPen pen(Qt::black, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
}

void drawText(QPainter& p, const QRectF& box, const QString& text, double points,
              QFont::Weight weight) {
  QFont font = kitFont(static_cast<int>(std::lround(points)), weight);
  p.setFont(font);
  p.setPen(Qt::black);
  p.drawText(box, Qt::AlignCenter, text);
}

const std::map<QString, Shape>& shapes() {
  static const std::map<QString, Shape> table = {
      {"chevron.down",
       {1.0, 0.58,
        [](QPainter& p, double pt, QFont::Weight wt) {
          drawChevron(p, pt * 1.0, pt * 0.58, strokeWidth(pt, wt), true);
        }}},
      {"chevron.up",
       {1.0, 0.58,
        [](QPainter& p, double pt, QFont::Weight wt) {
          drawChevron(p, pt * 1.0, pt * 0.58, strokeWidth(pt, wt), false);
        }}},
      {"circle",
       {1.0, 1.0,
        [](QPainter& p, double pt, QFont::Weight wt) {
          const double s = strokeWidth(pt, wt);
          p.setPen(QPen(Qt::black, s));
          p.setBrush(Qt::NoBrush);
          p.drawEllipse(QRectF(s / 2, s / 2, pt - s, pt - s));
        }}},
      {"circle.fill",
       {1.0, 1.0,
        [](QPainter& p, double pt, QFont::Weight) {
          p.setPen(Qt::NoPen);
          p.setBrush(Qt::black);
          p.drawEllipse(QRectF(0, 0, pt, pt));
        }}},
      {"smallcircle.filled.circle",
       {1.0, 1.0,
        [](QPainter& p, double pt, QFont::Weight wt) {
          const double s = strokeWidth(pt, wt);
          p.setPen(QPen(Qt::black, s));
          p.setBrush(Qt::NoBrush);
          p.drawEllipse(QRectF(s / 2, s / 2, pt - s, pt - s));
          p.setPen(Qt::NoPen);
          p.setBrush(Qt::black);
          const double d = pt * 0.36;
          p.drawEllipse(QRectF((pt - d) / 2, (pt - d) / 2, d, d));
        }}},
      {"textformat",
       {1.45, 1.0,
        [](QPainter& p, double pt, QFont::Weight wt) {
          drawText(p, QRectF(0, 0, pt * 1.45, pt), QStringLiteral("Aa"), pt, wt);
        }}},
      {"textformat.123",
       {1.7, 1.0,
        [](QPainter& p, double pt, QFont::Weight wt) {
          drawText(p, QRectF(0, 0, pt * 1.7, pt), QStringLiteral("123"), pt * 0.8, wt);
        }}},
      {"app.badge",
       {1.15, 1.15,
        [](QPainter& p, double pt, QFont::Weight wt) {
          const double s = strokeWidth(pt, wt);
          const double side = pt * 0.95;
          p.setPen(QPen(Qt::black, s));
          p.setBrush(Qt::NoBrush);
          p.drawRoundedRect(QRectF(s / 2, pt * 0.2 + s / 2, side - s, side - s), side * 0.22,
                            side * 0.22);
          p.setPen(Qt::NoPen);
          p.setBrush(Qt::black);
          const double d = pt * 0.42;
          p.drawEllipse(QRectF(pt * 1.15 - d, 0, d, d));
        }}},
  };
  return table;
}

QImage blank(QSizeF points, qreal scale) {
  QImage image(static_cast<int>(std::ceil(points.width() * scale)),
               static_cast<int>(std::ceil(points.height() * scale)),
               QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(Qt::transparent);
  return image;
}

}  // namespace

bool isDrawnSymbol(const QString& name) { return shapes().count(name) != 0; }

QImage systemSymbol(const QString& name, double points, QFont::Weight weight, qreal scale) {
  const auto& table = shapes();
  if (auto it = table.find(name); it != table.end()) {
    QImage image =
        blank(QSizeF(points * it->second.widthFactor, points * it->second.heightFactor), scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    it->second.draw(p, points, weight);
    return image;
  }
  QImage image = blank(QSizeF(points, points), scale);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QIcon icon = QIcon::fromTheme(QString(name).replace('.', '-') + "-symbolic");
  if (!icon.isNull()) {
    icon.paint(&p, QRect(0, 0, static_cast<int>(std::lround(points)),
                         static_cast<int>(std::lround(points))));
    p.end();
    return tintedTemplate(image, Qt::black);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  p.drawRoundedRect(QRectF(0, 0, points, points), points * 0.25, points * 0.25);
  p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
  drawText(p, QRectF(0, 0, points, points), name.left(1).toUpper(), points * 0.7, weight);
  p.end();
  return image;
}

}  // namespace lumarin
