#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "onboarding/OKStep.h"

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace lumarin {

class PillButton;
class RepeatingTimer;
class Scheduler;

// The pager's page host: the current page's content, then a footer with the waiting note, the
// page dots and the buttons (Back, the skip button of a skippable page, the primary button).
// A 1-second timer on the main queue re-reads the page's state and moves on by itself once the
// permission a page waits for has been granted, unless the page was pinned or the permission
// was already there when the page was reached.
//
// Keys: Tab visits the page's controls, then Back, skip and the primary button; Space or Return
// presses the focused button; Return elsewhere presses the primary button; Escape skips a
// skippable page and does nothing on the others (a stray Escape must not end the first run).
// Main thread.
class OKRootView : public QWidget {
 public:
  static constexpr int kWidth = 360;
  static constexpr double kTickSeconds = 1.0;
  static constexpr int kAnimationMs = 200;

  struct Options {
    int startIndex = 0;
    bool pinned = false;
    int maxContentHeight = 860;
  };

  OKRootView(std::vector<OKStep> steps, OKStrings strings, Scheduler& scheduler, Options options,
             QWidget* parent = nullptr);
  ~OKRootView() override;
  OKRootView(const OKRootView&) = delete;
  OKRootView& operator=(const OKRootView&) = delete;

  // Reports the content height the view wants (whole points).
  void setOnHeight(std::function<void(double)> handler) { onHeight_ = std::move(handler); }
  // Called when the last page is left forwards.
  void setOnFinish(std::function<void()> handler) { onFinish_ = std::move(handler); }

  int index() const { return index_; }
  int count() const { return static_cast<int>(steps_.size()); }
  const OKStep& currentStep() const { return steps_[static_cast<std::size_t>(index_)]; }
  bool pinned() const { return pinned_; }
  bool grantedOnArrival() const { return grantedOnArrival_; }
  int tickCount() const { return ticks_; }
  bool waitingForGrant() const;
  int maxContentHeight() const { return maxContentHeight_; }

  // The height that shows the current page and the footer without scrolling, capped.
  int fittingHeight() const;

  PillButton* backButton() const { return back_; }
  PillButton* secondaryButton() const { return secondary_; }
  PillButton* primaryButton() const { return primary_; }
  QLabel* waitingLabel() const { return waitingLabel_; }
  QWidget* pageContent(int index) const;

  // Advances as the primary button would without its action: the next page, or the finish.
  void advance();
  void goTo(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool event(QEvent* event) override;

 private:
  class PageDots;
  class WaitingDots;

  void arrive();
  void tick();
  void refreshChrome();
  void refreshCurrentPage();
  void pressPrimary();
  void pressSecondary();
  void reportHeight();
  void updateScrollBar();
  void fadeIn(QWidget* page);

  std::vector<OKStep> steps_;
  OKStrings strings_;
  bool pinned_;
  int maxContentHeight_;
  std::function<void(double)> onHeight_;
  std::function<void()> onFinish_;

  int index_ = 0;
  bool grantedOnArrival_ = true;
  int contentHeight_ = 0;
  int footerHeight_ = 0;
  int ticks_ = 0;
  std::shared_ptr<RepeatingTimer> timer_;

  QScrollArea* scroll_ = nullptr;
  QWidget* pagesHost_ = nullptr;
  QWidget* footer_ = nullptr;
  QWidget* waitingRow_ = nullptr;
  WaitingDots* waitingDots_ = nullptr;
  QLabel* waitingLabel_ = nullptr;
  PageDots* dots_ = nullptr;
  PillButton* back_ = nullptr;
  PillButton* secondary_ = nullptr;
  PillButton* primary_ = nullptr;
};

}  // namespace lumarin
