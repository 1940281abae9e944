#include "platform/host/DBusDistributedNotifications.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#include <memory>
#include <vector>

#include "platform/Scheduler.h"
#include "platform/host/DBusSignalSink.h"

namespace lumarin {

namespace {

QVariantMap toVariantMap(const DistributedNotifications::UserInfo& userInfo) {
  QVariantMap map;
  for (const auto& [key, value] : userInfo) {
    const QString k = QString::fromStdString(key);
    std::visit(
        [&map, &k](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, std::string>) {
            map.insert(k, QString::fromStdString(v));
          } else if constexpr (std::is_same_v<T, std::int64_t>) {
            map.insert(k, QVariant::fromValue(static_cast<qlonglong>(v)));
          } else {
            map.insert(k, QVariant::fromValue(v));
          }
        },
        value);
  }
  return map;
}

// The typed values a property list carries; anything else in a peer's map is left out.
DistributedNotifications::UserInfo fromVariantMap(const QVariantMap& map) {
  DistributedNotifications::UserInfo info;
  for (auto it = map.begin(); it != map.end(); ++it) {
    const std::string key = it.key().toStdString();
    const QVariant& v = it.value();
    switch (v.metaType().id()) {
      case QMetaType::Bool:
        info[key] = v.toBool();
        break;
      case QMetaType::Int:
      case QMetaType::UInt:
      case QMetaType::LongLong:
      case QMetaType::ULongLong:
      case QMetaType::Short:
      case QMetaType::UShort:
      case QMetaType::UChar:
        info[key] = static_cast<std::int64_t>(v.toLongLong());
        break;
      case QMetaType::Double:
        info[key] = v.toDouble();
        break;
      case QMetaType::QString:
        info[key] = v.toString().toStdString();
        break;
      default:
        break;
    }
  }
  return info;
}

}  // namespace

class DBusDistributedNotifications::Receiver {
 public:
  Receiver(Scheduler& scheduler, const std::string& address, const std::string& name)
      : scheduler_(scheduler),
        connection_(address.empty() ? QDBusConnection::sessionBus()
                                    : QDBusConnection::connectToBus(QString::fromStdString(address),
                                                                    QString::fromStdString(name))),
        ownName_(QString::fromStdString(name)),
        privateConnection_(!address.empty()) {
    if (connection_.isConnected()) {
      connection_.connect(QString(), kPath, kInterface, kMember, &sink_,
                          SLOT(received(QDBusMessage)));
    }
  }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  ~Receiver() {
    if (connection_.isConnected()) {
      connection_.disconnect(QString(), kPath, kInterface, kMember, &sink_,
                             SLOT(received(QDBusMessage)));
    }
    if (privateConnection_) {
      QDBusConnection::disconnectFromBus(ownName_);
    }
  }

  bool connected() const { return connection_.isConnected(); }

  void post(const std::string& name, const UserInfo& userInfo) {
    if (!connection_.isConnected()) {
      return;
    }
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, kMember);
    signal << QString::fromStdString(name) << toVariantMap(userInfo);
    connection_.send(signal);
  }

  void flush() const {
    if (!connection_.isConnected()) {
      return;
    }
    // The bus handles a connection's messages in order: once it answers, it has routed the
    // signals sent before the call, and they are queued ahead of its answer here.
    QDBusMessage ping = QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId");
    (void)connection_.call(ping);
  }

  Subscription observe(const std::string& name, std::function<void(const UserInfo&)> handler) {
    auto entry = std::make_shared<Observer>(Observer{name, std::move(handler), true});
    observers_.push_back(entry);
    return Subscription([entry] { entry->alive = false; });
  }

 private:
  void received(const QDBusMessage& message) {
    if (message.service() == connection_.baseService()) {
      return;  // our own, already delivered through the session
    }
    const auto arguments = message.arguments();
    if (arguments.size() != 2 || arguments[0].metaType().id() != QMetaType::QString) {
      return;
    }
    QVariantMap map;
    if (arguments[1].canConvert<QDBusArgument>()) {
      const auto argument = arguments[1].value<QDBusArgument>();
      if (argument.currentSignature() != QStringLiteral("a{sv}")) {
        return;
      }
      argument >> map;
    } else if (arguments[1].metaType().id() == QMetaType::QVariantMap) {
      map = arguments[1].toMap();
    } else {
      return;
    }
    const std::string name = arguments[0].toString().toStdString();
    const UserInfo info = fromVariantMap(map);
    std::erase_if(observers_, [](const auto& o) { return !o->alive; });
    for (const auto& observer : observers_) {
      if (observer->name != name) {
        continue;
      }
      scheduler_.mainQueue().post([observer, info] {
        if (observer->alive) {
          observer->handler(info);
        }
      });
    }
  }

  struct Observer {
    std::string name;
    std::function<void(const UserInfo&)> handler;
    bool alive = true;
  };

  Scheduler& scheduler_;
  QDBusConnection connection_;
  QString ownName_;
  bool privateConnection_ = false;
  std::vector<std::shared_ptr<Observer>> observers_;
  DBusSignalSink sink_{[this](const QDBusMessage& message) { received(message); }};
};

DBusDistributedNotifications::DBusDistributedNotifications(DistributedNotifications& session,
                                                           Scheduler& scheduler,
                                                           const std::string& busAddress,
                                                           const std::string& connectionName)
    : session_(session),
      receiver_(std::make_unique<Receiver>(scheduler, busAddress, connectionName)) {}

DBusDistributedNotifications::~DBusDistributedNotifications() = default;

bool DBusDistributedNotifications::connected() const { return receiver_->connected(); }

void DBusDistributedNotifications::post(const std::string& name, const UserInfo& userInfo) {
  session_.post(name, userInfo);
  receiver_->post(name, userInfo);
}

Subscription DBusDistributedNotifications::observe(const std::string& name,
                                                   std::function<void(const UserInfo&)> handler) {
  auto fromSession = std::make_shared<Subscription>(session_.observe(name, handler));
  auto fromBus = std::make_shared<Subscription>(receiver_->observe(name, std::move(handler)));
  return Subscription([fromSession, fromBus] {
    fromSession->reset();
    fromBus->reset();
  });
}

void DBusDistributedNotifications::flush() const { receiver_->flush(); }

}  // namespace lumarin
