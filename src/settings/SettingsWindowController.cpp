#include "settings/SettingsWindowController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <cmath>

#include "l10n/L10n.h"
#include "platform/AppShell.h"
#include "platform/ProcessInfo.h"
#include "platform/Scheduler.h"
#include "platform/Screens.h"
#include "settings/WindowHistory.h"

namespace lumarin {

namespace {

constexpr SettingsTab kTabOrder[] = {SettingsTab::general, SettingsTab::permissions,
                                     SettingsTab::apps, SettingsTab::account, SettingsTab::about};

// Lets layouts, posted deletions and the first paint happen.
void settle() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
  }
}

}  // namespace

SettingsWindow::SettingsWindow(std::function<void()> activate, std::function<void()> onClose)
    : QWidget(nullptr, Qt::Window), activate_(std::move(activate)), onClose_(std::move(onClose)) {
  setMinimumSize(kMinimumWidth, kMinimumHeight);
  resize(kWidth, kHeight);
  // The window itself holds the keyboard focus when it opens; Tab moves it into the content.
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_DeleteOnClose, false);
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
  // Closing only hides: the window and its state are kept for the next opening.
  event->accept();
  if (onClose_) {
    onClose_();
  }
}

void SettingsWindow::mousePressEvent(QMouseEvent* event) {
  if (!isActiveWindow() && activate_) {
    activate_();
    activateWindow();
  }
  QWidget::mousePressEvent(event);
}

void SettingsWindow::keyPressEvent(QKeyEvent* event) {
  // Command-W (Control on this keyboard) closes the window, as on the Mac.
  if (event->key() == Qt::Key_W && (event->modifiers() & Qt::ControlModifier)) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------

SettingsWindowController::SettingsWindowController(Dependencies dependencies)
    : deps_(std::move(dependencies)) {}

SettingsWindowController::~SettingsWindowController() {
  releaseTask_.cancel();
  tabSubscription_.reset();
  window_.reset();
}

void SettingsWindowController::create() {
  AppShell* shell = &deps_.context.appShell;
  window_ = std::make_unique<SettingsWindow>([shell] { shell->activateIgnoringOtherApps(); },
                                             [this] {
                                               if (deps_.history != nullptr) {
                                                 deps_.history->windowClosed("settings", frame());
                                               }
                                               scheduleRelease();
                                             });
  window_->setWindowTitle(QString::fromStdString(deps_.context.l10n.string("set.title")));
  view_ = new SettingsView(deps_.context, router_, window_.get());
  auto* layout = new QVBoxLayout(window_.get());
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  if (deps_.appearance) {
    lumarin::setAppearance(window_.get(), *deps_.appearance);
  }
  tabSubscription_ = router_.selectedTab().observe([this](SettingsTab tab) {
    if (deps_.history != nullptr && isVisible()) {
      deps_.history->tabShown("settings", std::string(settingsTabName(tab)));
    }
  });
  if (releasedGeometry_) {
    // Made again after a release: where the user left the one before.
    window_->resize(releasedGeometry_->size());
    window_->move(releasedGeometry_->topLeft());
    releasedGeometry_.reset();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    // Centred on the screen the window opens on.
    const QRect available = screen->availableGeometry();
    window_->move(available.center() -
                  QPoint(SettingsWindow::kWidth / 2, SettingsWindow::kHeight / 2));
  }
}

void SettingsWindowController::show(std::optional<SettingsTab> tab) {
  releaseTask_.cancel();
  if (tab) {
    router_.select(*tab);
  }
  if (!window_) {
    create();
  }
  const bool opening = !window_->isVisible();
  deps_.context.appShell.activateIgnoringOtherApps();
  window_->show();
  window_->raise();
  window_->activateWindow();
  if (opening) {
    window_->setFocus();
    // The content's scroll bars float over it once the window is up.
    QPointer<SettingsView> view(view_);
    deps_.context.scheduler.mainQueue().post([view] {
      if (view) {
        view->useOverlayScrollers();
      }
    });
  }
  if (opening && deps_.history != nullptr) {
    deps_.history->windowOpened("settings", frame());
    deps_.history->tabShown("settings", std::string(settingsTabName(*router_.selectedTab())));
  }
  if (!snapshotDone_) {
    snapshotDone_ = true;
    if (auto directory = deps_.processInfo.environmentValue("LUMARIN_UI_SNAPSHOT");
        directory && !directory->empty()) {
      snapshotRun(*directory);
    }
  }
}

void SettingsWindowController::close() {
  if (window_ && window_->isVisible()) {
    window_->close();
  }
}

void SettingsWindowController::scheduleRelease() {
  releaseTask_.cancel();
  releaseTask_ = deps_.context.scheduler.mainQueue().postAfter(
      kReleaseDelay, weak_.bind([](SettingsWindowController& self) { self.release(); }));
}

void SettingsWindowController::release() {
  if (!window_ || window_->isVisible()) {
    return;
  }
  releasedGeometry_ = QRect(window_->pos(), window_->size());
  tabSubscription_.reset();
  view_ = nullptr;
  window_.reset();
  if (onReleased_) {
    onReleased_();
  }
}

bool SettingsWindowController::isVisible() const { return window_ && window_->isVisible(); }

void SettingsWindowController::setAppearance(std::optional<Appearance> appearance) {
  deps_.appearance = appearance;
  if (window_) {
    if (appearance) {
      lumarin::setAppearance(window_.get(), *appearance);
    } else {
      clearAppearance(window_.get());
    }
  }
}

CocoaRect SettingsWindowController::frame() const {
  return centredFrame(deps_.screens, window_ ? window_->width() : SettingsWindow::kWidth,
                      window_ ? window_->height() : SettingsWindow::kHeight);
}

CocoaRect SettingsWindowController::centredFrame(const Screens* screens, double width,
                                                 double height) {
  if (screens != nullptr) {
    const auto list = screens->screens();
    if (!list.empty()) {
      const CocoaRect& visible = list.front().visibleFrame;
      return {std::round(visible.minX() + (visible.width() - width) / 2),
              std::round(visible.minY() + (visible.height() - height) / 2), width, height};
    }
  }
  return {0, 0, width, height};
}

bool SettingsWindowController::writeTabPictures(const std::filesystem::path& directory,
                                                const std::string& suffix, bool bottoms) {
  if (!window_) {
    create();
  }
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  const bool wasVisible = window_->isVisible();
  const SettingsTab selected = *router_.selectedTab();
  if (!wasVisible) {
    window_->show();
  }
  view_->useOverlayScrollers();
  window_->setFocus();
  bool ok = true;
  for (SettingsTab tab : kTabOrder) {
    router_.select(tab);
    settle();
    const std::string name = "settings-" + std::string(settingsTabName(tab));
    const auto save = [&](const std::string& stem) {
      std::string file = stem;
      file += suffix;
      file += ".png";
      return window_->grab().save(QString::fromStdString((directory / file).string()));
    };
    ok = save(name) && ok;
    if (bottoms) {
      QScrollBar* bar = view_->contentScroll()->verticalScrollBar();
      bar->setValue(bar->maximum());
      settle();
      ok = save(name + "-bottom") && ok;
      bar->setValue(0);
    }
  }
  router_.select(selected);
  settle();
  if (!wasVisible) {
    window_->hide();
  }
  return ok;
}

void SettingsWindowController::snapshotRun(const std::filesystem::path& directory) {
  // A picture that could not be written is no reason to keep the window from working.
  (void)writeTabPictures(directory, "", true);
  if (deps_.hudSnapshot) {
    deps_.hudSnapshot(directory);
  }
}

}  // namespace lumarin
