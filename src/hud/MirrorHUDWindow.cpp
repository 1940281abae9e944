#include "hud/MirrorHUDWindow.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include "hud/MirrorHUDView.h"
#include "platform/Menu.h"

namespace lumarin {

namespace {

Qt::KeyboardModifiers qtModifiers(unsigned bits) {
  Qt::KeyboardModifiers modifiers;
  if ((bits & kModifierShift) != 0) {
    modifiers |= Qt::ShiftModifier;
  }
  if ((bits & kModifierControl) != 0) {
    modifiers |= Qt::ControlModifier;
  }
  if ((bits & kModifierOption) != 0) {
    modifiers |= Qt::AltModifier;
  }
  if ((bits & kModifierCommand) != 0) {
    modifiers |= Qt::MetaModifier;
  }
  return modifiers;
}

}  // namespace

class MirrorHUDWindow::Frame final : public QWidget {
 public:
  explicit Frame(std::function<void()> onCancel) : onCancel_(std::move(onCancel)) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::NoDropShadowWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QStringLiteral("Menu Bar HUD"));
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape && onCancel_) {
      onCancel_();
      return;
    }
    QWidget::keyPressEvent(event);
  }

 private:
  std::function<void()> onCancel_;
};

MirrorHUDWindow::MirrorHUDWindow(std::shared_ptr<MirrorModel> model, const L10n& l10n,
                                 MirrorHUDController::SurfaceHandlers handlers,
                                 std::function<double()> firstScreenMaxY)
    : window_(std::make_unique<Frame>(std::move(handlers.onCancel))),
      firstScreenMaxY_(std::move(firstScreenMaxY)) {
  // The view sizes itself to the panel's size for its tiles; the controller gives the window
  // the same frame.
  view_ = new MirrorHUDView(std::move(model), l10n, std::move(handlers.onClick),
                            std::move(handlers.onPermissionTap), window_.get());
  view_->move(0, 0);
}

MirrorHUDWindow::~MirrorHUDWindow() = default;

void MirrorHUDWindow::setFrame(const CocoaRect& frame) {
  const GlobalRect global = toGlobal(frame, firstScreenMaxY_ ? firstScreenMaxY_() : 0);
  window_->setGeometry(static_cast<int>(global.minX()), static_cast<int>(global.minY()),
                       static_cast<int>(global.width()), static_cast<int>(global.height()));
}

void MirrorHUDWindow::setVisible(bool visible, bool takesKeyboard) {
  window_->setAttribute(Qt::WA_ShowWithoutActivating, !takesKeyboard);
  window_->setWindowFlag(Qt::WindowDoesNotAcceptFocus, !takesKeyboard);
  if (!visible) {
    window_->hide();
    return;
  }
  window_->show();
  // Offscreen there is no stacking and no keyboard focus to ask for.
  if (QGuiApplication::platformName() != QStringLiteral("offscreen")) {
    window_->raise();
    if (takesKeyboard) {
      window_->activateWindow();
    }
  }
}

bool MirrorHUDWindow::isShown() const { return window_->isVisible(); }

void MirrorHUDWindow::mouseDown(CocoaPoint point, bool right, unsigned modifiers) {
  // The panel's point with its origin at the bottom left, as the view's top-left point.
  const QPointF local(point.x - view_->x(), window_->height() - point.y - view_->y());
  const Qt::MouseButton button = right ? Qt::RightButton : Qt::LeftButton;
  QMouseEvent press(QEvent::MouseButtonPress, local, view_->mapToGlobal(local), button, button,
                    qtModifiers(modifiers));
  QCoreApplication::sendEvent(view_, &press);
}

QImage MirrorHUDWindow::picture(double scale) const {
  const QSize size = window_->size();
  QImage image(static_cast<int>(size.width() * scale), static_cast<int>(size.height() * scale),
               QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(Qt::transparent);
  window_->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return image;
}

}  // namespace lumarin
