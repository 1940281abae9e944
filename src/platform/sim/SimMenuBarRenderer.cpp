#include "platform/sim/SimMenuBarRenderer.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <cmath>

#include "gfx/Drawing.h"
#include "platform/sim/SimIcons.h"
#include "platform/sim/World.h"

namespace lumarin::sim {

namespace {

// A theme glyph in one colour (source-in over its own alpha).
QImage tintedGlyph(const std::string& path, int pixels, const QColor& color) {
  QSvgRenderer renderer(QString::fromStdString(path));
  QImage glyph(pixels, pixels, QImage::Format_RGBA8888_Premultiplied);
  glyph.fill(Qt::transparent);
  if (!renderer.isValid()) {
    return glyph;
  }
  QPainter p(&glyph);
  p.setRenderHint(QPainter::Antialiasing);
  renderer.render(&p, QRectF(0, 0, pixels, pixels));
  p.setCompositionMode(QPainter::CompositionMode_SourceIn);
  p.fillRect(glyph.rect(), color);
  return glyph;
}

// One of the program's own items: its button's picture (a template one in the bar's ink) and
// its button's sublayers, animated as the render server would show them at `now`.
void drawHostedItem(QPainter& p, const HostedStatusItem& item, const QRectF& box, const QColor& ink,
                    Duration now, double scale) {
  const double buttonTop = box.center().y() - 11;  // the button's 22 points, centred
  const Image raster = item.picture.rasterize(scale);
  if (!raster.isEmpty()) {
    QImage picture = toQImage(raster);
    if (item.picture.isTemplate) {
      QPainter tint(&picture);
      tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
      tint.fillRect(picture.rect(), ink);
    }
    p.drawImage(QRectF(box.left(), buttonTop, item.picture.size.width, item.picture.size.height),
                picture);
  }
  for (const auto& layer : item.layers) {
    double scaleFactor = 1;
    for (const auto& [key, animation] : layer.animations) {
      if (animation.keyPath == "transform.scale") {
        scaleFactor = animation.valueAt(now);
      }
    }
    const double w = layer.bounds.width * scaleFactor;
    const double h = layer.bounds.height * scaleFactor;
    // The button is flipped: its layer positions count from its top-left corner.
    const QPointF centre(box.left() + layer.position.x, buttonTop + layer.position.y);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(
        static_cast<float>(layer.background.red), static_cast<float>(layer.background.green),
        static_cast<float>(layer.background.blue), static_cast<float>(layer.background.alpha)));
    p.drawRoundedRect(QRectF(centre.x() - w / 2, centre.y() - h / 2, w, h),
                      layer.cornerRadius * scaleFactor, layer.cornerRadius * scaleFactor);
  }
}

void drawExtra(QPainter& p, const PlacedMenuExtra& extra, const QRectF& box, const QColor& ink,
               double scale) {
  QFont font;
  font.setPointSizeF(13);
  p.setFont(font);
  p.setPen(ink);
  const std::string glyphPath = themeIconPath(extra.spec.glyph);
  if (!glyphPath.empty()) {
    const double side = 16;
    const QColor color =
        extra.spec.glyphColor.empty() ? ink : QColor(QString::fromStdString(extra.spec.glyphColor));
    const QImage glyph = tintedGlyph(glyphPath, static_cast<int>(std::ceil(side * scale)),
                                     color.isValid() ? color : ink);
    p.drawImage(QRectF(box.center().x() - side / 2, box.center().y() - side / 2, side, side),
                glyph);
    return;
  }
  QString text = QString::fromStdString(extra.spec.title);
  if (extra.spec.identifier == "com.apple.menuextra.clock") {
    text = QStringLiteral("Tue 8 Dec  9:41");
  }
  if (text.isEmpty()) {
    // An item without a picture of its own: a small rounded square.
    p.setBrush(ink);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(box.center().x() - 7, box.center().y() - 7, 14, 14), 3, 3);
    return;
  }
  p.drawText(box, Qt::AlignCenter, text);
}

}  // namespace

Image renderMenuExtra(const World& world, const PlacedMenuExtra& extra, const GlobalRect& bounds,
                      int pixelWidth, int pixelHeight) {
  const double scale = pixelWidth / std::max(bounds.width(), 1.0);
  DrawableImage drawable;
  drawable.size = Size{pixelWidth / scale, pixelHeight / scale};
  const QColor ink = world.darkMenuBar() ? QColor(255, 255, 255, 235) : QColor(0, 0, 0, 220);
  drawable.draw = [&](QPainter& p) {
    const QRectF box(0, 0, bounds.width(), bounds.height());
    if (extra.hostedItem != 0) {
      if (auto item = world.hostedItem(extra.hostedItem)) {
        drawHostedItem(p, *item, box, ink, seconds(world.now()), scale);
      }
      return;
    }
    drawExtra(p, extra, box, ink, scale);
  };
  return drawable.rasterize(scale);
}

Image renderMenuBar(const World& world, double scale) {
  const auto screens = world.screens();
  if (screens.empty()) {
    return {};
  }
  const Screen& main = screens.front();
  const double height = world.menuBarHeight();
  const bool dark = world.darkMenuBar();
  const auto extras = world.menuExtras();
  const auto notch = world.notchRect();
  const auto chevron = world.overflowChevron();
  const double originX = main.frame.minX();

  DrawableImage bar;
  bar.size = Size{main.frame.width(), height};
  bar.draw = [&](QPainter& p) {
    const QColor ink = dark ? QColor(255, 255, 255, 235) : QColor(0, 0, 0, 220);
    p.fillRect(QRectF(0, 0, bar.size.width, height),
               dark ? QColor(0x1F, 0x1F, 0x22) : QColor(0xEC, 0xEC, 0xEE));
    for (const auto& extra : extras) {
      if (!extra.drawn) {
        continue;
      }
      const QRectF box(extra.frame.minX() - originX, extra.frame.minY(), extra.frame.width(),
                       height);
      if (extra.hostedItem != 0) {
        if (auto item = world.hostedItem(extra.hostedItem)) {
          drawHostedItem(p, *item, box, ink, seconds(world.now()), scale);
        }
        continue;
      }
      drawExtra(p, extra, box, ink, scale);
    }
    if (chevron) {
      const QRectF box(chevron->minX() - originX, chevron->minY(), chevron->width(), height);
      QPen pen(ink, 1.6);
      p.setPen(pen);
      const QPointF c = box.center();
      p.drawPolyline(QPolygonF({QPointF(c.x() - 3, c.y() - 5), QPointF(c.x() + 2, c.y()),
                                QPointF(c.x() - 3, c.y() + 5)}));
    }
    if (notch) {
      QPainterPath housing;
      const QRectF r(notch->minX() - originX, 0, notch->width(), notch->height());
      housing.addRoundedRect(r.adjusted(0, -10, 0, 0), 10, 10);
      p.fillPath(housing, Qt::black);
    }
  };
  return bar.rasterize(scale);
}

}  // namespace lumarin::sim
