#include "platform/host/QtRunLoop.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace lumarin {

void QtRunLoop::run() {
  if (stopRequested_.load()) {
    return;
  }
  QCoreApplication::exec();
}

void QtRunLoop::stop() {
  stopRequested_.store(true);
  if (auto* app = QCoreApplication::instance()) {
    QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
  }
}

}  // namespace lumarin
