#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace lumarin {

// Points, sizes and rectangles with CoreGraphics semantics: a rectangle may be stored with a
// negative width or height and every accessor works on its standardised form; the null
// rectangle (the result of intersecting disjoint rectangles) has an infinite origin.
//
// Two coordinate conventions exist in the program and must never mix silently:
//  - `Global…` types: global points with the origin at the top-left of the first screen, y
//    growing downwards (accessibility, window lists, synthesised events);
//  - `Cocoa…` types: the window system's convention, origin at the bottom-left of the first
//    screen, y growing upwards (window and screen frames, the HUD layout bus).
// Both share one implementation tagged by the convention, so assigning one to the other does
// not compile; `toCocoa`/`toGlobal` convert with the first screen's maxY.

struct TopLeftOrigin {};
struct BottomLeftOrigin {};

template <typename Space>
struct BasicPoint {
  double x = 0;
  double y = 0;
  bool operator==(const BasicPoint&) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

template <typename Space>
struct BasicRect {
  BasicPoint<Space> origin;
  Size size;

  constexpr BasicRect() = default;
  constexpr BasicRect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}
  constexpr BasicRect(BasicPoint<Space> o, Size s) : origin(o), size(s) {}

  static constexpr BasicRect null() {
    constexpr double inf = std::numeric_limits<double>::infinity();
    return BasicRect(inf, inf, 0, 0);
  }
  static constexpr BasicRect zero() { return BasicRect(); }

  bool isNull() const { return std::isinf(origin.x) || std::isinf(origin.y); }
  // Empty: null, or zero width or height.
  bool isEmpty() const { return isNull() || size.width == 0 || size.height == 0; }

  BasicRect standardized() const {
    if (isNull()) {
      return *this;
    }
    BasicRect r = *this;
    if (r.size.width < 0) {
      r.origin.x += r.size.width;
      r.size.width = -r.size.width;
    }
    if (r.size.height < 0) {
      r.origin.y += r.size.height;
      r.size.height = -r.size.height;
    }
    return r;
  }

  double minX() const { return standardized().origin.x; }
  double minY() const { return standardized().origin.y; }
  double maxX() const { return minX() + width(); }
  double maxY() const { return minY() + height(); }
  double midX() const { return minX() + width() / 2; }
  double midY() const { return minY() + height() / 2; }
  double width() const { return std::abs(size.width); }
  double height() const { return std::abs(size.height); }

  // Half-open like CGRectContainsPoint: the min edges belong to the rectangle, the max edges
  // do not.
  bool contains(BasicPoint<Space> p) const {
    if (isNull()) {
      return false;
    }
    return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
  }

  // Like CGRectContainsRect: edges included, a rectangle contains itself.
  bool contains(const BasicRect& other) const {
    if (isNull() || other.isNull()) {
      return false;
    }
    return other.minX() >= minX() && other.maxX() <= maxX() && other.minY() >= minY() &&
           other.maxY() <= maxY();
  }

  // Like CGRectIntersection: null when the rectangles are disjoint; rectangles that only
  // touch along an edge give a rectangle of zero width or height.
  BasicRect intersection(const BasicRect& other) const {
    if (isNull() || other.isNull()) {
      return null();
    }
    const double x1 = std::max(minX(), other.minX());
    const double x2 = std::min(maxX(), other.maxX());
    const double y1 = std::max(minY(), other.minY());
    const double y2 = std::min(maxY(), other.maxY());
    if (x1 > x2 || y1 > y2) {
      return null();
    }
    return BasicRect(x1, y1, x2 - x1, y2 - y1);
  }

  // Like CGRectIntersectsRect: an overlap of positive area is required, so rectangles that
  // only touch do not intersect.
  bool intersects(const BasicRect& other) const {
    const BasicRect r = intersection(other);
    return !r.isNull() && r.width() > 0 && r.height() > 0;
  }

  // Like CGRectUnion: the null rectangle is the identity.
  BasicRect united(const BasicRect& other) const {
    if (isNull()) {
      return other.standardized();
    }
    if (other.isNull()) {
      return standardized();
    }
    const double x1 = std::min(minX(), other.minX());
    const double y1 = std::min(minY(), other.minY());
    const double x2 = std::max(maxX(), other.maxX());
    const double y2 = std::max(maxY(), other.maxY());
    return BasicRect(x1, y1, x2 - x1, y2 - y1);
  }

  // Like CGRectInset: positive values shrink; a result with negative size is null.
  BasicRect insetBy(double dx, double dy) const {
    if (isNull()) {
      return *this;
    }
    BasicRect r = standardized();
    r.origin.x += dx;
    r.origin.y += dy;
    r.size.width -= 2 * dx;
    r.size.height -= 2 * dy;
    if (r.size.width < 0 || r.size.height < 0) {
      return null();
    }
    return r;
  }

  BasicRect offsetBy(double dx, double dy) const {
    if (isNull()) {
      return *this;
    }
    BasicRect r = standardized();
    r.origin.x += dx;
    r.origin.y += dy;
    return r;
  }

  bool operator==(const BasicRect& other) const {
    if (isNull() || other.isNull()) {
      return isNull() == other.isNull();
    }
    const BasicRect a = standardized();
    const BasicRect b = other.standardized();
    return a.origin == b.origin && a.size == b.size;
  }
};

using GlobalPoint = BasicPoint<TopLeftOrigin>;
using GlobalRect = BasicRect<TopLeftOrigin>;
using CocoaPoint = BasicPoint<BottomLeftOrigin>;
using CocoaRect = BasicRect<BottomLeftOrigin>;

// Converts between the conventions. `firstScreenMaxY` is the maxY of the first screen's frame
// in the window system's convention (its height when the first screen sits at the origin).
inline CocoaPoint toCocoa(GlobalPoint p, double firstScreenMaxY) {
  return {p.x, firstScreenMaxY - p.y};
}
inline GlobalPoint toGlobal(CocoaPoint p, double firstScreenMaxY) {
  return {p.x, firstScreenMaxY - p.y};
}
inline CocoaRect toCocoa(const GlobalRect& r, double firstScreenMaxY) {
  if (r.isNull()) {
    return CocoaRect::null();
  }
  return CocoaRect(r.minX(), firstScreenMaxY - r.maxY(), r.width(), r.height());
}
inline GlobalRect toGlobal(const CocoaRect& r, double firstScreenMaxY) {
  if (r.isNull()) {
    return GlobalRect::null();
  }
  return GlobalRect(r.minX(), firstScreenMaxY - r.maxY(), r.width(), r.height());
}

// A rectangle as NSStringFromRect writes it: "{{x, y}, {w, h}}" with the shortest numbers.
std::string describeRect(const CocoaRect& r);

}  // namespace lumarin
