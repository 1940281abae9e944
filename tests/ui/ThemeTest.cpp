#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>
#include <QWidget>
#include <memory>

#include "PillTestSupport.h"
#include "ui/Appearance.h"
#include "ui/PillTheme.h"
#include "ui/Theme.h"

namespace lumarin {
namespace {

using test::colorNear;

QColor rgba(int r, int g, int b, double alpha) {
  QColor c(r, g, b);
  c.setAlphaF(static_cast<float>(alpha));
  return c;
}

TEST(ThemeTest, KitColoursInBothAppearances) {
  struct Row {
    const char* name;
    DynamicColor color;
    QColor light;
    QColor dark;
  };
  const Row rows[] = {
      {"accent", Theme::accent(), QColor(10, 132, 255), QColor(10, 132, 255)},
      {"surfaceCard", Theme::surfaceCard(), QColor(255, 255, 255), QColor(42, 42, 45)},
      {"textPrimary", Theme::textPrimary(), rgba(0, 0, 0, 0.85), rgba(255, 255, 255, 0.92)},
      {"textSecondary", Theme::textSecondary(), rgba(0, 0, 0, 0.55), rgba(255, 255, 255, 0.60)},
      {"fillTint", Theme::fillTint(), rgba(0, 0, 0, 0.045), rgba(255, 255, 255, 0.07)},
      {"field", PillTheme::field(), rgba(0, 0, 0, 0.05), rgba(255, 255, 255, 0.06)},
      {"fieldBorder", PillTheme::fieldBorder(), rgba(0, 0, 0, 0.12), rgba(255, 255, 255, 0.12)},
      {"segOverlay", PillTheme::segOverlay(), rgba(0, 0, 0, 0.075), rgba(255, 255, 255, 0.052)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(colorNear(row.color.resolve(Appearance::light), row.light, 0));
    EXPECT_TRUE(colorNear(row.color.resolve(Appearance::dark), row.dark, 0));
    EXPECT_EQ(row.color.resolve(Appearance::light).alpha(), row.light.alpha());
  }
  const DynamicColor custom = Theme::dynamic(Qt::red, Qt::blue);
  EXPECT_EQ(custom.resolve(Appearance::light), QColor(Qt::red));
  EXPECT_EQ(custom.resolve(Appearance::dark), QColor(Qt::blue));
}

TEST(ThemeTest, PaletteDecidesTheDesktopAppearance) {
  QPalette light;
  light.setColor(QPalette::Window, QColor(239, 239, 239));
  light.setColor(QPalette::WindowText, Qt::black);
  EXPECT_EQ(appearanceFromPalette(light), Appearance::light);
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(30, 30, 30));
  dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
  EXPECT_EQ(appearanceFromPalette(dark), Appearance::dark);
  // This test run's own desktop is the offscreen platform's light palette.
  EXPECT_EQ(desktopAppearance(), appearanceFromPalette(QGuiApplication::palette()));
}

TEST(ThemeTest, AppearanceIsInheritedFromTheNearestAncestorThatSetsIt) {
  QWidget window;
  auto* pane = new QWidget(&window);
  auto* leaf = new QWidget(pane);
  const Appearance desktop = appearanceFromPalette(leaf->palette());
  EXPECT_EQ(effectiveAppearance(leaf), desktop);

  setAppearance(&window, Appearance::dark);
  EXPECT_EQ(effectiveAppearance(leaf), Appearance::dark);
  setAppearance(pane, Appearance::light);  // a light sheet inside a dark window
  EXPECT_EQ(effectiveAppearance(leaf), Appearance::light);
  EXPECT_EQ(effectiveAppearance(&window), Appearance::dark);
  clearAppearance(pane);
  EXPECT_EQ(effectiveAppearance(leaf), Appearance::dark);
  clearAppearance(&window);
  EXPECT_EQ(effectiveAppearance(leaf), desktop);

  // Without an explicit appearance a dark palette on the window is followed.
  QPalette dark = window.palette();
  dark.setColor(QPalette::Window, QColor(20, 20, 20));
  dark.setColor(QPalette::WindowText, QColor(240, 240, 240));
  window.setPalette(dark);
  EXPECT_EQ(effectiveAppearance(leaf), Appearance::dark);
}

class EventCounter : public QObject {
 public:
  int count = 0;
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == appearanceChangeEventType()) {
      ++count;
    }
    return false;
  }
};

TEST(ThemeTest, SettingTheAppearanceTellsEveryWidgetOfTheSubtreeOnlyOnce) {
  QWidget window;
  auto* pane = new QWidget(&window);
  auto* leaf = new QWidget(pane);
  QWidget outsider;
  EventCounter windowCount, leafCount, outsiderCount;
  window.installEventFilter(&windowCount);
  leaf->installEventFilter(&leafCount);
  outsider.installEventFilter(&outsiderCount);
  setAppearance(&window, Appearance::dark);
  EXPECT_EQ(windowCount.count, 1);
  EXPECT_EQ(leafCount.count, 1);
  EXPECT_EQ(outsiderCount.count, 0);
  setAppearance(pane, Appearance::light);
  EXPECT_EQ(windowCount.count, 1);
  EXPECT_EQ(leafCount.count, 2);
}

}  // namespace
}  // namespace lumarin
