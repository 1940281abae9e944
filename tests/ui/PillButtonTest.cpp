#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QSignalSpy>
#include <QTest>

#include "PillTestSupport.h"
#include "ui/PillButton.h"
#include "ui/PillTheme.h"
#include "ui/SettingsPillButton.h"

namespace lumarin {
namespace {

using test::colorNear;
using test::over;
using test::pixel;
using test::renderAlone;
using test::renderOnCard;

void hover(QWidget& widget) {
  QEnterEvent enter(QPointF(4, 4), widget.mapToGlobal(QPointF(4, 4)),
                    widget.mapToGlobal(QPointF(4, 4)));
  QApplication::sendEvent(&widget, &enter);
}

void unhover(QWidget& widget) {
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&widget, &leave);
}

// A point on the fill left of the title, clear of the corners and the border.
QPoint fillPoint(const QWidget& w) { return {4, w.height() / 2}; }

TEST(PillButtonTest, AsksForTwentyFourMoreThanThePlainButtonAndTwentyFourHigh) {
  for (const QString& title :
       {QStringLiteral("OK"), QStringLiteral("Show now"), QStringLiteral("Überprüfen Sie jetzt"),
        QStringLiteral("今すぐ表示")}) {
    PillButton button(title, true);
    EXPECT_EQ(button.sizeHint(), QSize(PillButton::plainButtonWidth(title) + 24, 24))
        << title.toStdString();
    // The plain button itself already holds the whole title.
    EXPECT_GE(PillButton::plainButtonWidth(title),
              QFontMetricsF(PillButton::titleFont()).horizontalAdvance(title));
    EXPECT_EQ(button.minimumSizeHint(), button.sizeHint());
  }
  EXPECT_EQ(PillButton::titleFont().pixelSize(), 11);
  EXPECT_EQ(PillButton::titleFont().weight(), QFont::DemiBold);
}

TEST(PillButtonTest, TitleChangesResizeInALayoutAndRenameForAccessibility) {
  QWidget row;
  auto* layout = new QHBoxLayout(&row);
  auto* button = new PillButton(QStringLiteral("Sign In…"), true);
  layout->addWidget(button);
  layout->addStretch();
  row.resize(400, 40);
  row.show();
  QApplication::processEvents();
  const int before = button->width();
  EXPECT_EQ(before, button->sizeHint().width());  // hugs its title, does not stretch
  EXPECT_EQ(button->accessibleName(), QStringLiteral("Sign In…"));

  button->setButtonTitle(QStringLiteral("Sign Out of this Mac"));
  QApplication::processEvents();
  EXPECT_EQ(button->titleText(), QStringLiteral("Sign Out of this Mac"));
  EXPECT_EQ(button->accessibleName(), QStringLiteral("Sign Out of this Mac"));
  EXPECT_GT(button->width(), before);
  EXPECT_EQ(button->width(), button->sizeHint().width());
}

TEST(PillButtonTest, TitleIsDrawnWholeInsideThePill) {
  // Filled: the title is white on the accent. Its white pixels must span the whole text and
  // stay inside the pill's side margins at the size the button asks for.
  const QString title = QStringLiteral("Jetzt prüfen und installieren");
  PillButton button(title, true);
  button.resize(button.sizeHint());
  const QImage image = renderOnCard(button, Appearance::light);
  int minX = image.width(), maxX = -1;
  for (int y = 6; y < 18; ++y) {  // clear of the corners, where the white card shows
    for (int x = 0; x < image.width(); ++x) {
      if (pixel(image, x, y).red() > 200) {
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
      }
    }
  }
  ASSERT_GT(maxX, minX);
  const double advance = QFontMetricsF(PillButton::titleFont()).horizontalAdvance(title);
  EXPECT_GE(maxX - minX + 1, advance - 3);  // not shortened with an ellipsis
  EXPECT_GE(minX, 12);
  EXPECT_LE(maxX, image.width() - 13);

  // Squeezed below its size the title ends in an ellipsis instead of running off the edge.
  button.resize(80, 24);
  const QImage narrow = renderOnCard(button, Appearance::light);
  for (int y = 6; y < 18; ++y) {
    for (int x : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, narrow.width() - 10, narrow.width() - 1}) {
      EXPECT_LT(pixel(narrow, x, y).red(), 200) << x << "," << y;
    }
  }
}

