#include "base/Geometry.h"

#include <cstdio>

namespace lumarin {

namespace {

std::string shortest(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.15g", v);
  return buffer;
}

}  // namespace

std::string describeRect(const CocoaRect& r) {
  return "{{" + shortest(r.minX()) + ", " + shortest(r.minY()) + "}, {" + shortest(r.width()) +
         ", " + shortest(r.height()) + "}}";
}

}  // namespace lumarin
