#include <gtest/gtest.h>

#include "menubar/GlyphImage.h"
#include "menubar/IconCache.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

// A transparent w × h image at 1 pixel per point.
Image blank(int w, int h) {
  Image image;
  image.pixelWidth = w;
  image.pixelHeight = h;
  image.pointSize = Size{static_cast<double>(w), static_cast<double>(h)};
  image.rgba.assign(static_cast<std::size_t>(w) * h * 4, 0);
  return image;
}

void put(Image& image, int x, int y, Image::Pixel p) {
  const std::size_t i = (static_cast<std::size_t>(y) * image.pixelWidth + x) * 4;
  image.rgba[i] = p.r;
  image.rgba[i + 1] = p.g;
  image.rgba[i + 2] = p.b;
  image.rgba[i + 3] = p.a;
}

void fill(Image& image, Image::Pixel p) {
  for (int y = 0; y < image.pixelHeight; ++y) {
    for (int x = 0; x < image.pixelWidth; ++x) {
      put(image, x, y, p);
    }
  }
}

const Image::Pixel kBlack{0, 0, 0, 255};

TEST(GlyphImageTest, EmptinessCountsVisiblePixelsOfTheSample) {
  Image tiny = blank(3, 3);
  put(tiny, 1, 1, kBlack);
  EXPECT_TRUE(glyph::isEffectivelyEmpty(tiny));
  put(tiny, 2, 2, kBlack);
  EXPECT_FALSE(glyph::isEffectivelyEmpty(tiny));

  Image sample = blank(24, 24);  // 576 / 50 = 11 pixels needed
  for (int i = 0; i < 10; ++i) {
    put(sample, i, 0, kBlack);
  }
  EXPECT_TRUE(glyph::isEffectivelyEmpty(sample));
  put(sample, 10, 0, kBlack);
  EXPECT_FALSE(glyph::isEffectivelyEmpty(sample));
  EXPECT_FALSE(glyph::isEffectivelyEmpty(Image{}));
}

TEST(GlyphImageTest, TrimmingGrowsTheBoxByOnePixelClipped) {
  Image corner = blank(10, 10);
  put(corner, 0, 0, kBlack);
  auto a = glyph::trimmedToOpaque(corner, 12);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->pixelWidth, 3);  // origin clipped to 0, size 1 + 2
  EXPECT_EQ(a->pixelHeight, 3);
  EXPECT_EQ(a->pixel(0, 0), kBlack);
  Image centre = blank(10, 10);
  put(centre, 5, 5, kBlack);
  auto b = glyph::trimmedToOpaque(centre, 12);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->pixelWidth, 3);
  EXPECT_EQ(b->pixelHeight, 3);
  EXPECT_EQ(b->pixel(1, 1), kBlack);  // the crop starts at (4, 4)
  EXPECT_FALSE(glyph::trimmedToOpaque(blank(5, 5), 12));
}

TEST(GlyphImageTest, TransparentBackgroundAndEdgeInk) {
  Image glyph = blank(16, 16);
  put(glyph, 3, 0, kBlack);
  put(glyph, 4, 0, kBlack);
  EXPECT_TRUE(glyph::hasTransparentBackground(glyph));
  Image bar = blank(16, 16);
  fill(bar, Image::Pixel{0xEC, 0xEC, 0xEE, 255});
  EXPECT_FALSE(glyph::hasTransparentBackground(bar));

  Image edge = blank(16, 16);
  for (int y = 0; y < 3; ++y) {
    put(edge, 0, y + 5, kBlack);
  }
  put(edge, 15, 7, kBlack);
  auto fractions = glyph::edgeInkFractions(edge);
  ASSERT_TRUE(fractions);
  EXPECT_DOUBLE_EQ(fractions->first, 3.0 / 16);   // 0.1875: rejected above 0.12
  EXPECT_DOUBLE_EQ(fractions->second, 1.0 / 16);  // 0.0625: passes
  // On an opaque background ink is a colour far from the bottom row's.
  put(bar, 0, 2, Image::Pixel{0x10, 0x10, 0x10, 255});
  EXPECT_DOUBLE_EQ(glyph::edgeInkFractions(bar)->first, 1.0 / 16);
  EXPECT_FALSE(glyph::edgeInkFractions(blank(2, 16)));
}

