#include "menubar/GlyphImage.h"

#include <QImage>
#include <algorithm>
#include <cmath>
#include <vector>

#include "gfx/Drawing.h"

namespace lumarin::glyph {

namespace {

// The image drawn scaled into at most `limit` × `limit` pixels.
Image sample(const Image& image, int limit) {
  const int w = std::min(image.pixelWidth, limit);
  const int h = std::min(image.pixelHeight, limit);
  if (w == image.pixelWidth && h == image.pixelHeight) {
    return image;
  }
  const QImage scaled =
      toQImage(image).scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return fromQImage(scaled, image.pointSize, image.isTemplate);
}

struct Unpremultiplied {
  double r, g, b, a;
};

Unpremultiplied unpremultiply(const Image::Pixel& p) {
  if (p.a == 0) {
    return {0, 0, 0, 0};
  }
  const double a = p.a / 255.0;
  return {std::min(1.0, p.r / 255.0 / a), std::min(1.0, p.g / 255.0 / a),
          std::min(1.0, p.b / 255.0 / a), a};
}

double saturation(const Unpremultiplied& c) {
  const double mx = std::max({c.r, c.g, c.b});
  const double mn = std::min({c.r, c.g, c.b});
  return mx <= 0 ? 0 : (mx - mn) / mx;
}

std::uint8_t toByte(double v) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
}

}  // namespace

int upperMedian(std::vector<int> values) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

bool isEffectivelyEmpty(const Image& image) {
  if (image.isEmpty()) {
    return false;
  }
  const Image s = sample(image, 24);
  int visible = 0;
  for (std::size_t i = 3; i < s.rgba.size(); i += 4) {
    visible += s.rgba[i] > 20 ? 1 : 0;
  }
  const int size = s.pixelWidth * s.pixelHeight;
  return size < 100 ? visible < 2 : visible < size / 50;
}

std::optional<Image> trimmedToOpaque(const Image& image, std::uint8_t alphaThreshold) {
  int minX = image.pixelWidth;
  int minY = image.pixelHeight;
  int maxX = -1;
  int maxY = -1;
  for (int y = 0; y < image.pixelHeight; ++y) {
    for (int x = 0; x < image.pixelWidth; ++x) {
      if (image.alpha(x, y) > alphaThreshold) {
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
      }
    }
  }
  if (maxX < 0) {
    return std::nullopt;
  }
  const int ox = std::max(0, minX - 1);
  const int oy = std::max(0, minY - 1);
  const int w = std::min(maxX - minX + 1 + 2, image.pixelWidth - ox);
  const int h = std::min(maxY - minY + 1 + 2, image.pixelHeight - oy);
  Image out;
  out.pixelWidth = w;
  out.pixelHeight = h;
  out.isTemplate = image.isTemplate;
  const double scale = image.scale();
  out.pointSize = Size{w / scale, h / scale};
  out.rgba.resize(static_cast<std::size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    const auto* src =
        image.rgba.data() + (static_cast<std::size_t>(oy + y) * image.pixelWidth + ox) * 4;
    std::copy(src, src + static_cast<std::size_t>(w) * 4,
              out.rgba.begin() + static_cast<std::ptrdiff_t>(y) * w * 4);
  }
  return out;
}

bool hasTransparentBackground(const Image& image) {
  if (image.isEmpty()) {
    return false;
  }
  std::vector<int> alphas;
  alphas.reserve(static_cast<std::size_t>(image.pixelWidth));
  for (int x = 0; x < image.pixelWidth; ++x) {
    alphas.push_back(image.alpha(x, 0));
  }
  return upperMedian(alphas) < 8;
}

std::optional<std::pair<double, double>> edgeInkFractions(const Image& image) {
  if (image.pixelWidth < 3 || image.pixelHeight < 3) {
    return std::nullopt;
  }
  std::vector<int> r, g, b, a;
  const int bottom = image.pixelHeight - 1;
  for (int x = 0; x < image.pixelWidth; ++x) {
    const auto p = image.pixel(x, bottom);
    r.push_back(p.r);
    g.push_back(p.g);
    b.push_back(p.b);
    a.push_back(p.a);
  }
  const int rr = upperMedian(r);
  const int rg = upperMedian(g);
  const int rb = upperMedian(b);
  const int ra = upperMedian(a);
  auto ink = [&](int x, int y) {
    const auto p = image.pixel(x, y);
    if (ra > 7) {
      const int d = std::max({std::abs(p.r - rr), std::abs(p.g - rg), std::abs(p.b - rb)});
      return d > 64;
    }
    return p.a > 64;
  };
  int left = 0;
  int right = 0;
  for (int y = 0; y < image.pixelHeight; ++y) {
    left += ink(0, y) ? 1 : 0;
    right += ink(image.pixelWidth - 1, y) ? 1 : 0;
  }
  return std::pair<double, double>{static_cast<double>(left) / image.pixelHeight,
                                   static_cast<double>(right) / image.pixelHeight};
}

