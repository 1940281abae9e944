#include "hud/MirrorHUDWindow.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <algorithm>
#include <optional>

#include "hud/MirrorHUDView.h"
#include "platform/Menu.h"
#include "platform/Windows.h"

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

// What a key asks of the panel; none for keys it has no use for.
std::optional<HUDKey> hudKey(const QKeyEvent& event) {
  HUDKey key;
  const auto modifiers = event.modifiers() & ~Qt::KeypadModifier;
  switch (event.key()) {
    case Qt::Key_Escape:
      key.kind = HUDKey::Kind::escape;
      return key;
    case Qt::Key_Backspace:
      key.kind = HUDKey::Kind::backspace;
      return key;
    case Qt::Key_Left:
      key.kind = HUDKey::Kind::left;
      return key;
    case Qt::Key_Right:
      key.kind = HUDKey::Kind::right;
      return key;
    case Qt::Key_Up:
      key.kind = HUDKey::Kind::up;
      return key;
    case Qt::Key_Down:
      key.kind = HUDKey::Kind::down;
      return key;
    case Qt::Key_Home:
      key.kind = HUDKey::Kind::home;
      return key;
    case Qt::Key_End:
      key.kind = HUDKey::Kind::end;
      return key;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      key.kind = HUDKey::Kind::activate;
      key.secondary = (modifiers & Qt::ShiftModifier) != 0;
      return key;
    case Qt::Key_Menu:
      key.kind = HUDKey::Kind::activate;
      key.secondary = true;
      return key;
    default:
      break;
  }
  if ((modifiers & (Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier)) != 0) {
    return std::nullopt;  // shortcuts, not text
  }
  if (event.key() >= Qt::Key_1 && event.key() <= Qt::Key_9) {
    key.kind = HUDKey::Kind::digit;
    key.digit = event.key() - Qt::Key_0;
    return key;
  }
  const QString text = event.text();
  if (text.isEmpty() ||
      std::any_of(text.begin(), text.end(), [](QChar c) { return !c.isPrint(); })) {
    return std::nullopt;
  }
  key.kind = HUDKey::Kind::text;
  key.text = text.toStdString();
  return key;
}

}  // namespace

class MirrorHUDWindow::Frame final : public QWidget {
 public:
  Frame(std::function<void()> onCancel, std::function<bool(const HUDKey&)> onKey,
        std::function<void()> onDeactivated)
      : onCancel_(std::move(onCancel)),
        onKey_(std::move(onKey)),
        onDeactivated_(std::move(onDeactivated)) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::NoDropShadowWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QStringLiteral("Menu Bar HUD"));
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (const auto key = hudKey(*event); key && onKey_ && onKey_(*key)) {
      return;
    }
    if (event->key() == Qt::Key_Escape && onCancel_) {
      onCancel_();
      return;
    }
    QWidget::keyPressEvent(event);
  }

  bool event(QEvent* event) override {
    // Once the panel had the keyboard, losing it means the user went elsewhere.
    if (event->type() == QEvent::WindowActivate) {
      wasActive_ = true;
    } else if (event->type() == QEvent::WindowDeactivate && wasActive_ && isVisible()) {
      wasActive_ = false;
      if (onDeactivated_) {
        onDeactivated_();
      }
    } else if (event->type() == QEvent::Hide) {
      wasActive_ = false;
    }
    return QWidget::event(event);
  }

 private:
  std::function<void()> onCancel_;
  std::function<bool(const HUDKey&)> onKey_;
  std::function<void()> onDeactivated_;
  bool wasActive_ = false;
};

// The panel's Qt window as the platform's window, where Qt is the window system: the frame
// the controller gave it, shown and hidden with it. Input reaches the view directly.
class MirrorHUDWindow::OwnWindow final : public Window {
 public:
  OwnWindow(MirrorHUDWindow& surface, std::uint32_t number) : surface_(surface), number_(number) {}

  std::uint32_t number() const override { return number_; }
  CocoaRect frame() const override { return frame_; }
  void setFrame(const CocoaRect& frame) override {
    frame_ = frame;
    surface_.setFrame(frame);
  }
  void orderFront(bool makeKey) override { surface_.setVisible(true, makeKey); }
  void orderOut() override { surface_.setVisible(false, false); }
  bool isVisible() const override { return surface_.isShown(); }
  bool isKey() const override { return surface_.widget().isActiveWindow(); }
  bool occlusionVisible() const override { return surface_.isShown(); }
  bool isOnActiveSpace() const override { return true; }
  void setKeyDownHandler(std::function<void(int)>) override {}
  void setMouseDownHandler(std::function<void(EventType, CocoaPoint, unsigned)>) override {}

 private:
  MirrorHUDWindow& surface_;
  std::uint32_t number_;
  CocoaRect frame_{0, 0, 0, 0};
};

MirrorHUDWindow::MirrorHUDWindow(std::shared_ptr<HUDTiles> model, const L10n& l10n,
                                 MirrorHUDController::SurfaceHandlers handlers,
                                 std::function<double()> firstScreenMaxY)
    : window_(std::make_unique<Frame>(std::move(handlers.onCancel), std::move(handlers.onKey),
                                      std::move(handlers.onDeactivated))),
      firstScreenMaxY_(std::move(firstScreenMaxY)) {
  // The view sizes itself to the panel's size for its tiles; the controller gives the window
  // the same frame.
  view_ = new MirrorHUDView(std::move(model), l10n, std::move(handlers.onClick),
                            std::move(handlers.onPermissionTap), window_.get());
  view_->setOtherButtons(std::move(handlers.onMiddleClick), std::move(handlers.onScroll));
  view_->setOnEntryClick(std::move(handlers.onEntryClick));
  view_->move(0, 0);
}

std::shared_ptr<Window> MirrorHUDWindow::ownWindow() {
  static std::uint32_t next = 1;
  return std::make_shared<OwnWindow>(*this, next++);
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

void MirrorHUDWindow::showSearch(const std::string& text,
                                 const std::vector<std::string>& visibleIDs,
                                 const std::vector<std::pair<std::string, std::string>>& entries,
                                 const std::optional<std::string>& focusedID) {
  view_->setSearch(text, visibleIDs, focusedID, entries);
}

QWidget& MirrorHUDWindow::widget() const { return *window_; }

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
