#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <set>
#include <string>

#include "support/TempDir.h"
#include "ui/PillGallery.h"
#include "ui/Theme.h"

namespace lumarin {
namespace {

TEST(PillGalleryTest, WritesBothAppearancesWithLocalisedTexts) {
  test::TempDir dir;
  std::set<std::string> keys;
  const auto lookup = [&](std::string_view key) {
    keys.emplace(key);
    return QStringLiteral("Jetzt anzeigen");
  };
  const QString path = QString::fromStdString((dir / "pills.png").string());
  ASSERT_TRUE(writePillGallery(path, lookup, 2));
  EXPECT_GT(std::filesystem::file_size(dir / "pills.png"), 1000u);
  EXPECT_TRUE(keys.count("hud.showNow"));
  EXPECT_TRUE(keys.count("menu.addApp"));

  QImage image(path);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.width() % 2, 0);
  // Light card on the left, dark card on the right; both columns hold drawn controls.
  EXPECT_EQ(QColor(image.pixel(2, 2)), Theme::surfaceCard().light());
  EXPECT_EQ(QColor(image.pixel(image.width() - 3, 2)), Theme::surfaceCard().dark());
  auto distinctColours = [&](int from, int to) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2) {
      for (int x = from; x < to; x += 2) {
        colours.insert(image.pixel(x, y));
      }
    }
    return colours.size();
  };
  EXPECT_GT(distinctColours(0, image.width() / 2), 20u);
  EXPECT_GT(distinctColours(image.width() / 2, image.width()), 20u);

  EXPECT_FALSE(
      writePillGallery(QString::fromStdString((dir / "missing" / "x.png").string()), lookup));
}

}  // namespace
}  // namespace lumarin
