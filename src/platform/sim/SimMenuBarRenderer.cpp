#include "platform/sim/SimMenuBarRenderer.h"

#include <QDate>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <QSvgRenderer>
#include <QTime>
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

// Points kept clear of ink at each side of an item's text.
constexpr double kTextInset = 2;
// Texts are drawn at the menu bar's 13 points when they fit, else down to 10 in half points
// (the stand-in fonts of this machine are wider than the Mac's own).
constexpr double kLargestText = 13;
constexpr double kSmallestText = 10;

QLocale localeFor(const std::vector<std::string>& languages) {
  if (languages.empty()) {
    return QLocale::c();
  }
  return QLocale(QString::fromStdString(languages.front()).replace('-', '_'));
}

// The clock's texts in the language's own order, longest first: the weekday, the date and the
// time, then the date and the time, then the weekday and the time, then the time. The world's
// clock is the Mac's usual stand-in: Tuesday 8 December, 9:41.
QStringList clockTexts(const QLocale& locale) {
  const QDate date(2026, 12, 8);
  const QString time = QTime(9, 41).toString(QStringLiteral("H:mm"));
  QString full = QStringLiteral("ddd d MMM");
  QString dayMonth = QStringLiteral("d MMM");
  switch (locale.language()) {
    case QLocale::Japanese:
      full = QStringLiteral("M月d日(ddd)");
      dayMonth = QStringLiteral("M月d日");
      break;
    case QLocale::Chinese:
      full = QStringLiteral("M月d日 ddd");
      dayMonth = QStringLiteral("M月d日");
      break;
    case QLocale::Korean:
      full = QStringLiteral("M월 d일 (ddd)");
      dayMonth = QStringLiteral("M월 d일");
      break;
    default:
      break;
  }
  const QString gap = QStringLiteral("  ");
  return {locale.toString(date, full) + gap + time, locale.toString(date, dayMonth) + gap + time,
          locale.toString(date, QStringLiteral("ddd")) + gap + time, time};
}

// The first of `candidates` that fits `room` points at the largest size that lets it, measured
// on the painter's device; when none fits even small, the last one cut with an ellipsis.
QString fitText(QPainter& p, const QStringList& candidates, double room) {
  QFont font = p.font();
  for (const QString& text : candidates) {
    for (double size = kLargestText; size >= kSmallestText; size -= 0.5) {
      font.setPointSizeF(size);
      if (QFontMetricsF(font, p.device()).horizontalAdvance(text) <= room) {
        p.setFont(font);
        return text;
      }
    }
  }
  font.setPointSizeF(kSmallestText);
  p.setFont(font);
  return QFontMetricsF(font, p.device())
      .elidedText(candidates.isEmpty() ? QString() : candidates.back(), Qt::ElideRight, room);
}

void drawExtra(QPainter& p, const PlacedMenuExtra& extra, const QRectF& box, const QColor& ink,
               double scale, const QLocale& locale) {
  QFont font;
  font.setPointSizeF(kLargestText);
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
  QStringList texts = {QString::fromStdString(extra.spec.title)};
  if (extra.spec.identifier == "com.apple.menuextra.clock") {
    texts = clockTexts(locale);
  }
  if (texts.front().isEmpty()) {
    // An item without a picture of its own: a small rounded square.
    p.setBrush(ink);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(box.center().x() - 7, box.center().y() - 7, 14, 14), 3, 3);
    return;
  }
  // Measured, never assumed: a text wider than its room would be cut at both edges.
  const QString text = fitText(p, texts, std::max(box.width() - 2 * kTextInset, 0.0));
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
    drawExtra(p, extra, box, ink, scale, localeFor(world.languages()));
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
  const QLocale locale = localeFor(world.languages());

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
      drawExtra(p, extra, box, ink, scale, locale);
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