std::optional<Image> keyingOutBackground(const Image& image) {
  if (image.pixelWidth < 3 || image.pixelHeight < 3) {
    return std::nullopt;
  }
  std::vector<int> r, g, b;
  auto add = [&](int x, int y) {
    const auto p = image.pixel(x, y);
    r.push_back(p.r);
    g.push_back(p.g);
    b.push_back(p.b);
  };
  for (int x = 0; x < image.pixelWidth; ++x) {
    add(x, 0);
    add(x, image.pixelHeight - 1);
  }
  for (int y = 1; y < image.pixelHeight - 1; ++y) {
    add(0, y);
    add(image.pixelWidth - 1, y);
  }
  const double br = upperMedian(r) / 255.0;
  const double bg = upperMedian(g) / 255.0;
  const double bb = upperMedian(b) / 255.0;
  const double h = std::max({std::max(br, 1 - br), std::max(bg, 1 - bg), std::max(bb, 1 - bb)});
  if (!(h > 0.04)) {
    return std::nullopt;
  }
  Image out = image;
  for (std::size_t i = 0; i < out.rgba.size(); i += 4) {
    const double c[3] = {image.rgba[i] / 255.0, image.rgba[i + 1] / 255.0,
                         image.rgba[i + 2] / 255.0};
    const double bgc[3] = {br, bg, bb};
    double d = 0;
    for (int k = 0; k < 3; ++k) {
      d = std::max(d, std::abs(c[k] - bgc[k]));
    }
    const double alpha = std::min(1.0, (d - 0.04) / (h - 0.04));
    if (!(alpha > 0)) {
      out.rgba[i] = out.rgba[i + 1] = out.rgba[i + 2] = out.rgba[i + 3] = 0;
      continue;
    }
    for (int k = 0; k < 3; ++k) {
      const double unmixed = std::clamp((c[k] - bgc[k] * (1 - alpha)) / alpha, 0.0, 1.0);
      out.rgba[i + static_cast<std::size_t>(k)] =
          static_cast<std::uint8_t>(std::lround(alpha * unmixed * 255));
    }
    out.rgba[i + 3] = static_cast<std::uint8_t>(std::lround(alpha * 255));
  }
  return out;
}

bool isEffectivelyMonochrome(const Image& image) {
  if (image.isEmpty()) {
    return false;
  }
  const Image s = sample(image, 20);
  int visible = 0;
  int coloured = 0;
  for (int y = 0; y < s.pixelHeight; ++y) {
    for (int x = 0; x < s.pixelWidth; ++x) {
      const auto p = s.pixel(x, y);
      if (p.a <= 59) {
        continue;
      }
      ++visible;
      const auto c = unpremultiply(p);
      if (std::max({c.r, c.g, c.b}) > 0 && saturation(c) > 0.25) {
        ++coloured;
      }
    }
  }
  return visible > 0 && coloured < 0.15 * visible;
}

Image adaptingStructure(const Image& image, bool forDarkBackground) {
  if (image.isTemplate || image.isEmpty()) {
    return image;
  }
  int visible = 0;
  int neutral = 0;
  int wrongSide = 0;
  int rightSide = 0;
  for (int y = 0; y < image.pixelHeight; ++y) {
    for (int x = 0; x < image.pixelWidth; ++x) {
      const auto p = image.pixel(x, y);
      if (p.a < 60) {
        continue;
      }
      ++visible;
      const auto c = unpremultiply(p);
      if (saturation(c) > 0.25) {
        continue;
      }
      ++neutral;
      const double luminance = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
      const bool dark = luminance < 0.4;
      const bool light = luminance > 0.6;
      wrongSide += (forDarkBackground ? dark : light) ? 1 : 0;
      rightSide += (forDarkBackground ? light : dark) ? 1 : 0;
    }
  }
  const bool recolour = visible > 0 && neutral >= 0.15 * visible && rightSide < 0.10 * neutral &&
                        wrongSide >= 0.5 * neutral;
  if (!recolour) {
    return image;
  }
  Image out = image;
  out.isTemplate = false;
  for (std::size_t i = 0; i < out.rgba.size(); i += 4) {
    const Image::Pixel p{image.rgba[i], image.rgba[i + 1], image.rgba[i + 2], image.rgba[i + 3]};
    if (p.a < 1) {
      continue;
    }
    const auto c = unpremultiply(p);
    if (saturation(c) > 0.25) {
      continue;
    }
    const double luminance = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
    const bool wrong = forDarkBackground ? luminance <= 0.5 : luminance > 0.5;
    const double grey = wrong ? 1 - luminance : luminance;
    const std::uint8_t v = toByte(c.a * grey);
    out.rgba[i] = out.rgba[i + 1] = out.rgba[i + 2] = v;
  }
  return out;
}

}  // namespace lumarin::glyph
