#include "onboarding/OKRootView.h"

#include <QEasingCurve>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "onboarding/OKLabel.h"
#include "platform/Scheduler.h"
#include "ui/PillButton.h"
#include "ui/Theme.h"

namespace lumarin {
namespace {

QString qs(const OKText& text) { return text ? QString::fromStdString(text()) : QString(); }

constexpr int kSideMargin = 24;
constexpr int kDotSize = 6;
constexpr int kDotGap = 8;

int wantedHeight(const QWidget* widget, int width) {
  if (widget->hasHeightForWidth()) {
    return widget->heightForWidth(width);
  }
  return widget->sizeHint().height();
}

}  // namespace

// One dot per page, the current one in the accent colour.
class OKRootView::PageDots : public QWidget {
 public:
  explicit PageDots(QWidget* parent) : QWidget(parent) {
    setFixedHeight(kDotSize + 4);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }
  void setPages(int index, int count) {
    index_ = index;
    count_ = count;
    setAccessibleName(QStringLiteral("%1 / %2").arg(index + 1).arg(count));
    update();
  }

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const Appearance appearance = effectiveAppearance(this);
    const int total = count_ * kDotSize + std::max(0, count_ - 1) * kDotGap;
    double x = (width() - total) / 2.0;
    for (int i = 0; i < count_; ++i) {
      painter.setBrush(i == index_ ? Theme::accent().resolve(appearance)
                                   : Theme::tertiaryLabel().resolve(appearance));
      painter.drawEllipse(QRectF(x, (height() - kDotSize) / 2.0, kDotSize, kDotSize));
      x += kDotSize + kDotGap;
    }
  }

 private:
  int index_ = 0;
  int count_ = 0;
};

// Three dots that fill one by one with the pager's ticks while it waits.
class OKRootView::WaitingDots : public QWidget {
 public:
  explicit WaitingDots(QWidget* parent) : QWidget(parent) { setFixedSize(22, 10); }
  void setPhase(int phase) {
    phase_ = phase;
    update();
  }

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const Appearance appearance = effectiveAppearance(this);
    for (int i = 0; i < 3; ++i) {
      QColor color = Theme::accent().resolve(appearance);
      color.setAlphaF(i <= phase_ % 3 ? 1.0 : 0.3);
      painter.setBrush(color);
      painter.drawEllipse(QRectF(1 + i * 7.5, 2.5, 5, 5));
    }
  }

 private:
  int phase_ = 0;
};

