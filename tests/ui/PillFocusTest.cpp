#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QTest>

#include "PillTestSupport.h"
#include "ui/CapsuleSegmentedControl.h"
#include "ui/PillButton.h"
#include "ui/PillTheme.h"
#include "ui/PulldownPill.h"
#include "ui/SettingsDropdown.h"
#include "ui/SettingsPillButton.h"
#include "ui/SettingsSegmented.h"

namespace lumarin {
namespace {

using test::colorNear;
using test::over;
using test::pixel;

struct FocusWindow : ::testing::Test {
  void SetUp() override {
    auto* layout = new QHBoxLayout(&window);
    first = new SettingsPillButton(QStringLiteral("Allow"), true, {});
    dropdown =
        new SettingsDropdown({{QStringLiteral("a"), QStringLiteral("Alpha")}}, QStringLiteral("a"));
    disabled = new PillButton(QStringLiteral("Later"), false);
    disabled->setEnabled(false);
    segmented = new SettingsSegmented({QStringLiteral("circle"), QStringLiteral("circle.fill")}, {},
                                      0, 80, 24);
    last = new PillButton(QStringLiteral("Sign Out"), false);
    for (QWidget* w : {static_cast<QWidget*>(first), static_cast<QWidget*>(dropdown),
                       static_cast<QWidget*>(disabled), static_cast<QWidget*>(segmented),
                       static_cast<QWidget*>(last)}) {
      layout->addWidget(w);
    }
    window.show();
    window.activateWindow();
    // The offscreen platform activates at once, within the events already queued.
    QApplication::processEvents();
    ASSERT_TRUE(window.isActiveWindow());
  }
  void tab(Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(window.windowHandle(), Qt::Key_Tab, modifiers);
  }

  QWidget window;
  SettingsPillButton* first = nullptr;
  SettingsDropdown* dropdown = nullptr;
  PillButton* disabled = nullptr;
  SettingsSegmented* segmented = nullptr;
  PillButton* last = nullptr;
};

TEST_F(FocusWindow, TabVisitsTheEnabledControlsInOrder) {
  first->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(QApplication::focusWidget(), first->button());
  tab();
  EXPECT_EQ(QApplication::focusWidget(), dropdown->pill());
  tab();  // the disabled button is skipped
  EXPECT_EQ(QApplication::focusWidget(), segmented->control());
  tab();
  EXPECT_EQ(QApplication::focusWidget(), last);
  tab(Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), segmented->control());

  // The focused segmented control answers the arrow keys through the window.
  QTest::keyClick(window.windowHandle(), Qt::Key_Right);
  EXPECT_EQ(segmented->selection(), 1);
  // Space on a focused pull-down opens its menu.
  dropdown->setFocus(Qt::TabFocusReason);
  QTest::keyClick(window.windowHandle(), Qt::Key_Space);
  ASSERT_NE(dropdown->menu(), nullptr);
  dropdown->menu()->close();
  QApplication::processEvents();
}

TEST_F(FocusWindow, ClicksDoNotTakeFocusAndTheRingShowsOnlyWithFocus) {
  last->setFocus(Qt::TabFocusReason);
  QTest::mouseClick(first->button(), Qt::LeftButton, {}, QPoint(5, 12));
  EXPECT_EQ(QApplication::focusWidget(), last);  // like buttons on the Mac

  // The ring: the accent-tinted 2-point line inside the edge, at the middle of the left side.
  const Appearance a = Appearance::light;
  auto leftEdge = [&](QWidget& w) {
    QImage image(w.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Theme::surfaceCard().resolve(a));
    setAppearance(&w, a);
    w.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return pixel(image, 1, w.height() / 2);
  };
  const QColor ring = Theme::focusRing().resolve(a);
  EXPECT_GT(leftEdge(*last).blue() - leftEdge(*last).red(), 60);
  EXPECT_TRUE(colorNear(leftEdge(*last),
                        over(ring, over(PillTheme::field().resolve(a), QColor(Qt::white))), 6));
  first->setFocus(Qt::TabFocusReason);
  EXPECT_LT(std::abs(leftEdge(*last).blue() - leftEdge(*last).red()), 5);
  // On the accent fill the ring is white.
  EXPECT_GT(leftEdge(*first->button()).red(), 200);
}

}  // namespace
}  // namespace lumarin
