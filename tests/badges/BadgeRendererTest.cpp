#include <gtest/gtest.h>

#include "badges/AppIcons.h"
#include "badges/BadgeRenderer.h"
#include "badges/DockBadgeMonitor.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimWorkspace.h"
#include "platform/sim/World.h"

namespace lumarin {
namespace {

// An opaque 18-point icon of one colour, 2 pixels per point.
Image solidIcon(bool isTemplate = false) {
  Image icon;
  icon.pixelWidth = 36;
  icon.pixelHeight = 36;
  icon.pointSize = Size{18, 18};
  icon.isTemplate = isTemplate;
  icon.rgba.assign(36 * 36 * 4, 0);
  for (std::size_t i = 0; i < icon.rgba.size(); i += 4) {
    icon.rgba[i] = 40;
    icon.rgba[i + 1] = 80;
    icon.rgba[i + 2] = 200;
    icon.rgba[i + 3] = 255;
  }
  return icon;
}

BadgeValue badge(const std::string& label) { return *DockBadgeMonitor::parseBadge(label); }

const RgbColor kRed = colorValue(BadgeColor::red);

// Pixel of a scale-1 rendering at a point given in the bottom-left convention.
Image::Pixel at(const Image& image, double x, double y) {
  const double s = image.scale();
  return image.pixel(static_cast<int>(x * s), static_cast<int>((image.pointSize.height - y) * s));
}

TEST(BadgeRendererTest, CanvasSizesAndDisplayText) {
  EXPECT_EQ(BadgeRenderer::canvasSize(badge("7"), BadgeStyle::circle), (Size{23.5, 22}));
  EXPECT_EQ(BadgeRenderer::displayText(badge("1234")), "999+");
  EXPECT_EQ(BadgeRenderer::displayText(badge("999")), "999");
  EXPECT_EQ(BadgeRenderer::displayText(badge("1000")), "999+");
  EXPECT_EQ(BadgeRenderer::displayText(badge("99+")), "99+");
  EXPECT_NEAR(BadgeRenderer::circleWidth("999+"), 26.6, 1e-9);
  EXPECT_NEAR(BadgeRenderer::canvasSize(badge("1234"), BadgeStyle::circle).width, 31.3, 1e-9);
  EXPECT_EQ(BadgeRenderer::canvasSize(badge("•"), BadgeStyle::circle), (Size{23.5, 22}));
  EXPECT_EQ(BadgeRenderer::canvasSize(badge("7"), BadgeStyle::dot), (Size{20, 20}));
  EXPECT_EQ(BadgeRenderer::canvasSize(badge("7"), BadgeStyle::text), (Size{20, 20}));
  EXPECT_EQ(BadgeRenderer::canvasSize(std::nullopt, BadgeStyle::circle), (Size{20, 20}));
  EXPECT_EQ(BadgeRenderer::badgeRect(badge("7"), BadgeStyle::circle), CocoaRect(12.5, 11, 11, 11));
  EXPECT_EQ(BadgeRenderer::badgeRect(badge("7"), BadgeStyle::dot), CocoaRect(13, 13, 7, 7));
}

TEST(BadgeRendererTest, DotIsDrawnAtTheTopRightWithATransparentRing) {
  const Image image =
      BadgeRenderer::image(solidIcon(), badge("7"), BadgeStyle::dot, kRed, false).rasterize(4);
  ASSERT_EQ(image.pixelWidth, 80);
  const auto centre = at(image, 16.5, 16.5);
  EXPECT_EQ(centre.a, 255);
  EXPECT_EQ(centre.r, 255);  // FF3B30
  EXPECT_EQ(centre.g, 0x3B);
  // The ring: between the dot (radius 3.5) and 1 point further out, inside the icon, nothing.
  EXPECT_EQ(at(image, 16.5 - 4.1, 16.5).a, 0);
  EXPECT_EQ(at(image, 16.5, 16.5 - 4.1).a, 0);
  // Further away the icon is untouched.
  EXPECT_EQ(at(image, 16.5 - 6, 16.5).a, 255);
  EXPECT_EQ(at(image, 5, 5), (Image::Pixel{40, 80, 200, 255}));
  EXPECT_FALSE(image.isTemplate);
}

TEST(BadgeRendererTest, CircleBadgeCarriesWhiteTextAndItsRing) {
  const Image image =
      BadgeRenderer::image(solidIcon(), badge("1234"), BadgeStyle::circle, kRed, false)
          .rasterize(4);
  const CocoaRect rect = BadgeRenderer::badgeRect(badge("1234"), BadgeStyle::circle);
  // Somewhere inside the badge there is white text on red.
  int white = 0;
  int red = 0;
  for (double x = rect.minX() + 1; x < rect.maxX() - 1; x += 0.25) {
    for (double y = rect.minY() + 1; y < rect.maxY() - 1; y += 0.25) {
      const auto p = at(image, x, y);
      white += p.r > 240 && p.g > 240 && p.b > 240 ? 1 : 0;
      red += p.r > 240 && p.g < 80 ? 1 : 0;
    }
  }
  EXPECT_GT(white, 20);
  EXPECT_GT(red, 200);
  // The ring below the badge's bottom edge, over the icon, is cleared.
  EXPECT_EQ(at(image, rect.midX(), rect.minY() - 0.5).a, 0);
  EXPECT_EQ(at(image, 4, 4).a, 255);
}

TEST(BadgeRendererTest, DimmedIdleAndTextStylesDrawOnlyTheIcon) {
  const Image dimmed =
      BadgeRenderer::image(solidIcon(), badge("3"), BadgeStyle::circle, kRed, true).rasterize(2);
  EXPECT_EQ(dimmed.pointSize, (Size{23.5, 22}));  // the canvas still fits the badge
  const auto p = at(dimmed, 9, 9);
  EXPECT_NEAR(p.a, 0.35 * 255, 1.5);
  EXPECT_EQ(at(dimmed, 21, 20).a, 0);  // no badge drawn

  const Image text =
      BadgeRenderer::image(solidIcon(true), badge("3"), BadgeStyle::text, kRed, false).rasterize(2);
  EXPECT_EQ(text.pointSize, (Size{20, 20}));
  EXPECT_TRUE(text.isTemplate);  // no badge drawn: a template icon stays one
  EXPECT_EQ(at(text, 19, 19).a, 0);
  EXPECT_EQ(BadgeRenderer::title(badge("1234"), kRed).text, "999+");
  EXPECT_EQ(BadgeRenderer::title(badge("3"), kRed).pointSize, 12);

  const auto withBadge =
      BadgeRenderer::image(solidIcon(true), badge("3"), BadgeStyle::dot, kRed, false);
  EXPECT_FALSE(withBadge.isTemplate);  // the badge keeps its colour
}

TEST(BadgeRendererTest, TintedReplacesEveryVisiblePixelKeepingAlpha) {
  Image icon = solidIcon();
  icon.rgba[3] = 0;  // one transparent pixel
  icon.rgba[0] = icon.rgba[1] = icon.rgba[2] = 0;
  const Image tinted = BadgeRenderer::tinted(icon, RgbColor{0, 1, 0, 1});
  EXPECT_EQ(tinted.pixel(0, 0).a, 0);
  EXPECT_EQ(tinted.pixel(5, 5), (Image::Pixel{0, 255, 0, 255}));
  EXPECT_EQ(tinted.pointSize, icon.pointSize);
}

TEST(AppIconsTest, InstalledAppsGetTheirIconAndMissingOnesADashedTemplate) {
  ManualScheduler scheduler;
  sim::World world;
  sim::InstalledBundle mail;
  mail.bundleID = "com.apple.mail";
  mail.name = "Mail";
  mail.path = "/System/Applications/Mail.app";
  world.installBundle(mail);
  sim::SimWorkspace workspace(world, scheduler);
  AppIcons icons(workspace);
  const Image icon = icons.icon("com.apple.mail", 18);
  EXPECT_EQ(icon.pointSize, (Size{18, 18}));
  EXPECT_FALSE(icon.isTemplate);
  EXPECT_EQ(icon.alpha(icon.pixelWidth / 2, icon.pixelHeight / 2), 255);
  const Image missing = icons.icon("com.example.notinstalled", 18);
  EXPECT_TRUE(missing.isTemplate);
  EXPECT_EQ(missing.pointSize, (Size{18, 18}));
  EXPECT_EQ(missing.alpha(missing.pixelWidth / 2, missing.pixelHeight / 2), 0);  // an outline
  int ink = 0;
  for (std::size_t i = 3; i < missing.rgba.size(); i += 4) {
    ink += missing.rgba[i] > 0 ? 1 : 0;
  }
  EXPECT_GT(ink, 100);
  // Looked up once: installing the app later does not change the cached answer.
  sim::InstalledBundle late;
  late.bundleID = "com.example.notinstalled";
  late.path = "/Applications/Late.app";
  world.installBundle(late);
  EXPECT_TRUE(icons.icon("com.example.notinstalled", 18).isTemplate);
  EXPECT_FALSE(icons.icon("com.example.notinstalled", 32).isTemplate);  // another size: new key
}

}  // namespace
}  // namespace lumarin