OKRootView::OKRootView(std::vector<OKStep> steps, OKStrings strings, Scheduler& scheduler,
                       Options options, QWidget* parent)
    : QWidget(parent),
      steps_(std::move(steps)),
      strings_(std::move(strings)),
      pinned_(options.pinned),
      maxContentHeight_(options.maxContentHeight) {
  setFocusPolicy(Qt::NoFocus);
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);

  scroll_ = new QScrollArea(this);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidgetResizable(true);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setFocusPolicy(Qt::NoFocus);
  scroll_->viewport()->setAutoFillBackground(false);
  pagesHost_ = new QWidget;
  pagesHost_->setAutoFillBackground(false);
  // A wrapped label's least height is its preferred, narrower and taller shape, so the pages'
  // minimum height is more than they take at the card's width; the scroll area would make the
  // content that tall and scroll. The host states no minimum height: the scroll area gives it
  // its height for the viewport's width, the height the window was sized by.
  pagesHost_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
  auto* pages = new QVBoxLayout(pagesHost_);
  pages->setContentsMargins(kSideMargin, 28, kSideMargin, 8);
  pages->setSpacing(0);
  for (OKStep& step : steps_) {
    if (!step.content) {
      step.content = std::make_unique<QWidget>();
    }
    QWidget* content = step.content.release();  // the layout's parent owns it from here
    pages->addWidget(content);
    content->hide();
  }
  pages->addStretch(1);
  scroll_->setWidget(pagesHost_);
  pagesHost_->setAutoFillBackground(false);  // setWidget turns it on; the view paints the card
  root->addWidget(scroll_, 1);

  footer_ = new QWidget(this);
  auto* footer = new QVBoxLayout(footer_);
  footer->setContentsMargins(kSideMargin, 8, kSideMargin, 20);
  footer->setSpacing(10);
  waitingRow_ = new QWidget(footer_);
  auto* waiting = new QHBoxLayout(waitingRow_);
  waiting->setContentsMargins(0, 0, 0, 0);
  waiting->setSpacing(8);
  waitingDots_ = new WaitingDots(waitingRow_);
  waitingLabel_ = new OKLabel(qs(strings_.waiting), 11, QFont::Normal, OKLabel::Role::secondary,
                              true, waitingRow_);
  waitingLabel_->setAccessibleName(waitingLabel_->text());
  waiting->addWidget(waitingDots_, 0, Qt::AlignVCenter);
  waiting->addWidget(waitingLabel_, 1);
  footer->addWidget(waitingRow_);

  dots_ = new PageDots(footer_);
  footer->addWidget(dots_);

  // The skip button has a row of its own above Back and the primary button: the three titles
  // side by side do not fit 360 points in every language.
  secondary_ = new PillButton(qs(strings_.later), false, footer_);
  footer->addWidget(secondary_, 0, Qt::AlignRight);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  back_ = new PillButton(qs(strings_.back), false, footer_);
  primary_ = new PillButton(qs(strings_.continueTitle), true, footer_);
  buttons->addWidget(back_);
  buttons->addStretch(1);
  buttons->addWidget(primary_);
  footer->addLayout(buttons);
  root->addWidget(footer_);

  connect(back_, &PillButton::clicked, this, [this] { goTo(index_ - 1); });
  connect(secondary_, &PillButton::clicked, this, [this] { pressSecondary(); });
  connect(primary_, &PillButton::clicked, this, [this] { pressPrimary(); });

  setFixedWidth(kWidth);
  index_ = std::clamp(options.startIndex, 0, std::max(0, count() - 1));
  if (count() > 0) {
    pageContent(index_)->show();
  }
  arrive();

  // The timer's task runs on the main queue as this view does; the destructor cancels it first.
  timer_ = scheduler.mainQueue().scheduleRepeating(seconds(kTickSeconds), Duration{0},
                                                   [this] { tick(); });
}

OKRootView::~OKRootView() {
  if (timer_) {
    timer_->cancel();
  }
}

QWidget* OKRootView::pageContent(int index) const {
  auto* layout = static_cast<QVBoxLayout*>(pagesHost_->layout());
  if (index < 0 || index >= count()) {
    return nullptr;
  }
  return layout->itemAt(index)->widget();
}

bool OKRootView::waitingForGrant() const {
  if (count() == 0) {
    return false;
  }
  const OKStep& step = currentStep();
  return step.kind == OKStep::Kind::permissions && !grantedOnArrival_ && step.requiredGranted &&
         !step.requiredGranted();
}

int OKRootView::fittingHeight() const {
  const int wanted = contentHeight_ + footerHeight_;
  return std::min(wanted, maxContentHeight_);
}

void OKRootView::advance() {
  if (index_ + 1 >= count()) {
    // The finish may close and release the window around this view: copy the handler and
    // touch nothing afterwards.
    const auto finish = onFinish_;
    if (finish) {
      finish();
    }
    return;
  }
  goTo(index_ + 1);
}

void OKRootView::goTo(int index) {
  if (index < 0 || index >= count() || index == index_) {
    return;
  }
  pageContent(index_)->hide();
  index_ = index;
  QWidget* page = pageContent(index_);
  page->show();
  fadeIn(page);
  arrive();
}

void OKRootView::arrive() {
  if (count() > 0 && currentStep().kind == OKStep::Kind::permissions) {
    const OKStep& step = currentStep();
    grantedOnArrival_ = step.requiredGranted ? step.requiredGranted() : true;
  }
  refreshCurrentPage();
  refreshChrome();
  // Keyboard focus starts on the main action of the page again.
  if (window() != nullptr && window()->isActiveWindow()) {
    primary_->setFocus(Qt::OtherFocusReason);
  }
}

void OKRootView::tick() {
  if (count() == 0) {
    return;
  }
  refreshCurrentPage();
  const OKStep& step = currentStep();
  if (step.kind == OKStep::Kind::permissions) {
    ++ticks_;
    if (!pinned_ && !grantedOnArrival_ && step.requiredGranted && step.requiredGranted()) {
      advance();
      return;
    }
  }
  refreshChrome();
}

void OKRootView::refreshCurrentPage() {
  if (count() == 0) {
    return;
  }
  if (auto* live = dynamic_cast<OKLivePage*>(pageContent(index_))) {
    live->refresh();
  }
}

