#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <cmath>

#include "OnboardingTestSupport.h"
#include "onboarding/OKLabel.h"
#include "onboarding/OnboardingSnapshots.h"

namespace lumarin::test {
namespace {

class OnboardingLayoutTest : public OnboardingFixture {};

// Every page in every language, light and dark: each label shows its whole text in the room
// the layout gave it, and each button is as wide as its title asks.
TEST_F(OnboardingLayoutTest, EveryTextFitsInEveryLanguage) {
  for (const AppLanguage language : kAllLanguages) {
    const std::string code(languageCode(language));
    l10n_.apply(code);
    for (const Appearance appearance : {Appearance::light, Appearance::dark}) {
      for (int page = 0; page < 4; ++page) {
        OKRootView::Options options;
        options.startIndex = page;
        options.pinned = true;
        options.maxContentHeight = 10000;
        OKRootView view(controller().makeSteps(), controller().strings(), scheduler_, options);
        setAppearance(&view, appearance);
        view.setAttribute(Qt::WA_DontShowOnScreen);
        view.show();
        view.resize(OKRootView::kWidth, view.fittingHeight());
        view.layout()->activate();
        QCoreApplication::processEvents();
        int labels = 0;
        for (OKLabel* label : view.findChildren<OKLabel*>()) {
          if (!label->isVisibleTo(&view)) {
            continue;
          }
          ++labels;
          EXPECT_TRUE(label->textFits())
              << code << " page " << page << ": \"" << label->text().toStdString() << "\" in "
              << label->width() << "x" << label->height();
          EXPECT_GE(label->geometry().right(), 0);
          EXPECT_LE(label->mapTo(&view, QPoint(label->width(), 0)).x(), OKRootView::kWidth)
              << code << " " << label->text().toStdString();
        }
        EXPECT_GE(labels, 2) << code << " page " << page;
        // The pills have no meta-object of their own: find them among the buttons.
        for (QAbstractButton* candidate : view.findChildren<QAbstractButton*>()) {
          auto* button = dynamic_cast<PillButton*>(candidate);
          if (button != nullptr && button->isVisibleTo(&view)) {
            EXPECT_GE(button->width(), button->sizeHint().width())
                << code << " page " << page << ": " << button->titleText().toStdString();
            EXPECT_LE(button->mapTo(&view, QPoint(button->width(), 0)).x(), OKRootView::kWidth)
                << code << " " << button->titleText().toStdString();
          }
        }
      }
    }
  }
}

// Lets the posted layout requests in: a page change re-lays the footer, then the card.
void settleLayouts() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::processEvents();
  }
}

// On a screen tall enough for every page, the window takes the height the pager asks for and
// no page needs its scroll bar: not in English, nor in German's longer words, nor in Japanese;
// neither when the window opens at a page nor after moving to it from its neighbour.
TEST_F(OnboardingLayoutTest, NoPageScrollsWhenTheScreenIsTallEnough) {
  for (const AppLanguage language : {AppLanguage::en, AppLanguage::de, AppLanguage::ja}) {
    const std::string code(languageCode(language));
    l10n_.apply(code);
    const int pages = static_cast<int>(controller().makeSteps().size());
    ASSERT_GE(pages, 4);
    for (int page = 0; page < pages; ++page) {
      // The window as the onboarding shows it: fixed width, the pager's fitting height, and
      // a new height whenever the pager reports one.
      QWidget window;
      window.setAttribute(Qt::WA_DontShowOnScreen);
      auto* layout = new QVBoxLayout(&window);
      layout->setContentsMargins(0, 0, 0, 0);
      OKRootView::Options options;
      options.startIndex = page;
      options.pinned = true;
      options.maxContentHeight = 10000;
      auto* view = new OKRootView(controller().makeSteps(), controller().strings(), scheduler_,
                                  options, &window);
      layout->addWidget(view);
      window.setFixedWidth(OKRootView::kWidth);
      window.setFixedHeight(view->fittingHeight());
      view->setOnHeight([&window](double height) {
        window.setFixedHeight(static_cast<int>(std::lround(height)));
      });
      window.show();
      settleLayouts();
      auto* scroll = view->findChild<QScrollArea*>();
      ASSERT_NE(scroll, nullptr);
      const auto expectNoScrolling = [&](const std::string& when) {
        EXPECT_LT(view->fittingHeight(), options.maxContentHeight) << code << " " << when;
        EXPECT_EQ(window.height(), view->fittingHeight()) << code << " " << when;
        EXPECT_EQ(scroll->verticalScrollBar()->maximum(), 0)
            << code << " " << when << ": window " << window.height() << ", content "
            << scroll->widget()->height() << " in " << scroll->viewport()->height();
        EXPECT_EQ(scroll->viewport()->width(), OKRootView::kWidth) << code << " " << when;
      };
      expectNoScrolling("page " + std::to_string(page));
      if (page + 1 < pages) {
        view->goTo(page + 1);
        settleLayouts();
        expectNoScrolling("page " + std::to_string(page + 1) + " after page " +
                          std::to_string(page));
        view->goTo(page);
        settleLayouts();
        expectNoScrolling("page " + std::to_string(page) + " back from page " +
                          std::to_string(page + 1));
      }
    }
  }
}

TEST_F(OnboardingLayoutTest, LabelThatIsCutDoesNotFit) {
  OKLabel single(QStringLiteral("A long line that cannot fit"), 13, QFont::Normal,
                 OKLabel::Role::primary, false);
  single.setFixedSize(40, 30);
  EXPECT_FALSE(single.textFits());
  OKLabel wrapped(QStringLiteral("Words that wrap onto many lines here"), 13, QFont::Normal,
                  OKLabel::Role::primary, true);
  wrapped.setFixedSize(80, 18);
  EXPECT_FALSE(wrapped.textFits());
  wrapped.setFixedSize(80, wrapped.heightForWidth(80));
  EXPECT_TRUE(wrapped.textFits());
  OKLabel word(QStringLiteral("Unbreakablewordthatiswide"), 13, QFont::Normal,
               OKLabel::Role::primary, true);
  word.setFixedSize(40, 200);
  EXPECT_FALSE(word.textFits());
}

TEST_F(OnboardingLayoutTest, SnapshotsWriteEveryPage) {
  const QString directory = QString::fromStdString((dir_ / "snapshots").string());
  const QStringList light = writeOnboardingSnapshots(controller(), directory, Appearance::light);
  const QStringList dark = writeOnboardingSnapshots(controller(), directory, Appearance::dark);
  ASSERT_EQ(light.size(), 4);
  ASSERT_EQ(dark.size(), 4);
  const QImage lightImage(light[0]);
  const QImage darkImage(dark[0]);
  ASSERT_FALSE(lightImage.isNull());
  EXPECT_EQ(lightImage.width(), 2 * OKRootView::kWidth);
  EXPECT_TRUE(light[1].endsWith("onboarding-1-light.png"));
  // The card colour: white in light mode, (42, 42, 45) in dark mode.
  EXPECT_EQ(lightImage.pixelColor(4, 4), QColor(Qt::white));
  EXPECT_EQ(darkImage.pixelColor(4, 4), QColor(42, 42, 45));
  EXPECT_TRUE(writeOnboardingSnapshots(controller(), "/proc/none", Appearance::light).isEmpty());
}

}  // namespace
}  // namespace lumarin::test
