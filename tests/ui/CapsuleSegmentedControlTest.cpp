#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QTest>
#include <vector>

#include "PillTestSupport.h"
#include "ui/CapsuleSegmentedControl.h"
#include "ui/PillTheme.h"
#include "ui/SettingsSegmented.h"
#include "ui/SystemSymbols.h"

namespace lumarin {
namespace {

using test::colorNear;
using test::over;
using test::pixel;
using test::renderOnCard;

// An opaque square template of `side` points at 2 pixels per point.
QImage square(double side) {
  QImage image(static_cast<int>(side * 2), static_cast<int>(side * 2),
               QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(2);
  image.fill(Qt::black);
  return image;
}

std::vector<QImage> squares(int count, double side = 8) {
  return std::vector<QImage>(static_cast<size_t>(count), square(side));
}

struct Recorder {
  std::vector<int> calls;
  std::function<void(int)> callback() {
    return [this](int index) { calls.push_back(index); };
  }
};

TEST(CapsuleSegmentedControlTest, MouseDownPicksTheSegmentUnderItAndClamps) {
  CapsuleSegmentedControl control(squares(3), {}, 90, 24);
  Recorder recorder;
  control.setOnSelect(recorder.callback());
  EXPECT_EQ(control.size(), QSize(90, 24));
  EXPECT_EQ(control.segmentAt(59), 1);
  EXPECT_EQ(control.segmentAt(60), 2);
  EXPECT_EQ(control.segmentAt(95), 2);
  EXPECT_EQ(control.segmentAt(-3), 0);

  QTest::mousePress(&control, Qt::LeftButton, {}, QPoint(59, 12));
  EXPECT_EQ(control.selectedIndex(), 1);  // on the press, before any release
  QTest::mouseRelease(&control, Qt::LeftButton, {}, QPoint(59, 12));
  QTest::mousePress(&control, Qt::LeftButton, {}, QPoint(95, 12));
  EXPECT_EQ(control.selectedIndex(), 2);
  QTest::mouseRelease(&control, Qt::LeftButton, {}, QPoint(95, 12));
  // The selected segment again: nothing is called.
  QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(70, 12));
  EXPECT_EQ(recorder.calls, (std::vector<int>{1, 2}));
  // Other buttons do not select.
  QTest::mouseClick(&control, Qt::RightButton, {}, QPoint(5, 12));
  EXPECT_EQ(control.selectedIndex(), 2);
}

TEST(CapsuleSegmentedControlTest, ProgrammaticSelectionClampsAndDoesNotReport) {
  CapsuleSegmentedControl control(squares(4), {}, 120, 24);
  Recorder recorder;
  control.setOnSelect(recorder.callback());
  control.setSelectedIndex(9);
  EXPECT_EQ(control.selectedIndex(), 3);
  control.setSelectedIndex(-1);
  EXPECT_EQ(control.selectedIndex(), 0);
  EXPECT_TRUE(recorder.calls.empty());

  CapsuleSegmentedControl empty({}, {}, 60, 20);
  EXPECT_EQ(empty.segmentCount(), 1);
  QTest::mouseClick(&empty, Qt::LeftButton, {}, QPoint(50, 10));
  EXPECT_EQ(empty.selectedIndex(), 0);
}

// Column x of a separator at the vertical middle, and just above the separator's top.
struct SeparatorProbe {
  QColor middle;
  QColor above;
};

SeparatorProbe probe(const QImage& image, int x) {
  return {pixel(image, x, 12), pixel(image, x, 4)};
}

TEST(CapsuleSegmentedControlTest, SeparatorsSkipTheSelectedSegmentsEdges) {
  // Four segments of 30 points, 24 high: separators are 14 high from y = 5, at the columns
  // round(30 i − 0.5) = 30, 60, 90. Icons sit in the segment middles, clear of them.
  for (Appearance a : {Appearance::light, Appearance::dark}) {
    SCOPED_TRACE(a == Appearance::dark ? "dark" : "light");
    const QColor card = Theme::surfaceCard().resolve(a);
    const QColor shade = over(PillTheme::segOverlay().resolve(a), card);
    CapsuleSegmentedControl control(squares(4), {}, 120, 24);
    control.setSelectedIndex(1);
    QImage image = renderOnCard(control, a);
    EXPECT_TRUE(colorNear(probe(image, 60).middle, card));   // right edge of the selection
    EXPECT_TRUE(colorNear(probe(image, 90).middle, shade));  // the only separator
    EXPECT_TRUE(colorNear(probe(image, 90).above, card));
    EXPECT_TRUE(colorNear(pixel(image, 90, 5), shade));
    EXPECT_TRUE(colorNear(pixel(image, 90, 18), shade));
    EXPECT_TRUE(colorNear(pixel(image, 90, 19), card));
    EXPECT_TRUE(colorNear(pixel(image, 89, 12), card));  // one point wide
    EXPECT_TRUE(colorNear(pixel(image, 91, 12), card));
    // The selected segment is shaded from top to bottom between the outline.
    EXPECT_TRUE(colorNear(pixel(image, 33, 2), shade));
    EXPECT_TRUE(colorNear(pixel(image, 56, 21), shade));
    EXPECT_TRUE(colorNear(pixel(image, 63, 2), card));

    control.setSelectedIndex(0);
    image = renderOnCard(control, a);
    EXPECT_TRUE(colorNear(probe(image, 30).middle, card));
    EXPECT_TRUE(colorNear(probe(image, 60).middle, shade));
    EXPECT_TRUE(colorNear(probe(image, 90).middle, shade));

    control.setSelectedIndex(3);  // the last segment starts at column 90
    image = renderOnCard(control, a);
    EXPECT_TRUE(colorNear(probe(image, 30).middle, shade));
    EXPECT_TRUE(colorNear(probe(image, 60).middle, shade));
    EXPECT_TRUE(colorNear(probe(image, 89).middle, card));
    EXPECT_TRUE(colorNear(probe(image, 90).above, shade));
  }
}

TEST(CapsuleSegmentedControlTest, OutlineAndClipFollowTheCornerRadius) {
  const Appearance a = Appearance::light;
  const QColor card = Theme::surfaceCard().resolve(a);
  const QColor shade = over(PillTheme::segOverlay().resolve(a), card);
  // The 1-point outline runs along the top edge.
  CapsuleSegmentedControl capsule(squares(2), {}, 100, 24);
  capsule.setSelectedIndex(1);
  QImage image = renderOnCard(capsule, a);
  EXPECT_TRUE(colorNear(pixel(image, 25, 0), shade));
  EXPECT_TRUE(colorNear(pixel(image, 25, 23), shade));
  EXPECT_TRUE(colorNear(pixel(image, 25, 1), card));
  EXPECT_EQ(CapsuleSegmentedControl::outerRadius(QSizeF(100, 24), std::nullopt), 12);

  // Selection of the first segment: a capsule's clip keeps the fill out of the corner, a
  // 4-point radius lets it reach (2, 2).
  capsule.setSelectedIndex(0);
  image = renderOnCard(capsule, a);
  EXPECT_TRUE(colorNear(pixel(image, 2, 2), card));
  CapsuleSegmentedControl square4(squares(2), {}, 100, 24, 4);
  image = renderOnCard(square4, a);
  EXPECT_TRUE(colorNear(pixel(image, 2, 2), shade));
  EXPECT_EQ(CapsuleSegmentedControl::outerRadius(QSizeF(100, 24), 4), 4);
  // A radius beyond half the height is a capsule.
  EXPECT_EQ(CapsuleSegmentedControl::outerRadius(QSizeF(100, 24), 40), 12);
  CapsuleSegmentedControl big(squares(2), {}, 100, 24, 40);
  image = renderOnCard(big, a);
  EXPECT_TRUE(colorNear(pixel(image, 2, 2), card));
}

TEST(CapsuleSegmentedControlTest, IconsAreCentredAndTintedBySelection) {
  std::vector<QImage> images = {square(8), square(12), square(6)};
  CapsuleSegmentedControl control(images, {}, 90, 30);
  EXPECT_EQ(control.iconRect(0), QRectF(11, 11, 8, 8));
  EXPECT_EQ(control.iconRect(1), QRectF(39, 9, 12, 12));
  EXPECT_EQ(control.iconRect(2).center(), QPointF(75, 15));
  EXPECT_EQ(control.iconRect(3), QRectF());

  for (Appearance a : {Appearance::light, Appearance::dark}) {
    setAppearance(&control, a);
    const QColor card = Theme::surfaceCard().resolve(a);
    const QColor shade = over(PillTheme::segOverlay().resolve(a), card);
    control.setSelectedIndex(1);
    EXPECT_EQ(control.iconTint(1), Theme::label().resolve(a));
    EXPECT_EQ(control.iconTint(0), Theme::secondaryLabel().resolve(a));
    QImage image = renderOnCard(control, a);
    EXPECT_TRUE(colorNear(pixel(image, 45, 15), over(Theme::label().resolve(a), shade)));
    EXPECT_TRUE(colorNear(pixel(image, 15, 15), over(Theme::secondaryLabel().resolve(a), card)));
    // A click moves the label colour to the picked icon.
    QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(10, 15));
    image = renderOnCard(control, a);
    EXPECT_TRUE(colorNear(pixel(image, 15, 15), over(Theme::label().resolve(a), shade)));
    EXPECT_TRUE(colorNear(pixel(image, 45, 15), over(Theme::secondaryLabel().resolve(a), card)));
  }
}

TEST(CapsuleSegmentedControlTest, ArrowKeysHomeAndEndMoveTheSelection) {
  CapsuleSegmentedControl control(squares(3), {}, 90, 24);
  Recorder recorder;
  control.setOnSelect(recorder.callback());
  QTest::keyClick(&control, Qt::Key_Right);
  QTest::keyClick(&control, Qt::Key_Right);
  QTest::keyClick(&control, Qt::Key_Right);  // already last: stays, nothing called
  QTest::keyClick(&control, Qt::Key_Left);
  QTest::keyClick(&control, Qt::Key_Home);
  QTest::keyClick(&control, Qt::Key_Left);
  QTest::keyClick(&control, Qt::Key_End);
  EXPECT_EQ(recorder.calls, (std::vector<int>{1, 2, 1, 0, 2}));

  control.setEnabled(false);
  QTest::keyClick(&control, Qt::Key_Left);
  QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(5, 12));
  EXPECT_EQ(control.selectedIndex(), 2);
  EXPECT_EQ(recorder.calls.size(), 5u);
}

