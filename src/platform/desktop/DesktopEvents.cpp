#include "platform/desktop/DesktopEvents.h"

#include <QCursor>
#include <QGuiApplication>
#include <QStyleHints>

namespace lumarin {

DesktopEvents::DesktopEvents(std::optional<double> doubleClickInterval)
    : doubleClickInterval_(doubleClickInterval) {}

DesktopEvents::~DesktopEvents() = default;

double DesktopEvents::doubleClickInterval() const {
  if (doubleClickInterval_) {
    return *doubleClickInterval_;
  }
  if (qGuiApp == nullptr) {
    return kFallbackDoubleClickInterval;
  }
  const int ms = QGuiApplication::styleHints()->mouseDoubleClickInterval();
  return ms > 0 ? ms / 1000.0 : kFallbackDoubleClickInterval;
}

std::optional<GlobalPoint> DesktopEvents::mouseLocation() const {
  // The offscreen and minimal platforms have no pointer; their answer would be a made-up
  // origin, which is worse than none.
  if (qGuiApp == nullptr) {
    return std::nullopt;
  }
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
    return std::nullopt;
  }
  const QPoint pos = QCursor::pos();
  return GlobalPoint{static_cast<double>(pos.x()), static_cast<double>(pos.y())};
}

bool DesktopEvents::postMouseEvent(EventType /*type*/, GlobalPoint /*point*/,
                                   unsigned /*modifierFlags*/) {
  return false;
}

Subscription DesktopEvents::addGlobalMonitor(unsigned /*mask*/,
                                             std::function<void(const MonitoredEvent&)> handler) {
  // Kept until the subscription ends, like a real monitor's handler, so whatever it captures
  // lives exactly as long as the caller expects.
  auto kept = std::make_shared<std::function<void(const MonitoredEvent&)>>(std::move(handler));
  return Subscription([kept] { *kept = nullptr; });
}

Subscription DesktopEvents::addLocalMonitor(unsigned /*mask*/,
                                            std::function<bool(const LocalEvent&)> handler) {
  auto kept = std::make_shared<std::function<bool(const LocalEvent&)>>(std::move(handler));
  return Subscription([kept] { *kept = nullptr; });
}

}  // namespace lumarin
