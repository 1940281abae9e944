#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <functional>
#include <string>

#include "desktop/LauncherEntryParser.h"

namespace lumarin {

// The launcher badge monitor's side of the session bus: the match rule for
// `com.canonical.Unity.LauncherEntry.Update` from any sender, the launcher's well-known name
// (asked for queued, released at the end) and the senders' departures. QtDBus hands signals
// only to slots, hence a QObject; what the signals say goes to plain handlers.
//
// Main queue. Internal to the badge monitor.
class LauncherBusListener final : public QObject {
  Q_OBJECT

 public:
  struct Handlers {
    // An update; true when it came from a sender not known before.
    std::function<bool(const std::string&, const std::string&, const LauncherProperties&)> update;
    std::function<void()> dropped;
    std::function<void(const std::string&)> left;
  };

  LauncherBusListener(Handlers handlers, QDBusConnection connection);
  ~LauncherBusListener() override;
  LauncherBusListener(const LauncherBusListener&) = delete;
  LauncherBusListener& operator=(const LauncherBusListener&) = delete;

  bool listening() const { return listening_; }
  bool ownsName() const;

 public Q_SLOTS:
  void update(const QDBusMessage& message);

 private:
  void follow(const QString& sender);
  void left(const QString& sender);

  Handlers handlers_;
  QDBusConnection connection_;
  QDBusServiceWatcher watcher_;
  bool listening_ = false;
  bool requested_ = false;
};

}  // namespace lumarin
