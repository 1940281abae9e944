#include <gtest/gtest.h>

#include "base/Geometry.h"

namespace lumarin {
namespace {

TEST(GeometryTest, NegativeSizesAreStandardised) {
  const GlobalRect r(10, 20, -4, -6);
  EXPECT_EQ(r.minX(), 6);
  EXPECT_EQ(r.maxX(), 10);
  EXPECT_EQ(r.minY(), 14);
  EXPECT_EQ(r.maxY(), 20);
  EXPECT_EQ(r.midX(), 8);
  EXPECT_EQ(r.width(), 4);
  EXPECT_EQ(r, GlobalRect(6, 14, 4, 6));
}

TEST(GeometryTest, IntersectionFollowsCoreGraphics) {
  const GlobalRect a(0, 0, 10, 10);
  EXPECT_EQ(a.intersection(GlobalRect(5, 5, 10, 10)), GlobalRect(5, 5, 5, 5));
  // Disjoint: null, and null never equals the zero rectangle.
  const GlobalRect disjoint = a.intersection(GlobalRect(20, 0, 5, 5));
  EXPECT_TRUE(disjoint.isNull());
  EXPECT_NE(disjoint, GlobalRect::zero());
  // Touching edges: a zero-width rectangle, which does not count as intersecting.
  const GlobalRect touching = a.intersection(GlobalRect(10, 0, 5, 5));
  EXPECT_FALSE(touching.isNull());
  EXPECT_EQ(touching.width(), 0);
  EXPECT_FALSE(a.intersects(GlobalRect(10, 0, 5, 5)));
  EXPECT_TRUE(a.intersects(GlobalRect(9.5, 0, 5, 5)));
  EXPECT_TRUE(GlobalRect::null().united(a) == a);
}

TEST(GeometryTest, ContainmentIsHalfOpenForPointsAndClosedForRects) {
  const GlobalRect a(0, 0, 10, 10);
  EXPECT_TRUE(a.contains(GlobalPoint{0, 0}));
  EXPECT_FALSE(a.contains(GlobalPoint{10, 5}));
  EXPECT_FALSE(a.contains(GlobalPoint{5, 10}));
  EXPECT_TRUE(a.contains(a));
  EXPECT_FALSE(a.contains(GlobalRect(1, 1, 10, 1)));
  EXPECT_FALSE(GlobalRect::null().contains(GlobalPoint{0, 0}));
  EXPECT_TRUE(a.insetBy(6, 0).isNull());
}

TEST(GeometryTest, ConventionsConvertThroughTheFirstScreensMaxY) {
  // A 1512 x 982 screen: the top-left menu bar strip is at the top of the Cocoa frame.
  const double maxY = 982;
  const GlobalRect menuBarItem(1300, 0, 30, 37);
  const CocoaRect cocoa = toCocoa(menuBarItem, maxY);
  EXPECT_EQ(cocoa, CocoaRect(1300, 945, 30, 37));
  EXPECT_EQ(toGlobal(cocoa, maxY), menuBarItem);
  const CocoaPoint p = toCocoa(GlobalPoint{5, 100}, maxY);
  EXPECT_EQ(p.y, 882);
  EXPECT_TRUE(toCocoa(GlobalRect::null(), maxY).isNull());
}

}  // namespace
}  // namespace lumarin
