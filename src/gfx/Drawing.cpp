#include "gfx/Drawing.h"

#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstring>

namespace lumarin {

namespace {

// 72 dots per inch in dots per metre: one typographic point per pixel before scaling.
constexpr int kDotsPerMeter72 = 2835;

QImage canvas(int width, int height) {
  QImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
  image.fill(Qt::transparent);
  image.setDotsPerMeterX(kDotsPerMeter72);
  image.setDotsPerMeterY(kDotsPerMeter72);
  return image;
}

}  // namespace

void preparePainter(QPainter& painter, double scale) {
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.scale(scale, scale);
}

Image DrawableImage::rasterize(double scale) const {
  const int width = static_cast<int>(std::ceil(size.width * scale - 1e-9));
  const int height = static_cast<int>(std::ceil(size.height * scale - 1e-9));
  QImage image = canvas(std::max(width, 0), std::max(height, 0));
  if (!image.isNull() && draw) {
    QPainter painter(&image);
    preparePainter(painter, scale);
    draw(painter);
  }
  return fromQImage(image, size, isTemplate);
}

QImage toQImage(const Image& image) {
  if (image.isEmpty()) {
    return {};
  }
  QImage out = canvas(image.pixelWidth, image.pixelHeight);
  for (int y = 0; y < image.pixelHeight; ++y) {
    std::memcpy(out.scanLine(y),
                image.rgba.data() + static_cast<std::size_t>(y) * image.pixelWidth * 4,
                static_cast<std::size_t>(image.pixelWidth) * 4);
  }
  return out;
}

Image fromQImage(const QImage& source, Size pointSize, bool isTemplate) {
  Image out;
  out.pointSize = pointSize;
  out.isTemplate = isTemplate;
  if (source.isNull()) {
    return out;
  }
  const QImage image = source.format() == QImage::Format_RGBA8888_Premultiplied
                           ? source
                           : source.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
  out.pixelWidth = image.width();
  out.pixelHeight = image.height();
  out.rgba.resize(static_cast<std::size_t>(out.pixelWidth) * out.pixelHeight * 4);
  for (int y = 0; y < out.pixelHeight; ++y) {
    std::memcpy(out.rgba.data() + static_cast<std::size_t>(y) * out.pixelWidth * 4,
                image.constScanLine(y), static_cast<std::size_t>(out.pixelWidth) * 4);
  }
  return out;
}

Status writePng(const Image& image, const std::filesystem::path& file) {
  const QImage q = toQImage(image);
  if (q.isNull()) {
    return Error{"empty image"};
  }
  if (!q.save(QString::fromStdString(file.string()), "PNG")) {
    return Error{"could not write " + file.string()};
  }
  return success();
}

Result<Image> readPng(const std::filesystem::path& file, double scale) {
  QImage q;
  if (!q.load(QString::fromStdString(file.string()), "PNG")) {
    return Error{"not a readable PNG: " + file.string()};
  }
  return fromQImage(q, Size{q.width() / scale, q.height() / scale});
}

}  // namespace lumarin