TEST(PillButtonTest, CornerRadiusIsEightAndTheBorderOnlyUnfilled) {
  PillButton filled(QStringLiteral("Allow"), true);
  filled.resize(filled.sizeHint());
  EXPECT_NEAR(test::estimatedCornerRadius(renderAlone(filled), 12), 8, 0.4);

  PillButton plain(QStringLiteral("Allow"), false);
  plain.resize(plain.sizeHint());
  for (Appearance a : {Appearance::light, Appearance::dark}) {
    const QColor card = Theme::surfaceCard().resolve(a);
    const QColor fill = over(PillTheme::field().resolve(a), card);
    const QImage p = renderOnCard(plain, a);
    EXPECT_TRUE(colorNear(pixel(p, 0, 12), over(PillTheme::fieldBorder().resolve(a), fill)));
    EXPECT_TRUE(colorNear(pixel(p, 2, 12), fill));
    const QImage f = renderOnCard(filled, a);
    EXPECT_TRUE(colorNear(pixel(f, 0, 12), Theme::accent().resolve(a)));  // no border
  }
}

TEST(PillButtonTest, FillFollowsHoverPressAndDisabledInBothAppearances) {
  for (bool filled : {true, false}) {
    for (Appearance a : {Appearance::light, Appearance::dark}) {
      SCOPED_TRACE(std::string(filled ? "filled " : "plain ") +
                   (a == Appearance::dark ? "dark" : "light"));
      PillButton button(QStringLiteral("Check now"), filled);
      button.resize(button.sizeHint());
      const QColor card = Theme::surfaceCard().resolve(a);
      const QColor base =
          filled ? Theme::accent().resolve(a) : over(PillTheme::field().resolve(a), card);
      EXPECT_TRUE(colorNear(pixel(renderOnCard(button, a), 4, 12), base));

      hover(button);
      EXPECT_TRUE(button.hovered());
      const QColor hovered = over(PillTheme::hoverOverlay().resolve(a), base);
      EXPECT_TRUE(colorNear(pixel(renderOnCard(button, a), 4, 12), hovered));

      QTest::mousePress(&button, Qt::LeftButton, {}, fillPoint(button));
      EXPECT_TRUE(button.isDown());
      const QColor pressed = over(PillTheme::pressedOverlay().resolve(a), base);
      EXPECT_TRUE(colorNear(pixel(renderOnCard(button, a), 4, 12), pressed));
      QTest::mouseRelease(&button, Qt::LeftButton, {}, fillPoint(button));
      unhover(button);
      EXPECT_FALSE(button.hovered());
      EXPECT_TRUE(colorNear(pixel(renderOnCard(button, a), 4, 12), base));

      // Disabled: faded as a whole, and hovering it changes nothing.
      button.setEnabled(false);
      hover(button);
      const QColor faded = filled ? over(Theme::accent().resolve(a), card, kDisabledOpacity)
                                  : over(PillTheme::field().resolve(a), card, kDisabledOpacity);
      EXPECT_TRUE(colorNear(pixel(renderOnCard(button, a), 4, 12), faded));
    }
  }
}

TEST(PillButtonTest, TitleColourIsWhiteWhenFilledAndTheLabelColourOtherwise) {
  auto darkestAndLightest = [](const QImage& image) {
    int darkest = 255, lightest = 0;
    for (int y = 6; y < 18; ++y) {
      for (int x = 15; x < image.width() - 15; ++x) {
        darkest = std::min(darkest, qGray(image.pixel(x, y)));
        lightest = std::max(lightest, qGray(image.pixel(x, y)));
      }
    }
    return std::pair{darkest, lightest};
  };
  PillButton plain(QStringLiteral("HHHH"), false);
  plain.resize(plain.sizeHint());
  // Light: dark text on a light field. Dark: light text on a dark field.
  EXPECT_LT(darkestAndLightest(renderOnCard(plain, Appearance::light)).first, 80);
  EXPECT_GT(darkestAndLightest(renderOnCard(plain, Appearance::dark)).second, 180);
  PillButton filled(QStringLiteral("HHHH"), true);
  filled.resize(filled.sizeHint());
  EXPECT_GT(darkestAndLightest(renderOnCard(filled, Appearance::light)).second, 240);
}

