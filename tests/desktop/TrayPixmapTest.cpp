#include <gtest/gtest.h>

#include "platform/desktop/DBusMenuExporter.h"
#include "platform/desktop/TrayPixmap.h"

namespace lumarin {
namespace {

Image image(int w, int h, std::vector<std::uint8_t> rgba, bool isTemplate = false) {
  Image out;
  out.pixelWidth = w;
  out.pixelHeight = h;
  out.pointSize = Size{static_cast<double>(w), static_cast<double>(h)};
  out.isTemplate = isTemplate;
  out.rgba = std::move(rgba);
  return out;
}

TEST(TrayPixmapTest, OpaquePixelsBecomeArgbInNetworkOrder) {
  // Red, green / blue, white: the host reads each pixel as the bytes A, R, G, B.
  const auto out =
      trayPixmap(image(2, 2, {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255}),
                 std::nullopt);
  EXPECT_EQ(out.width, 2);
  EXPECT_EQ(out.height, 2);
  EXPECT_EQ(out.argb, (std::vector<std::uint8_t>{255, 255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255,
                                                 255, 255, 255, 255}));
}

TEST(TrayPixmapTest, TranslucentPixelsAreUnpremultipliedWithRounding) {
  // 50 % red stored premultiplied as (128, 0, 0, 128) is pure red at alpha 128; a quarter
  // alpha (64) with 32 is half intensity, 128 after rounding (32 * 255 / 64 = 127.5).
  const auto out =
      trayPixmap(image(3, 1, {128, 0, 0, 128, 32, 16, 0, 64, 10, 20, 30, 0}), std::nullopt);
  EXPECT_EQ(out.argb, (std::vector<std::uint8_t>{128, 255, 0, 0, 64, 128, 64, 0, 0, 0, 0, 0}));
}

TEST(TrayPixmapTest, ChannelsLargerThanAlphaSaturateInsteadOfWrapping) {
  // Not valid premultiplied data, but it must not come out as a dark pixel.
  const auto out = trayPixmap(image(1, 1, {200, 0, 0, 100}), std::nullopt);
  EXPECT_EQ(out.argb, (std::vector<std::uint8_t>{100, 255, 0, 0}));
}

TEST(TrayPixmapTest, TemplateImagesKeepTheirAlphaInTheInk) {
  const RgbColor ink{1, 0.5, 0, 1};
  const auto templ = image(2, 1, {0, 0, 0, 255, 10, 10, 10, 51}, true);
  const auto out = trayPixmap(templ, ink);
  EXPECT_EQ(out.argb, (std::vector<std::uint8_t>{255, 255, 128, 0, 51, 255, 128, 0}));
  // A translucent ink scales the mask; without an ink the template keeps its own colours.
  const auto half = trayPixmap(templ, RgbColor{1, 1, 1, 0.5});
  EXPECT_EQ(half.argb[0], 128);
  EXPECT_EQ(half.argb[4], 26);
  const auto plain = trayPixmap(templ, std::nullopt);
  EXPECT_EQ(plain.argb, (std::vector<std::uint8_t>{255, 0, 0, 0, 51, 50, 50, 50}));
  // A colour image is never recoloured.
  auto colour = templ;
  colour.isTemplate = false;
  EXPECT_EQ(trayPixmap(colour, ink), plain);
}

TEST(TrayPixmapTest, EmptyOrShortBuffersGiveNoPixmap) {
  EXPECT_TRUE(trayPixmap(image(0, 0, {}), std::nullopt).argb.empty());
  EXPECT_TRUE(trayPixmap(image(2, 2, {1, 2, 3, 4}), std::nullopt).argb.empty());
  EXPECT_EQ(trayPixmap(image(2, 2, {1, 2, 3, 4}), std::nullopt).width, 0);
  EXPECT_TRUE(trayPixmap(image(-1, 5, {}), std::nullopt).argb.empty());
}

TEST(TrayPixmapTest, LazyImagesAreGivenAtOneAndTwoTimesOnce) {
  LazyImage lazy;
  lazy.size = Size{3, 2};
  lazy.isTemplate = true;
  std::vector<double> asked;
  lazy.render = [&](double scale) {
    asked.push_back(scale);
    const int w = static_cast<int>(3 * scale);
    const int h = static_cast<int>(2 * scale);
    // The rasteriser forgets the template flag; the lazy image's own counts.
    return image(w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w * h * 4), 255));
  };
  const auto pixmaps = trayPixmaps(lazy, RgbColor{0, 0, 0, 1});
  EXPECT_EQ(asked, (std::vector<double>{1, 2}));
  ASSERT_EQ(pixmaps.size(), 2u);
  EXPECT_EQ(pixmaps[0].width, 3);
  EXPECT_EQ(pixmaps[1].width, 6);
  EXPECT_EQ(pixmaps[1].argb[1], 0);  // the ink's black, not the rendered white

  // A renderer that ignores the scale gives one size once; one that draws nothing, none.
  lazy.render = [&](double) { return image(4, 4, std::vector<std::uint8_t>(64, 9)); };
  EXPECT_EQ(trayPixmaps(lazy, RgbColor{}).size(), 1u);
  lazy.render = nullptr;
  EXPECT_TRUE(trayPixmaps(lazy, RgbColor{}).empty());
}

TEST(TrayPixmapTest, TemplateInkFollowsThePanelsLightness) {
  const RgbColor onDark = templateInk(true);
  const RgbColor onLight = templateInk(false);
  EXPECT_GT(onDark.red + onDark.green + onDark.blue, 2.5);
  EXPECT_LT(onLight.red + onLight.green + onLight.blue, 0.7);
}

TEST(DBusMenuLabelTest, UnderscoresAreDoubledSoTheyAreNoMnemonics) {
  EXPECT_EQ(DBusMenuExporter::escapeLabel("Open my_file.txt"), "Open my__file.txt");
  EXPECT_EQ(DBusMenuExporter::escapeLabel("__init__"), "____init____");
  EXPECT_EQ(DBusMenuExporter::escapeLabel("_"), "__");
  EXPECT_EQ(DBusMenuExporter::escapeLabel(""), "");
  // Multi-byte text passes through untouched.
  EXPECT_EQ(DBusMenuExporter::escapeLabel("Einstellungen … 設定_"), "Einstellungen … 設定__");
}

TEST(DBusMenuLabelTest, KeyEquivalentsBecomeDesktopShortcuts) {
  using V = std::vector<std::string>;
  EXPECT_EQ(DBusMenuExporter::shortcut(MenuItem::command("Quit", "terminate:", "q")),
            (V{"Control", "Q"}));
  // An upper-case key equivalent implies Shift, as on the Mac.
  EXPECT_EQ(DBusMenuExporter::shortcut(MenuItem::command("Redo", "redo:", "Z")),
            (V{"Control", "Shift", "Z"}));
  EXPECT_EQ(DBusMenuExporter::shortcut(MenuItem::command("Settings", "settings:", ",",
                                                         kModifierCommand | kModifierOption)),
            (V{"Control", "Alt", "comma"}));
  EXPECT_EQ(DBusMenuExporter::shortcut(
                MenuItem::command("Odd", "odd:", "k", kModifierControl | kModifierShift)),
            (V{"Shift", "Super", "K"}));
  EXPECT_TRUE(DBusMenuExporter::shortcut(MenuItem::command("None", "none:")).empty());
  EXPECT_TRUE(DBusMenuExporter::shortcut(MenuItem::separator()).empty());
}

}  // namespace
}  // namespace lumarin