TEST(CapsuleSegmentedControlTest, HoverShadesTheSegmentUnderThePointerOnly) {
  const Appearance a = Appearance::dark;
  const QColor card = Theme::surfaceCard().resolve(a);
  CapsuleSegmentedControl control(squares(3), {}, 90, 24);
  control.show();
  QTest::mouseMove(&control, QPoint(75, 12));
  EXPECT_EQ(control.hoveredSegment(), 2);
  QImage image = renderOnCard(control, a);
  EXPECT_TRUE(colorNear(pixel(image, 64, 12), over(PillTheme::hoverOverlay().resolve(a), card)));
  EXPECT_TRUE(colorNear(pixel(image, 34, 12), card));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&control, &leave);
  EXPECT_EQ(control.hoveredSegment(), -1);
  image = renderOnCard(control, a);
  EXPECT_TRUE(colorNear(pixel(image, 64, 12), card));

  // Disabled: faded outline, no hover shade.
  control.setEnabled(false);
  QTest::mouseMove(&control, QPoint(75, 12));
  image = renderOnCard(control, a);
  EXPECT_TRUE(colorNear(pixel(image, 64, 12), card));
  EXPECT_TRUE(colorNear(pixel(image, 45, 0),
                        over(PillTheme::segOverlay().resolve(a), card, kDisabledOpacity)));
}