void OKRootView::refreshChrome() {
  if (count() == 0) {
    return;
  }
  const OKStep& step = currentStep();
  QString primaryTitle;
  if (step.primaryTitle) {
    primaryTitle = qs(step.primaryTitle);
  } else if (step.kind == OKStep::Kind::consent) {
    primaryTitle = qs(strings_.startTitle);
  } else {
    primaryTitle = qs(strings_.continueTitle);
  }
  primary_->setButtonTitle(primaryTitle);
  secondary_->setButtonTitle(step.secondaryTitle ? qs(step.secondaryTitle) : qs(strings_.later));
  secondary_->setVisible(step.skippable);
  back_->setButtonTitle(qs(strings_.back));
  back_->setVisible(index_ > 0);
  dots_->setPages(index_, count());
  const bool waiting = waitingForGrant();
  waitingRow_->setVisible(waiting);
  waitingDots_->setPhase(ticks_);

  // Tab order: the page's controls as the page laid them out, then the footer's buttons.
  QWidget* previous = nullptr;
  for (QWidget* child : pageContent(index_)->findChildren<QWidget*>()) {
    if ((child->focusPolicy() & Qt::TabFocus) != 0) {
      if (previous != nullptr) {
        setTabOrder(previous, child);
      }
      previous = child;
    }
  }
  for (QWidget* button : {static_cast<QWidget*>(secondary_), static_cast<QWidget*>(back_),
                          static_cast<QWidget*>(primary_)}) {
    if (previous != nullptr) {
      setTabOrder(previous, button);
    }
    previous = button;
  }
  reportHeight();
}

void OKRootView::reportHeight() {
  layout()->activate();
  // The pages are as wide as the scroll area's viewport without a scroll bar: the card's width
  // inside the area's frame (none, as set up here).
  contentHeight_ = wantedHeight(pagesHost_, kWidth - 2 * scroll_->frameWidth());
  footerHeight_ = wantedHeight(footer_, kWidth);
  if (onHeight_) {
    onHeight_(fittingHeight());
  }
  updateScrollBar();
}

void OKRootView::updateScrollBar() {
  // A scroll area that once showed its bar lays the content out at the narrower width, where
  // wrapped texts take more lines, and keeps the bar. While the card is as tall as its content
  // wants (a page change grows the window just after the new page was laid out in the old
  // height), the bar is off, so the content gets the full width again.
  const bool fits = height() >= contentHeight_ + footerHeight_;
  scroll_->setVerticalScrollBarPolicy(fits ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
}

void OKRootView::pressPrimary() {
  const OKStep& step = currentStep();
  if (step.primaryAction && !step.primaryAction()) {
    return;
  }
  advance();
}

void OKRootView::pressSecondary() {
  const OKStep& step = currentStep();
  if (!step.skippable) {
    return;
  }
  if (step.secondaryAction && !step.secondaryAction()) {
    return;
  }
  advance();
}

void OKRootView::fadeIn(QWidget* page) {
  // A page change fades the new page in over 0.2 s, easing in and out; the page is already
  // current, so input and tests never wait for the animation.
  auto* effect = new QGraphicsOpacityEffect(page);
  effect->setOpacity(0);
  page->setGraphicsEffect(effect);
  auto* animation = new QPropertyAnimation(effect, "opacity", effect);
  animation->setDuration(kAnimationMs);
  animation->setStartValue(0.0);
  animation->setEndValue(1.0);
  QEasingCurve curve(QEasingCurve::BezierSpline);
  curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
  animation->setEasingCurve(curve);
  connect(animation, &QPropertyAnimation::finished, page,
          [page] { page->setGraphicsEffect(nullptr); });
  animation->start();
}

void OKRootView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), Theme::surfaceCard().resolve(effectiveAppearance(this)));
}

void OKRootView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  updateScrollBar();
}

void OKRootView::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      // Only a page that may be skipped lets Escape through, as its skip button.
      if (count() > 0 && currentStep().skippable) {
        secondary_->click();
      }
      event->accept();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (!event->isAutoRepeat()) {
        primary_->click();
      }
      event->accept();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

bool OKRootView::event(QEvent* event) {
  if (changesAppearance(event)) {
    update();
  }
  return QWidget::event(event);
}

}  // namespace lumarin
