#include "menubar/IconCache.h"

#include <QImage>
#include <cmath>

#include "gfx/Drawing.h"
#include "menubar/GlyphImage.h"

namespace lumarin {

namespace {

const QString kPointWidth = QStringLiteral("LumarinPointWidth");
const QString kPointHeight = QStringLiteral("LumarinPointHeight");

}  // namespace

std::string IconCache::cacheKey(const ExternalStatusItem& item) {
  std::string key;
  if (item.bundleID) {
    key = *item.bundleID;
  } else if (item.windowTitle && !item.windowTitle->empty()) {
    key = "id:" + *item.windowTitle;
  } else {
    key = "pid" + std::to_string(item.pid);
  }
  return key + "#" + std::to_string(item.index);
}

std::string IconCache::fileName(const std::string& key) {
  std::string name = key;
  for (char& c : name) {
    if (c == '/') {
      c = '_';
    }
  }
  return name + ".png";
}

void IconCache::write(const std::string& key, const Image& image) {
  std::error_code error;
  std::filesystem::create_directories(directory(5), error);
  QImage q = toQImage(image);
  if (q.isNull()) {
    return;
  }
  // The point size travels with the pixels, as an image representation's size would.
  q.setText(kPointWidth, QString::number(image.pointSize.width, 'g', 10));
  q.setText(kPointHeight, QString::number(image.pointSize.height, 'g', 10));
  q.save(QString::fromStdString((directory(5) / fileName(key)).string()), "PNG");
}

std::optional<Image> IconCache::cachedImage(const std::string& key) {
  for (int version : {5, 4}) {
    const auto file = directory(version) / fileName(key);
    QImage q;
    if (!q.load(QString::fromStdString(file.string()), "PNG")) {
      continue;
    }
    bool okW = false;
    bool okH = false;
    double pw = q.text(kPointWidth).toDouble(&okW);
    double ph = q.text(kPointHeight).toDouble(&okH);
    if (!okW || !okH || !(pw > 0) || !(ph > 0)) {
      pw = q.width();
      ph = q.height();
    }
    Image image = fromQImage(q, Size{pw, ph});
    if (glyph::hasTransparentBackground(image)) {
      if (auto edges = glyph::edgeInkFractions(image);
          edges && std::max(edges->first, edges->second) > 0.12) {
        std::error_code error;
        std::filesystem::remove(file, error);
        if (debug_) {
          debug_("CACHE DROP suspicious glyph key=" + key + " subdir=iconcache-v" +
                 std::to_string(version) + " size=" + std::to_string(image.pixelWidth) + "x" +
                 std::to_string(image.pixelHeight));
        }
        continue;
      }
    }
    if (version == 4 && image.pixelWidth > 0 &&
        std::abs(image.pixelWidth - image.pointSize.width) <= 0.5) {
      image.pointSize = Size{image.pixelWidth / 2.0, image.pixelHeight / 2.0};
    }
    return image;
  }
  return std::nullopt;
}

}  // namespace lumarin
