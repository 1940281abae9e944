#include "platform/desktop/QtScreens.h"

#include <QCursor>
#include <QGuiApplication>
#include <QObject>
#include <QScreen>

namespace lumarin {

namespace {

// Qt's global geometry (top-left origin, y downwards) in the port's convention, whose origin
// is the primary screen's bottom-left corner with y upwards.
CocoaRect flipped(const QRect& rect, double flipY) {
  return CocoaRect(rect.x(), flipY - (rect.y() + rect.height()), rect.width(), rect.height());
}

}  // namespace

QtScreens::QtScreens() : context_(std::make_unique<QObject>()) {
  reread();
  for (QScreen* screen : QGuiApplication::screens()) {
    watch(screen);
  }
  QObject::connect(qGuiApp, &QGuiApplication::screenAdded, context_.get(), [this](QScreen* screen) {
    watch(screen);
    reread();
  });
  QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, context_.get(),
                   [this](QScreen*) { reread(); });
  QObject::connect(qGuiApp, &QGuiApplication::primaryScreenChanged, context_.get(),
                   [this](QScreen*) { reread(); });
}

QtScreens::~QtScreens() = default;

void QtScreens::watch(QScreen* screen) {
  // Each screen is connected once: when it is listed at the start or when it is added (Qt
  // refuses unique connections to functors, so uniqueness cannot be left to it). Its
  // connections go with it when it is removed.
  QObject::connect(screen, &QScreen::geometryChanged, context_.get(),
                   [this](const QRect&) { reread(); });
  QObject::connect(screen, &QScreen::availableGeometryChanged, context_.get(),
                   [this](const QRect&) { reread(); });
}

void QtScreens::reread() {
  std::vector<ScreenInfo> list;
  QScreen* primary = QGuiApplication::primaryScreen();
  const double flipY =
      primary != nullptr ? primary->geometry().y() + primary->geometry().height() : 0.0;
  std::vector<QScreen*> ordered;
  if (primary != nullptr) {
    ordered.push_back(primary);
  }
  for (QScreen* screen : QGuiApplication::screens()) {
    if (screen != primary) {
      ordered.push_back(screen);
    }
  }
  std::uint32_t number = 0;
  for (QScreen* screen : ordered) {
    ScreenInfo info;
    info.displayID = ++number;
    info.frame = flipped(screen->geometry(), flipY);
    info.visibleFrame = flipped(screen->availableGeometry(), flipY);
    info.backingScale = screen->devicePixelRatio();
    list.push_back(info);
  }
  bool differs = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    differs = list != screens_;
    screens_ = std::move(list);
    flipY_ = flipY;
  }
  if (differs) {
    changed_.emit();
  }
}

std::vector<ScreenInfo> QtScreens::screens() const {
  std::lock_guard<std::mutex> guard(lock_);
  return screens_;
}

CocoaPoint QtScreens::mouseLocation() const {
  const QPoint point = QCursor::pos();
  std::lock_guard<std::mutex> guard(lock_);
  return CocoaPoint{static_cast<double>(point.x()), flipY_ - point.y()};
}

Subscription QtScreens::subscribeParametersChanged(std::function<void()> handler) {
  return changed_.subscribe(std::move(handler));
}

}  // namespace lumarin
