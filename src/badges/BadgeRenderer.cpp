#include "badges/BadgeRenderer.h"

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "base/Utf8.h"

namespace lumarin {

namespace {

QColor toQColor(RgbColor c) {
  return QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green),
                          static_cast<float>(c.blue), static_cast<float>(c.alpha));
}

// A rectangle of the bottom-left convention on a canvas of `height`, as QPainter wants it.
QRectF flip(const CocoaRect& r, double height) {
  return QRectF(r.minX(), height - r.maxY(), r.width(), r.height());
}

bool drawsBadge(const std::optional<BadgeValue>& badge, BadgeStyle style, bool dimmed) {
  return badge.has_value() && !dimmed && style != BadgeStyle::text;
}

}  // namespace

std::string BadgeRenderer::displayText(const BadgeValue& badge) {
  if (badge.count) {
    return *badge.count < 1000 ? std::to_string(*badge.count) : "999+";
  }
  return badge.label;
}

double BadgeRenderer::circleWidth(const std::string& text) {
  return std::max(static_cast<double>(utf8::length(text)) * 5.4 + 5, 11.0);
}

Size BadgeRenderer::canvasSize(const std::optional<BadgeValue>& badge, BadgeStyle style) {
  if (!badge || style != BadgeStyle::circle) {
    return Size{20, 20};
  }
  return Size{circleWidth(displayText(*badge)) * 0.5 + kIconSize, 22};
}

CocoaRect BadgeRenderer::badgeRect(const std::optional<BadgeValue>& badge, BadgeStyle style) {
  const Size canvas = canvasSize(badge, style);
  if (style == BadgeStyle::dot) {
    return CocoaRect(canvas.width - kDotDiameter, canvas.height - kDotDiameter, kDotDiameter,
                     kDotDiameter);
  }
  const double w = badge ? circleWidth(displayText(*badge)) : kCircleHeight;
  return CocoaRect(canvas.width - w, canvas.height - kCircleHeight, w, kCircleHeight);
}

DrawableImage BadgeRenderer::image(const Image& icon, const std::optional<BadgeValue>& badge,
                                   BadgeStyle style, RgbColor color, bool dimmed) {
  DrawableImage out;
  out.size = canvasSize(badge, style);
  const bool withBadge = drawsBadge(badge, style, dimmed);
  out.isTemplate = icon.isTemplate && !withBadge;
  const QImage iconImage = toQImage(icon);
  const double height = out.size.height;
  const CocoaRect rect = badgeRect(badge, style);
  const std::string text = badge ? displayText(*badge) : std::string();
  out.draw = [=](QPainter& p) {
    // 1. The icon in (0, 0, 18, 18) of the bottom-left convention.
    p.setOpacity(dimmed ? kDimmedOpacity : 1.0);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (!iconImage.isNull()) {
      p.drawImage(flip(CocoaRect(0, 0, kIconSize, kIconSize), height), iconImage);
    }
    p.setOpacity(1.0);
    // 2. Nothing more without a badge, when dimmed, or for the text style.
    if (!withBadge) {
      return;
    }
    const QColor fill = toQColor(color);
    p.setPen(Qt::NoPen);
    if (style == BadgeStyle::dot) {
      // 3. Erase a 1-point ring of icon around the dot, then the dot.
      p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
      p.setBrush(Qt::black);
      p.drawEllipse(flip(rect.insetBy(-1, -1), height));
      p.setCompositionMode(QPainter::CompositionMode_SourceOver);
      p.setBrush(fill);
      p.drawEllipse(flip(rect, height));
      return;
    }
    // 4. The circle: ring, rounded badge, white bold number centred.
    p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    p.setBrush(Qt::black);
    p.drawRoundedRect(flip(rect.insetBy(-1, -1), height), 6.5, 6.5);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setBrush(fill);
    p.drawRoundedRect(flip(rect, height), 5.5, 5.5);
    QFont font;
    font.setPointSizeF(7.5);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    const QFontMetricsF metrics(font, p.device());
    const QString qtext = QString::fromStdString(text);
    const QRectF box = flip(rect, height);
    const double textWidth = metrics.horizontalAdvance(qtext);
    const double textHeight = metrics.height();
    const double top = box.center().y() - textHeight / 2;
    p.drawText(QPointF(box.center().x() - textWidth / 2, top + metrics.ascent()), qtext);
  };
  return out;
}

StyledText BadgeRenderer::title(const BadgeValue& badge, RgbColor color) {
  StyledText text;
  text.text = displayText(badge);
  text.color = color;
  return text;
}

Image BadgeRenderer::tinted(const Image& icon, RgbColor color) {
  QImage image = toQImage(icon);
  if (image.isNull()) {
    return icon;
  }
  QPainter painter(&image);
  painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
  painter.fillRect(image.rect(), toQColor(color));
  painter.end();
  return fromQImage(image, icon.pointSize, false);
}

}  // namespace lumarin