TEST(CapsuleSegmentedControlTest, TooltipsAndAccessibleTextsPerSegment) {
  CapsuleSegmentedControl control(squares(3), {QStringLiteral("Text"), QStringLiteral("Circle")},
                                  90, 24);
  EXPECT_EQ(control.toolTipAt(QPointF(10, 12)), QStringLiteral("Text"));
  EXPECT_EQ(control.toolTipAt(QPointF(45, 12)), QStringLiteral("Circle"));
  EXPECT_EQ(control.toolTipAt(QPointF(80, 12)), QString());  // no tooltip for the third
  EXPECT_EQ(control.toolTipAt(QPointF(95, 12)), QString());  // outside
  EXPECT_EQ(control.accessibleName(), QStringLiteral("Text, Circle"));
  EXPECT_EQ(control.accessibleDescription(), QStringLiteral("Text"));
  QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(45, 12));
  EXPECT_EQ(control.accessibleDescription(), QStringLiteral("Circle"));
}

TEST(CapsuleSegmentedControlTest, SettingsSegmentedBindsASelectionOverNamedSymbols) {
  const std::vector<QString> symbols = {QStringLiteral("textformat.123"),
                                        QStringLiteral("circle.fill"),
                                        QStringLiteral("no.such.symbol")};
  std::vector<int> changes;
  SettingsSegmented segmented(
      symbols, {QStringLiteral("Text"), QStringLiteral("Circle"), QStringLiteral("Dot")}, 2, 132,
      26);
  segmented.setOnSelectionChanged([&](int index) { changes.push_back(index); });
  EXPECT_EQ(segmented.size(), QSize(132, 26));
  EXPECT_EQ(segmented.selection(), 2);
  EXPECT_EQ(segmented.control()->segmentCount(), 3);
  // Every symbol, known or not, yields a visible icon of the symbol size.
  for (int i = 0; i < 3; ++i) {
    EXPECT_GT(segmented.control()->iconRect(i).width(), 6) << i;
    EXPECT_LE(segmented.control()->iconRect(i).height(), 26) << i;
  }
  segmented.setSelection(0);  // from the owner: not reported back
  EXPECT_TRUE(changes.empty());
  QTest::mouseClick(segmented.control(), Qt::LeftButton, {}, QPoint(50, 13));
  EXPECT_EQ(segmented.selection(), 1);
  EXPECT_EQ(changes, (std::vector<int>{1}));
}

