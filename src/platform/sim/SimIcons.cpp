#include "platform/sim/SimIcons.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <array>
#include <filesystem>

#include "gfx/Drawing.h"

namespace lumarin::sim {

namespace {

constexpr std::array<std::uint32_t, 10> kPalette = {0x1E88E5, 0x43A047, 0xE53935, 0xFB8C00,
                                                    0x8E24AA, 0x00ACC1, 0x3949AB, 0x6D4C41,
                                                    0xD81B60, 0x546E7A};

std::uint32_t hash(const std::string& text) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : text) {
    h = (h ^ c) * 16777619u;
  }
  return h;
}

// A theme glyph recoloured white: rendered, then white filled over it with source-in.
QImage whiteGlyph(const std::string& path, int pixels) {
  QSvgRenderer renderer(QString::fromStdString(path));
  if (!renderer.isValid()) {
    return {};
  }
  QImage glyph(pixels, pixels, QImage::Format_RGBA8888_Premultiplied);
  glyph.fill(Qt::transparent);
  QPainter painter(&glyph);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter, QRectF(0, 0, pixels, pixels));
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(glyph.rect(), Qt::white);
  return glyph;
}

}  // namespace

std::string themeIconPath(const std::string& name) {
  if (name.empty()) {
    return {};
  }
  static const char* kRoots[] = {"/usr/share/icons/Adwaita/scalable",
                                 "/usr/share/icons/Adwaita/symbolic"};
  for (const char* root : kRoots) {
    std::error_code error;
    if (!std::filesystem::is_directory(root, error)) {
      continue;
    }
    for (const auto& context : std::filesystem::directory_iterator(root, error)) {
      const auto candidate = context.path() / (name + ".svg");
      if (std::filesystem::exists(candidate, error)) {
        return candidate.string();
      }
    }
  }
  return {};
}

Image applicationIcon(const std::string& bundleID, const std::string& name,
                      const std::string& themeIcon) {
  const double scale = kIconPixels / 32.0;
  DrawableImage drawable;
  drawable.size = Size{32, 32};
  const QColor fill(static_cast<QRgb>(kPalette[hash(bundleID) % kPalette.size()]));
  const std::string glyphPath = themeIconPath(themeIcon);
  drawable.draw = [&](QPainter& p) {
    // The Mac icon grid: the body is 26/32 of the canvas, centred, with rounded corners.
    const QRectF body(3, 3, 26, 26);
    QLinearGradient gradient(body.topLeft(), body.bottomLeft());
    gradient.setColorAt(0, fill.lighter(125));
    gradient.setColorAt(1, fill.darker(110));
    QPainterPath shape;
    shape.addRoundedRect(body, 5.9, 5.9);
    p.fillPath(shape, gradient);
    const QImage glyph = glyphPath.empty() ? QImage() : whiteGlyph(glyphPath, 64);
    if (!glyph.isNull()) {
      p.drawImage(QRectF(9, 9, 14, 14), glyph);
    } else {
      QFont font;
      font.setBold(true);
      font.setPointSizeF(15);
      p.setFont(font);
      p.setPen(Qt::white);
      const QString letter =
          name.empty() ? QStringLiteral("?") : QString::fromStdString(name).left(1).toUpper();
      p.drawText(body, Qt::AlignCenter, letter);
    }
  };
  return drawable.rasterize(scale);
}

Image genericDocumentIcon() {
  DrawableImage drawable;
  drawable.size = Size{32, 32};
  drawable.draw = [](QPainter& p) {
    QPainterPath page;
    page.moveTo(7, 3);
    page.lineTo(20, 3);
    page.lineTo(26, 9);
    page.lineTo(26, 29);
    page.lineTo(7, 29);
    page.closeSubpath();
    p.fillPath(page, QColor(0xF5, 0xF5, 0xF5));
    p.setPen(QPen(QColor(0x9E, 0x9E, 0x9E), 0.75));
    p.drawPath(page);
  };
  return drawable.rasterize(kIconPixels / 32.0);
}

}  // namespace lumarin::sim