TEST(PillButtonTest, ClicksSpaceAndReturnActivateUnlessDisabled) {
  PillButton button(QStringLiteral("Allow"), true);
  button.resize(button.sizeHint());
  QSignalSpy clicked(&button, &QAbstractButton::clicked);

  QTest::mouseClick(&button, Qt::LeftButton, {}, fillPoint(button));
  EXPECT_EQ(clicked.count(), 1);
  // Pressed inside, released outside: no click, and the pressed look goes away.
  QTest::mousePress(&button, Qt::LeftButton, {}, fillPoint(button));
  QTest::mouseMove(&button, QPoint(button.width() + 20, 40));
  QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(button.width() + 20, 40));
  EXPECT_EQ(clicked.count(), 1);
  EXPECT_FALSE(button.isDown());

  QTest::keyClick(&button, Qt::Key_Space);
  EXPECT_EQ(clicked.count(), 2);
  QTest::keyClick(&button, Qt::Key_Return);
  EXPECT_EQ(clicked.count(), 3);
  QTest::keyClick(&button, Qt::Key_Enter);
  EXPECT_EQ(clicked.count(), 4);
  QTest::keyClick(&button, Qt::Key_A);
  EXPECT_EQ(clicked.count(), 4);

  button.setEnabled(false);
  QTest::mouseClick(&button, Qt::LeftButton, {}, fillPoint(button));
  QTest::keyClick(&button, Qt::Key_Space);
  QTest::keyClick(&button, Qt::Key_Return);
  EXPECT_EQ(clicked.count(), 4);
}

TEST(PillButtonTest, AnExplicitFrameOverridesTheOwnSize) {
  // The HUD section's "Show now" is 28 points high.
  int actions = 0;
  QWidget row;
  auto* layout = new QHBoxLayout(&row);
  auto* show = new SettingsPillButton(QStringLiteral("Show now"), false, [&] { ++actions; });
  show->setFixedHeight(28);
  layout->addWidget(show);
  layout->addStretch();
  row.resize(300, 50);
  row.show();
  QApplication::processEvents();
  PillButton* pill = show->button();
  EXPECT_EQ(pill->height(), 28);
  EXPECT_EQ(pill->width(), pill->sizeHint().width());
  EXPECT_EQ(show->sizeHint(), pill->sizeHint());
  EXPECT_EQ(pill->accessibleName(), QStringLiteral("Show now"));
  // Still an 8-point corner at 28 high, and the fill reaches the frame's bottom. The window
  // gave the only focusable control focus; its ring is not what is measured here.
  // Nor is the hover shade of the pointer that the offscreen desktop parks over the window.
  pill->clearFocus();
  unhover(*pill);
  const QImage image = renderOnCard(*pill, Appearance::light);
  const QColor fill = over(PillTheme::field().resolve(Appearance::light), QColor(Qt::white));
  EXPECT_TRUE(colorNear(pixel(image, 4, 24), fill));
  EXPECT_TRUE(colorNear(pixel(image, 0, 0), QColor(Qt::white)));

  QTest::mouseClick(pill, Qt::LeftButton, {}, QPoint(4, 14));
  EXPECT_EQ(actions, 1);
}

TEST(PillButtonTest, SwitchingAppearanceRecoloursTheSameWidget) {
  QWidget window;
  auto* button = new PillButton(QStringLiteral("Sign Out"), false, &window);
  button->resize(button->sizeHint());
  const PillButton* const same = button;
  setAppearance(&window, Appearance::light);
  QImage image(button->size(), QImage::Format_ARGB32_Premultiplied);
  auto renderTo = [&](Appearance a) {
    image.fill(Theme::surfaceCard().resolve(a));
    button->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return pixel(image, 4, 12);
  };
  const QColor lightFill =
      over(PillTheme::field().resolve(Appearance::light), QColor(255, 255, 255));
  EXPECT_TRUE(colorNear(renderTo(Appearance::light), lightFill));
  setAppearance(&window, Appearance::dark);
  EXPECT_EQ(button, same);
  EXPECT_TRUE(colorNear(renderTo(Appearance::dark),
                        over(PillTheme::field().resolve(Appearance::dark), QColor(42, 42, 45))));
  setAppearance(&window, Appearance::light);
  EXPECT_TRUE(colorNear(renderTo(Appearance::light), lightFill));
}

}  // namespace
}  // namespace lumarin
