#include "onboarding/OnboardingKitController.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cmath>

#include "onboarding/OKRootView.h"
#include "onboarding/OnboardingKitEnv.h"
#include "platform/AppShell.h"
#include "ui/PillButton.h"

namespace lumarin {

// The top-level window around the pager; it tells the controller before it closes.
class OnboardingKitController::KitWindow : public QWidget {
 public:
  explicit KitWindow(std::function<void()> willClose)
      : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint),
        willClose_(std::move(willClose)) {
    // Closing hides the window; the controller releases it once it has forgotten it.
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAccessibleName(QStringLiteral("Lumarin"));
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->accept();
    if (willClose_) {
      willClose_();
    }
  }

 private:
  std::function<void()> willClose_;
};

namespace {

std::optional<QRect> visibleArea() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    return std::nullopt;
  }
  return screen->availableGeometry();
}

}  // namespace

OnboardingKitController::OnboardingKitController(Dependencies dependencies,
                                                 std::function<std::vector<OKStep>()> makeSteps,
                                                 OKStrings strings)
    : deps_(std::move(dependencies)),
      makeSteps_(std::move(makeSteps)),
      strings_(std::move(strings)) {}

OnboardingKitController::~OnboardingKitController() {
  detachView();
  if (window_) {
    // Released later: this may run inside one of the window's own event handlers.
    QWidget* window = window_;
    window_ = nullptr;
    window->hide();
    window->deleteLater();
  }
}

int OnboardingKitController::maxContentHeight() const {
  if (deps_.visibleHeight) {
    if (const auto height = deps_.visibleHeight()) {
      return *height - kScreenMargin;
    }
  }
  const auto area = visibleArea();
  return area ? area->height() - kScreenMargin : kNoScreenHeight;
}

void OnboardingKitController::show(bool startAtPermissions) {
  if (!window_) {
    std::vector<OKStep> steps = makeSteps_();
    const int count = static_cast<int>(steps.size());
    int start = 0;
    if (startAtPermissions) {
      const auto it = std::find_if(steps.begin(), steps.end(), [](const OKStep& step) {
        return step.kind == OKStep::Kind::permissions;
      });
      start = it == steps.end() ? 0 : static_cast<int>(it - steps.begin());
    }
    const auto pinnedPage = OnboardingKitEnv::pinnedPage(deps_.processInfo, legacyEnv_);
    if (pinnedPage) {
      start = static_cast<int>(std::clamp<long long>(*pinnedPage, 0, std::max(0, count - 1)));
    }

    window_ =
        new KitWindow([this] { windowWillClose(); });  // NOLINT(cppcoreguidelines-owning-memory)
    window_->setWindowTitle(QString());                // the title bar shows no title
    auto* layout = new QVBoxLayout(window_);
    layout->setContentsMargins(0, 0, 0, 0);
    OKRootView::Options options;
    options.startIndex = start;
    options.pinned = pinnedPage.has_value();
    options.maxContentHeight = maxContentHeight();
    rootView_ = new OKRootView(std::move(steps), strings_, deps_.scheduler, options, window_);
    layout->addWidget(rootView_);
    rootView_->setOnFinish([this] { finish(); });
    window_->setFixedWidth(kWidth);
    window_->resize(kWidth, kInitialHeight);
    const int fitting = rootView_->fittingHeight();
    window_->setFixedHeight(fitting > 0 ? fitting : kInitialHeight);
    if (const auto area = visibleArea()) {
      window_->move(area->center() - QPoint(kWidth / 2, window_->height() / 2));
    }
    rootView_->setOnHeight([this](double height) { resize(height); });
  }
  if (deps_.appShell != nullptr) {
    deps_.appShell->activateIgnoringOtherApps();
  }
  window_->show();
  window_->raise();
  window_->activateWindow();
  if (rootView_) {
    rootView_->primaryButton()->setFocus(Qt::OtherFocusReason);
  }
}

void OnboardingKitController::resize(double height) {
  if (!window_) {
    return;
  }
  double wanted = std::round(height);
  const auto area = visibleArea();
  const int cap = area ? area->height() - kScreenMargin : kNoScreenHeight;
  wanted = std::min(wanted, static_cast<double>(cap));
  if (wanted <= 0 || std::abs(wanted - window_->height()) < 0.5) {
    return;
  }
  // Qt measures from the top, so a new height keeps the top edge where it was.
  const QPoint topLeft = window_->pos();
  window_->setFixedHeight(static_cast<int>(wanted));
  if (area && window_->geometry().bottom() > area->bottom()) {
    window_->move(topLeft.x(), area->bottom() - window_->height() + 1);
  }
}

void OnboardingKitController::finish() {
  finishing_ = true;
  if (window_) {
    window_->close();
  }
  forgetWindow();
  finishing_ = false;
  // onCompleted may release this controller: call a copy and touch nothing afterwards.
  const auto completed = onCompleted_;
  if (completed) {
    completed();
  }
}

void OnboardingKitController::windowWillClose() {
  if (finishing_) {
    return;
  }
  forgetWindow();
  const auto closed = onClosedByUser_;
  if (closed) {
    closed();
  }
}

void OnboardingKitController::detachView() {
  // The view lives until its window is released later, and its timer may tick meanwhile: it
  // must not call back into this controller, which may be gone by then.
  if (rootView_) {
    rootView_->setOnHeight(nullptr);
    rootView_->setOnFinish(nullptr);
  }
}

void OnboardingKitController::forgetWindow() {
  if (window_) {
    detachView();
    QWidget* window = window_;
    window_ = nullptr;
    rootView_ = nullptr;
    window->deleteLater();
  }
}

}  // namespace lumarin