TEST(GlyphImageTest, KeyingRemovesTheBarColourAndUnmixesTheGlyph) {
  Image crop = blank(8, 8);
  fill(crop, Image::Pixel{0xEC, 0xEC, 0xEC, 255});
  put(crop, 4, 4, kBlack);
  put(crop, 3, 4, Image::Pixel{0x76, 0x76, 0x76, 255});  // half covered
  auto keyed = glyph::keyingOutBackground(crop);
  ASSERT_TRUE(keyed);
  EXPECT_EQ(keyed->pixel(0, 0).a, 0);
  EXPECT_EQ(keyed->pixel(4, 4), kBlack);
  // d = 0.462 of a range of 0.925: alpha (0.462 − 0.04) / (0.925 − 0.04) = 0.477.
  EXPECT_NEAR(keyed->pixel(3, 4).a, 122, 1);
  EXPECT_LE(keyed->pixel(3, 4).r, 2);  // un-mixed back to black
  Image grey = blank(8, 8);
  fill(grey, Image::Pixel{0x80, 0x80, 0x80, 255});
  // A mid-grey background leaves a range of about 0.5: still keyable; only a range of at
  // most 0.04 (impossible for 8-bit colours) would refuse.
  EXPECT_TRUE(glyph::keyingOutBackground(grey));
  EXPECT_FALSE(glyph::keyingOutBackground(blank(2, 2)));
}

TEST(GlyphImageTest, MonochromeAndAdaptingToTheBackground) {
  Image black = blank(10, 10);
  for (int i = 2; i < 8; ++i) {
    put(black, i, 5, kBlack);
    put(black, 5, i, kBlack);
  }
  EXPECT_TRUE(glyph::isEffectivelyMonochrome(black));
  const Image onDark = glyph::adaptingStructure(black, true);
  EXPECT_EQ(onDark.pixel(5, 5), (Image::Pixel{255, 255, 255, 255}));   // black turns white
  EXPECT_EQ(glyph::adaptingStructure(black, false).rgba, black.rgba);  // unchanged

  Image red = black;
  for (int i = 2; i < 8; ++i) {
    put(red, i, 5, Image::Pixel{255, 0, 0, 255});
    put(red, 5, i, Image::Pixel{255, 0, 0, 255});
  }
  EXPECT_FALSE(glyph::isEffectivelyMonochrome(red));
  EXPECT_EQ(glyph::adaptingStructure(red, true).rgba, red.rgba);  // never recoloured
  Image templateImage = black;
  templateImage.isTemplate = true;
  EXPECT_EQ(glyph::adaptingStructure(templateImage, true).rgba, black.rgba);
  EXPECT_FALSE(glyph::isEffectivelyMonochrome(blank(5, 5)));
}

TEST(IconCacheTest, KeysFilesAndTheReadingRules) {
  ExternalStatusItem wifi;
  wifi.pid = 301;
  wifi.index = 10003;
  wifi.windowTitle = "WiFi";
  EXPECT_EQ(IconCache::cacheKey(wifi), "id:WiFi#10003");
  wifi.windowTitle = "";
  EXPECT_EQ(IconCache::cacheKey(wifi), "pid301#10003");
  wifi.bundleID = "com.example/odd";
  EXPECT_EQ(IconCache::fileName(IconCache::cacheKey(wifi)), "com.example_odd#10003.png");

  test::TempDir dir;
  std::vector<std::string> debug;
  IconCache cache(dir.path(), [&](const std::string& line) { debug.push_back(line); });
  Image glyph = blank(32, 32);
  put(glyph, 16, 16, kBlack);
  glyph.pointSize = Size{16, 16};
  cache.write("a#0", glyph);
  auto back = cache.cachedImage("a#0");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pointSize, (Size{16, 16}));  // the point size survives the file
  EXPECT_EQ(back->pixelWidth, 32);

  // An old v4 file of 32 × 32 pixels standing for 32 × 32 points is read as 16 × 16 points.
  std::filesystem::create_directories(cache.directory(4));
  std::filesystem::copy_file(cache.directory(5) / "a#0.png", cache.directory(4) / "b#0.png");
  Image old = blank(32, 32);
  put(old, 16, 16, kBlack);
  IconCache(dir.path()).write("tmp#0", old);
  std::filesystem::rename(cache.directory(5) / "tmp#0.png", cache.directory(4) / "c#0.png");
  EXPECT_EQ(cache.cachedImage("c#0")->pointSize, (Size{16, 16}));

  // A cached glyph with ink on its left edge (0.2 of the rows) is dropped; v4 is tried next.
  Image suspicious = blank(10, 10);
  put(suspicious, 0, 4, kBlack);
  put(suspicious, 0, 5, kBlack);
  cache.write("s#0", suspicious);
  std::filesystem::copy_file(cache.directory(5) / "a#0.png", cache.directory(4) / "s#0.png");
  auto fallback = cache.cachedImage("s#0");
  ASSERT_TRUE(fallback);
  EXPECT_EQ(fallback->pixelWidth, 32);
  EXPECT_FALSE(std::filesystem::exists(cache.directory(5) / "s#0.png"));
  ASSERT_EQ(debug.size(), 1u);
  EXPECT_EQ(debug[0], "CACHE DROP suspicious glyph key=s#0 subdir=iconcache-v5 size=10x10");
  EXPECT_FALSE(cache.cachedImage("missing#0"));
}

}  // namespace
}  // namespace lumarin
