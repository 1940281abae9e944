#include "badges/AppIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <cmath>

#include "gfx/Drawing.h"
#include "platform/Workspace.h"

namespace lumarin {

Image AppIcons::dashedAppIcon(double size, double scale) {
  DrawableImage drawable;
  drawable.size = Size{size, size};
  drawable.isTemplate = true;
  drawable.draw = [size](QPainter& p) {
    const double unit = size / 18.0;
    QPen pen(Qt::black, 1.3 * unit);
    pen.setDashPattern({2.2, 1.6});
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(2.5 * unit, 2.5 * unit, 13 * unit, 13 * unit), 3.4 * unit, 3.4 * unit);
  };
  return drawable.rasterize(scale);
}

Image AppIcons::icon(const std::string& bundleID, double size) {
  const std::string key =
      bundleID + "@" + std::to_string(static_cast<long long>(std::lround(size)));
  {
    std::lock_guard lock(mutex_);
    if (auto it = cache_.find(key); it != cache_.end()) {
      return it->second;
    }
  }
  Image image;
  if (auto url = workspace_.urlForApplication(bundleID)) {
    image = workspace_.iconForFile(*url);
  } else {
    image = dashedAppIcon(size);
  }
  image.pointSize = Size{size, size};
  std::lock_guard lock(mutex_);
  cache_.emplace(key, image);
  return image;
}

}  // namespace lumarin