TEST(CapsuleSegmentedControlTest, SymbolsAreTemplatesWithInk) {
  for (const QString& name :
       {QStringLiteral("chevron.down"), QStringLiteral("circle"), QStringLiteral("circle.fill"),
        QStringLiteral("smallcircle.filled.circle"), QStringLiteral("textformat"),
        QStringLiteral("app.badge"), QStringLiteral("unknown.thing")}) {
    const QImage image = systemSymbol(name, 13, QFont::Medium);
    ASSERT_FALSE(image.isNull()) << name.toStdString();
    EXPECT_EQ(image.devicePixelRatio(), 2);
    int ink = 0;
    bool onlyBlack = true;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QRgb p = image.pixel(x, y);
        ink += qAlpha(p) > 128 ? 1 : 0;
        onlyBlack = onlyBlack && qRed(p) == 0 && qGreen(p) == 0 && qBlue(p) == 0;
      }
    }
    EXPECT_GT(ink, 10) << name.toStdString();
    EXPECT_TRUE(onlyBlack) << name.toStdString();
  }
  EXPECT_TRUE(isDrawnSymbol(QStringLiteral("chevron.down")));
  EXPECT_FALSE(isDrawnSymbol(QStringLiteral("unknown.thing")));
}

}  // namespace
}  // namespace lumarin
