#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "ui/AppIconView.h"

namespace lumarin {
namespace {

TEST(AppIconViewTest, ArtworkSquareIsLargerAndCentred) {
  const QRectF r = AppIconView::artworkRect(103);
  EXPECT_DOUBLE_EQ(r.width(), 128);
  EXPECT_DOUBLE_EQ(r.height(), 128);
  EXPECT_DOUBLE_EQ(r.center().x(), 51.5);
  EXPECT_DOUBLE_EQ(r.left(), -12.5);  // reaches past the view: the icon's own margin
  EXPECT_NEAR(AppIconView::artworkRect(64).width() / 64, 1.2427, 1e-4);
}

TEST(AppIconViewTest, VisibleArtworkFillsAboutTheRequestedSize) {
  // Draw the artwork square as the view does onto a canvas with room around it, then measure
  // the opaque part: the icon grid's body (824 of 1024) of a 128/103 square is about `size`.
  const double size = 103;
  QImage canvas(200, 200, QImage::Format_RGBA8888_Premultiplied);
  canvas.fill(Qt::transparent);
  {
    QPainter p(&canvas);
    p.translate(50, 50);
    drawOwnIcon(p, AppIconView::artworkRect(size));
  }
  int minX = 200;
  int maxX = -1;
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 200; ++x) {
      if (qAlpha(canvas.pixel(x, y)) > 128) {
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
      }
    }
  }
  ASSERT_GT(maxX, minX);
  EXPECT_NEAR(maxX - minX + 1, size, 2);
  AppIconView view(64);
  EXPECT_EQ(view.sizeHint(), QSize(64, 64));
}

}  // namespace
}  // namespace lumarin
