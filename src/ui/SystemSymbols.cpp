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

// Clears `path` out of what is drawn so far (the holes of filled symbols).
void cut(QPainter& p, const QPainterPath& path) {
  p.save();
  p.setCompositionMode(QPainter::CompositionMode_Clear);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  p.drawPath(path);
  p.restore();
}

void fill(QPainter& p, const QPainterPath& path) {
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  p.drawPath(path);
}

QPainterPath ellipse(double x, double y, double w, double h) {
  QPainterPath path;
  path.addEllipse(QRectF(x, y, w, h));
  return path;
}

// A cog: `teeth` rounded teeth around a disc with a hole.
void drawGear(QPainter& p, double pt) {
  const QPointF c(pt / 2, pt / 2);
  const int teeth = 8;
  QPainterPath outline;
  for (int i = 0; i < teeth * 2; ++i) {
    const double angle = (i * M_PI / teeth) - M_PI / 2;
    const double r = (i % 2 == 0) ? pt * 0.5 : pt * 0.38;
    const double spread = M_PI / teeth * 0.45;
    const QPointF a(c.x() + r * std::cos(angle - spread), c.y() + r * std::sin(angle - spread));
    const QPointF b(c.x() + r * std::cos(angle + spread), c.y() + r * std::sin(angle + spread));
    if (i == 0) {
      outline.moveTo(a);
    } else {
      outline.lineTo(a);
    }
    outline.lineTo(b);
  }
  outline.closeSubpath();
  fill(p, outline);
  cut(p, ellipse(pt * 0.34, pt * 0.34, pt * 0.32, pt * 0.32));
}

void drawShield(QPainter& p, double pt) {
  QPainterPath shield;
  shield.moveTo(pt * 0.5, 0);
  shield.cubicTo(pt * 0.68, pt * 0.1, pt * 0.85, pt * 0.14, pt * 0.92, pt * 0.14);
  shield.cubicTo(pt * 0.95, pt * 0.6, pt * 0.8, pt * 0.85, pt * 0.5, pt);
  shield.cubicTo(pt * 0.2, pt * 0.85, pt * 0.05, pt * 0.6, pt * 0.08, pt * 0.14);
  shield.cubicTo(pt * 0.15, pt * 0.14, pt * 0.32, pt * 0.1, pt * 0.5, 0);
  fill(p, shield);
  // The padlock cut out of it: shackle and body.
  QPainterPath body;
  body.addRoundedRect(QRectF(pt * 0.33, pt * 0.45, pt * 0.34, pt * 0.27), pt * 0.04, pt * 0.04);
  cut(p, body);
  p.save();
  p.setCompositionMode(QPainter::CompositionMode_Clear);
  p.setPen(QPen(Qt::black, pt * 0.07));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(pt * 0.39, pt * 0.28, pt * 0.22, pt * 0.3), 0, 180 * 16);
  p.drawLine(QPointF(pt * 0.39, pt * 0.43), QPointF(pt * 0.39, pt * 0.47));
  p.drawLine(QPointF(pt * 0.61, pt * 0.43), QPointF(pt * 0.61, pt * 0.47));
  p.restore();
}

void drawPerson(QPainter& p, double pt) {
  fill(p, ellipse(0, 0, pt, pt));
  cut(p, ellipse(pt * 0.34, pt * 0.17, pt * 0.32, pt * 0.32));
  QPainterPath shoulders;
  shoulders.moveTo(pt * 0.18, pt * 0.84);
  shoulders.cubicTo(pt * 0.24, pt * 0.58, pt * 0.76, pt * 0.58, pt * 0.82, pt * 0.84);
  shoulders.cubicTo(pt * 0.62, pt * 0.98, pt * 0.38, pt * 0.98, pt * 0.18, pt * 0.84);
  cut(p, shoulders);
}

void drawInfo(QPainter& p, double pt) {
  fill(p, ellipse(0, 0, pt, pt));
  cut(p, ellipse(pt * 0.43, pt * 0.2, pt * 0.14, pt * 0.14));
  QPainterPath stem;
  stem.addRoundedRect(QRectF(pt * 0.435, pt * 0.42, pt * 0.13, pt * 0.38), pt * 0.05, pt * 0.05);
  cut(p, stem);
}

void drawAppBadgeFilled(QPainter& p, double pt) {
  const double side = pt * 0.95;
  QPainterPath square;
  square.addRoundedRect(QRectF(0, pt * 0.2, side, side), side * 0.22, side * 0.22);
  fill(p, square);
  const double d = pt * 0.5;
  // A ring of space between the square and its badge.
  cut(p, ellipse(pt * 1.15 - d - pt * 0.08, -pt * 0.08, d + pt * 0.16, d + pt * 0.16));
  fill(p, ellipse(pt * 1.15 - d, 0, d, d));
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
      {"gearshape.fill",
       {1.0, 1.0, [](QPainter& p, double pt, QFont::Weight) { drawGear(p, pt); }}},
      {"lock.shield.fill",
       {1.0, 1.0, [](QPainter& p, double pt, QFont::Weight) { drawShield(p, pt); }}},
      {"person.crop.circle.fill",
       {1.0, 1.0, [](QPainter& p, double pt, QFont::Weight) { drawPerson(p, pt); }}},
      {"info.circle.fill",
       {1.0, 1.0, [](QPainter& p, double pt, QFont::Weight) { drawInfo(p, pt); }}},
      {"app.badge.fill",
       {1.15, 1.15, [](QPainter& p, double pt, QFont::Weight) { drawAppBadgeFilled(p, pt); }}},
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
