#include "platform/desktop/TrayImages.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <algorithm>

namespace lumarin {

std::shared_ptr<const Image> imageFromQImage(const QImage& source) {
  const QImage rendered = source.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
  if (rendered.isNull()) {
    return nullptr;
  }
  auto image = std::make_shared<Image>();
  image->pixelWidth = rendered.width();
  image->pixelHeight = rendered.height();
  image->pointSize = {rendered.width() / 2.0, rendered.height() / 2.0};
  image->rgba.resize(static_cast<std::size_t>(rendered.width()) * rendered.height() * 4);
  for (int y = 0; y < rendered.height(); ++y) {
    std::copy_n(rendered.constScanLine(y), static_cast<std::size_t>(rendered.width()) * 4,
                image->rgba.begin() + static_cast<std::ptrdiff_t>(y) * rendered.width() * 4);
  }
  return image;
}

// The pixmap that fits `pixels` best (the smallest at least that large, else the largest),
// straight ARGB in network byte order turned into our premultiplied RGBA at 2x.
std::shared_ptr<const Image> bestTrayPixmap(const dbus::IconPixmapList& pixmaps, int pixels) {
  const dbus::IconPixmap* best = nullptr;
  for (const auto& pixmap : pixmaps) {
    const bool valid = pixmap.width > 0 && pixmap.height > 0 &&
                       pixmap.width <= kMaxTrayPixmapSide && pixmap.height <= kMaxTrayPixmapSide &&
                       pixmap.bytes.size() == static_cast<qsizetype>(pixmap.width) *
                                                  static_cast<qsizetype>(pixmap.height) * 4;
    if (!valid) {
      continue;
    }
    const int side = std::max(pixmap.width, pixmap.height);
    if (best == nullptr) {
      best = &pixmap;
      continue;
    }
    const int bestSide = std::max(best->width, best->height);
    const bool fits = side >= pixels;
    const bool bestFits = bestSide >= pixels;
    if ((fits && (!bestFits || side < bestSide)) || (!fits && !bestFits && side > bestSide)) {
      best = &pixmap;
    }
  }
  if (best == nullptr) {
    return nullptr;
  }
  auto image = std::make_shared<Image>();
  image->pixelWidth = best->width;
  image->pixelHeight = best->height;
  image->pointSize = {best->width / 2.0, best->height / 2.0};
  image->rgba.resize(static_cast<std::size_t>(best->width) * best->height * 4);
  const auto* in = reinterpret_cast<const std::uint8_t*>(best->bytes.constData());
  for (std::size_t i = 0; i < image->rgba.size(); i += 4) {
    const unsigned a = in[i];
    image->rgba[i] = static_cast<std::uint8_t>((in[i + 1] * a + 127) / 255);
    image->rgba[i + 1] = static_cast<std::uint8_t>((in[i + 2] * a + 127) / 255);
    image->rgba[i + 2] = static_cast<std::uint8_t>((in[i + 3] * a + 127) / 255);
    image->rgba[i + 3] = static_cast<std::uint8_t>(a);
  }
  return image;
}

// An icon by name: a file in the item's own theme folder, an absolute file, else the icon
// theme. Needs the GUI application; none without it.
std::shared_ptr<const Image> namedTrayIcon(const std::string& name, const std::string& themePath,
                                           int pixels) {
  if (name.empty() || qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
    return nullptr;
  }
  const QString icon = QString::fromStdString(name);
  QIcon found;
  if (QFileInfo(icon).isAbsolute()) {
    found = QIcon(icon);
  } else if (!themePath.empty()) {
    // The largest of the files named so under the folder (apps ship a small hicolor tree).
    QDirIterator files(QString::fromStdString(themePath), {icon + ".png", icon + ".svg"},
                       QDir::Files, QDirIterator::Subdirectories);
    for (int seen = 0; files.hasNext() && seen < 64; ++seen) {
      found.addFile(files.next());
    }
  }
  if (found.isNull()) {
    found = QIcon::fromTheme(icon);
  }
  if (found.isNull()) {
    return nullptr;
  }
  return imageFromQImage(found.pixmap(QSize(pixels, pixels)).toImage());
}

std::shared_ptr<const Image> imageFromPng(const QByteArray& png, int pixels) {
  if (png.isEmpty() || png.size() > kMaxTrayPngBytes) {
    return nullptr;
  }
  QImage decoded;
  if (!decoded.loadFromData(png, "PNG") || decoded.width() > kMaxTrayPixmapSide ||
      decoded.height() > kMaxTrayPixmapSide) {
    return nullptr;
  }
  return imageFromQImage(
      decoded.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

}  // namespace lumarin
