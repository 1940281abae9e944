#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QEnterEvent>
#include <QFontMetricsF>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include "PillTestSupport.h"
#include "ui/PillTheme.h"
#include "ui/PulldownPill.h"
#include "ui/SettingsDropdown.h"

namespace lumarin {
namespace {

using test::colorNear;
using test::over;
using test::pixel;
using test::renderAlone;
using test::renderOnCard;

TEST(PulldownPillTest, SizeFitsLabelAndChevronAndNarrowFramesTruncateTheTail) {
  const QString title = QStringLiteral("Nederlands (Nederland)");
  PulldownPill pill(title);
  const double label = QFontMetricsF(PulldownPill::labelFont()).horizontalAdvance(title);
  const QSize hint = pill.sizeHint();
  EXPECT_EQ(hint.height(), 28);
  EXPECT_GE(hint.width(),
            label + 10 + 6 + 9 + PulldownPill::chevronImage().deviceIndependentSize().width());
  EXPECT_EQ(PulldownPill::labelFont().pixelSize(), 12);
  EXPECT_EQ(PulldownPill::labelFont().weight(), QFont::Medium);

  const QRectF bounds(QPointF(0, 0), QSizeF(hint));
  const QRectF labelBox = PulldownPill::labelRect(bounds);
  const QRectF chevron = PulldownPill::chevronRect(bounds);
  EXPECT_EQ(PulldownPill::displayedLabel(title, labelBox.width()), title);
  EXPECT_NEAR(labelBox.center().y(), 14, 0.01);
  EXPECT_NEAR(chevron.center().y(), 14, 0.01);
  EXPECT_GE(chevron.left(), labelBox.right());  // the chevron comes after the label
  EXPECT_NEAR(chevron.right(), hint.width() - 9, 0.01);

  // A 150-point frame (the "Add App" field) keeps the chevron's size and cuts the label.
  const QRectF narrow(0, 0, 110, 28);
  EXPECT_EQ(PulldownPill::chevronRect(narrow).size(), chevron.size());
  const QString shown =
      PulldownPill::displayedLabel(title, PulldownPill::labelRect(narrow).width());
  EXPECT_TRUE(shown.endsWith(QStringLiteral("…"))) << shown.toStdString();
  EXPECT_TRUE(title.startsWith(shown.chopped(1)));
  EXPECT_LE(QFontMetricsF(PulldownPill::labelFont()).horizontalAdvance(shown),
            PulldownPill::labelRect(narrow).width() + 0.5);
  EXPECT_LT(pill.minimumSizeHint().width(), hint.width());
}

TEST(PulldownPillTest, FieldBorderAndRadiusInBothAppearances) {
  PulldownPill pill(QStringLiteral("English"));
  pill.resize(150, 28);
  for (Appearance a : {Appearance::light, Appearance::dark}) {
    SCOPED_TRACE(a == Appearance::dark ? "dark" : "light");
    const QColor card = Theme::surfaceCard().resolve(a);
    const QColor fill = over(PillTheme::field().resolve(a), card);
    const QImage image = renderOnCard(pill, a);
    EXPECT_TRUE(colorNear(pixel(image, 4, 14), fill));
    EXPECT_TRUE(colorNear(pixel(image, 0, 14), over(PillTheme::fieldBorder().resolve(a), fill)));
    EXPECT_TRUE(colorNear(pixel(image, 75, 0), over(PillTheme::fieldBorder().resolve(a), fill)));
    EXPECT_TRUE(colorNear(pixel(image, 0, 0), card));
    // The chevron is drawn in the tertiary label colour: its strongest pixel is that colour.
    const QRect chevron = PulldownPill::chevronRect(QRectF(pill.rect())).toAlignedRect();
    const QColor ink = over(Theme::tertiaryLabel().resolve(a), fill);
    int best = 1000;
    for (int y = chevron.top(); y <= chevron.bottom(); ++y) {
      for (int x = chevron.left(); x <= chevron.right(); ++x) {
        const QColor c = pixel(image, x, y);
        best = std::min(best, std::abs(c.red() - ink.red()) + std::abs(c.green() - ink.green()) +
                                  std::abs(c.blue() - ink.blue()));
      }
    }
    EXPECT_LE(best, 9);
  }
  // Top row: the 7-point corner leaves the first three pixels empty.
  const QImage alone = renderAlone(pill);
  EXPECT_EQ(qAlpha(alone.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(alone.pixel(2, 0)), 0);
  EXPECT_GT(qAlpha(alone.pixel(5, 0)), 0);
  EXPECT_GT(qAlpha(alone.pixel(0, 5)), 0);
}

TEST(PulldownPillTest, HoverAndPressShadeTheFieldUnlessDisabled) {
  const Appearance a = Appearance::light;
  const QColor fill = over(PillTheme::field().resolve(a), Theme::surfaceCard().resolve(a));
  PulldownPill pill(QStringLiteral("English"));
  pill.resize(150, 28);
  pill.show();
  QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
  QApplication::sendEvent(&pill, &enter);
  EXPECT_TRUE(colorNear(pixel(renderOnCard(pill, a), 4, 14),
                        over(PillTheme::hoverOverlay().resolve(a), fill)));
  QTest::mousePress(&pill, Qt::LeftButton, {}, QPoint(4, 14));
  EXPECT_TRUE(colorNear(pixel(renderOnCard(pill, a), 4, 14),
                        over(PillTheme::pressedOverlay().resolve(a), fill)));
  QTest::mouseRelease(&pill, Qt::LeftButton, {}, QPoint(4, 14));
  pill.setEnabled(false);
  EXPECT_TRUE(colorNear(pixel(renderOnCard(pill, a), 4, 14),
                        over(PillTheme::field().resolve(a), QColor(Qt::white), kDisabledOpacity)));
}

TEST(PulldownPillTest, TheWholePillIsTheHitTargetUnlessInvisible) {
  PulldownPill pill(QStringLiteral("English"));
  pill.resize(150, 28);
  pill.show();
  QSignalSpy clicked(&pill, &QAbstractButton::clicked);
  const QPoint onLabel = PulldownPill::labelRect(QRectF(pill.rect())).center().toPoint();
  const QPoint onChevron = PulldownPill::chevronRect(QRectF(pill.rect())).center().toPoint();
  QTest::mouseClick(&pill, Qt::LeftButton, {}, onLabel);
  QTest::mouseClick(&pill, Qt::LeftButton, {}, onChevron);
  QTest::mouseClick(&pill, Qt::LeftButton, {}, QPoint(1, 1));
  EXPECT_EQ(clicked.count(), 3);
  EXPECT_TRUE(pill.hitTest(QPointF(149.5, 27.5)));
  EXPECT_FALSE(pill.hitTest(QPointF(150.5, 10)));

  pill.setAlphaValue(0.009);
  EXPECT_FALSE(pill.hitTest(QPointF(20, 14)));
  QTest::mouseClick(&pill, Qt::LeftButton, {}, onLabel);
  EXPECT_EQ(clicked.count(), 3);
  pill.setAlphaValue(0.01);
  QTest::mouseClick(&pill, Qt::LeftButton, {}, onLabel);
  EXPECT_EQ(clicked.count(), 4);
  pill.setAlphaValue(1);
  pill.hide();
  EXPECT_FALSE(pill.hitTest(QPointF(20, 14)));
}

TEST(PulldownPillTest, KeysThatOpenAndDisabledSilence) {
  PulldownPill pill(QStringLiteral("English"));
  QSignalSpy clicked(&pill, &QAbstractButton::clicked);
  for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Down, Qt::Key_Up}) {
    QTest::keyClick(&pill, key);
  }
  QTest::keyClick(&pill, Qt::Key_Left);
  EXPECT_EQ(clicked.count(), 5);
  pill.setEnabled(false);
  QTest::keyClick(&pill, Qt::Key_Space);
  QTest::mouseClick(&pill, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(clicked.count(), 5);
}

std::vector<SettingsDropdown::Option> languages() {
  return {{QString(), QStringLiteral("System default")},
          {QStringLiteral("en"), QStringLiteral("English")},
          {QStringLiteral("de"), QStringLiteral("Deutsch")},
          {QStringLiteral("ja"), QStringLiteral("日本語")}};
}

struct OpenDropdown : ::testing::Test {
  void SetUp() override {
    dropdown.resize(dropdown.sizeHint());
    dropdown.setOnSelectionChanged([this](const QString& v) { picked.push_back(v); });
    dropdown.show();
  }
  void TearDown() override {
    if (QMenu* menu = dropdown.menu()) {
      menu->close();
    }
    QApplication::processEvents();
  }
  SettingsDropdown dropdown{languages(), QStringLiteral("en")};
  std::vector<QString> picked;
};

TEST_F(OpenDropdown, ShowsTheSelectedTitleAndPopsUpOneItemPerOption) {
  EXPECT_EQ(dropdown.pill()->title(), QStringLiteral("English"));
  EXPECT_EQ(dropdown.pill()->accessibleName(), QStringLiteral("English"));
  EXPECT_EQ(dropdown.menu(), nullptr);
  QTest::mouseClick(dropdown.pill(), Qt::LeftButton, {}, QPoint(10, 14));
  QMenu* menu = dropdown.menu();
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(menu->isVisible());
  const QList<QAction*> items = menu->actions();
  ASSERT_EQ(items.size(), 4);
  for (int i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i]->text(), languages()[static_cast<size_t>(i)].title);
    EXPECT_EQ(items[i]->data().toInt(), i);
    EXPECT_TRUE(items[i]->isEnabled());
  }
  // Below the pill, not over it.
  EXPECT_GE(menu->geometry().top(), dropdown.pill()->mapToGlobal(QPoint(0, 28)).y());

