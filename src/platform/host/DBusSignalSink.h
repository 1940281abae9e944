#pragma once

#include <QDBusMessage>
#include <QObject>
#include <functional>
#include <utility>

namespace lumarin {

// QtDBus hands signals only to a slot of a QObject: this one passes each message on to
// `handler`. The only class of the program that needs moc. Main thread.
class DBusSignalSink final : public QObject {
  Q_OBJECT

 public:
  explicit DBusSignalSink(std::function<void(const QDBusMessage&)> handler)
      : handler_(std::move(handler)) {}

 public Q_SLOTS:
  void received(const QDBusMessage& message) {
    if (handler_) {
      handler_(message);
    }
  }

 private:
  std::function<void(const QDBusMessage&)> handler_;
};

}  // namespace lumarin