  // A click on "日本語" in the real menu picks it.
  QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(items[3]).center());
  QApplication::processEvents();
  EXPECT_EQ(dropdown.selection(), QStringLiteral("ja"));
  EXPECT_EQ(dropdown.pill()->title(), QStringLiteral("日本語"));
  EXPECT_EQ(picked, (std::vector<QString>{QStringLiteral("ja")}));
  EXPECT_EQ(dropdown.menu(), nullptr);  // closed and gone
}

TEST_F(OpenDropdown, KeyboardOpensAndPickingTheSameOptionReportsNothing) {
  QTest::keyClick(dropdown.pill(), Qt::Key_Space);
  ASSERT_NE(dropdown.menu(), nullptr);
  dropdown.menu()->actions()[1]->trigger();  // "English", already selected
  EXPECT_TRUE(picked.empty());
  QTest::keyClick(dropdown.pill(), Qt::Key_Return);
  ASSERT_NE(dropdown.menu(), nullptr);
  dropdown.menu()->actions()[0]->trigger();  // the empty value is an option like any other
  EXPECT_EQ(picked, (std::vector<QString>{QString()}));
  EXPECT_EQ(dropdown.pill()->title(), QStringLiteral("System default"));
}

TEST_F(OpenDropdown, OwnerUpdatesAreShownButNotReported) {
  const QSize before = dropdown.sizeHint();
  dropdown.setSelection(QStringLiteral("de"));
  EXPECT_EQ(dropdown.pill()->title(), QStringLiteral("Deutsch"));
  EXPECT_NE(dropdown.sizeHint(), before);
  dropdown.setSelection(QStringLiteral("xx"));  // not an option: an empty field
  EXPECT_EQ(dropdown.pill()->title(), QString());
  dropdown.setOptions({{QStringLiteral("xx"), QStringLiteral("Extra")}});
  EXPECT_EQ(dropdown.pill()->title(), QStringLiteral("Extra"));
  EXPECT_TRUE(picked.empty());
  // A disabled dropdown opens nothing.
  dropdown.setEnabled(false);
  QTest::mouseClick(dropdown.pill(), Qt::LeftButton, {}, QPoint(10, 14));
  EXPECT_EQ(dropdown.menu(), nullptr);
}

}  // namespace
}  // namespace lumarin
