#include "desktop/LauncherBusListener.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QVariantMap>
#include <utility>

#include "desktop/LauncherBadgeMonitor.h"

namespace lumarin {

namespace {

const QString kEntryInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");

LauncherValue launcherValue(const QVariant& value) {
  switch (value.metaType().id()) {
    case QMetaType::Bool:
      return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Short:
      return static_cast<std::int64_t>(value.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
      return static_cast<std::uint64_t>(value.toULongLong());
    case QMetaType::Double:
      return value.toDouble();
    case QMetaType::QString:
      return value.toString().toStdString();
    default:
      // Containers, structures and variants of variants: no launcher property is one.
      return std::monostate{};
  }
}

}  // namespace

LauncherBusListener::LauncherBusListener(Handlers handlers, QDBusConnection connection)
    : handlers_(std::move(handlers)),
      connection_(std::move(connection)),
      watcher_(QString(), connection_, QDBusServiceWatcher::WatchForUnregistration) {
  QObject::connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this,
                   [this](const QString& name) { left(name); });
  // Any sender, any object; the slot checks the signature itself.
  listening_ = connection_.connect(QString(), QString(), kEntryInterface, QStringLiteral("Update"),
                                   this, SLOT(update(QDBusMessage)));
  if (QDBusConnectionInterface* daemon = connection_.interface()) {
    const auto reply = daemon->registerService(
        QString::fromLatin1(LauncherBadgeMonitor::kLauncherName),
        QDBusConnectionInterface::QueueService, QDBusConnectionInterface::AllowReplacement);
    requested_ = reply.isValid();
  }
}

LauncherBusListener::~LauncherBusListener() {
  connection_.disconnect(QString(), QString(), kEntryInterface, QStringLiteral("Update"), this,
                         SLOT(update(QDBusMessage)));
  if (requested_) {
    connection_.unregisterService(QString::fromLatin1(LauncherBadgeMonitor::kLauncherName));
  }
}

bool LauncherBusListener::ownsName() const {
  QDBusConnectionInterface* daemon = connection_.interface();
  if (daemon == nullptr) {
    return false;
  }
  const auto owner = daemon->serviceOwner(QString::fromLatin1(LauncherBadgeMonitor::kLauncherName));
  return owner.isValid() && owner.value() == connection_.baseService();
}

void LauncherBusListener::update(const QDBusMessage& message) {
  const QString sender = message.service();
  if (message.signature() != QStringLiteral("sa{sv}") || sender.isEmpty()) {
    handlers_.dropped();
    return;
  }
  const QList<QVariant> arguments = message.arguments();
  const std::string uri = arguments.at(0).toString().toStdString();
  LauncherProperties properties;
  QVariantMap map;
  if (arguments.at(1).canConvert<QDBusArgument>()) {
    arguments.at(1).value<QDBusArgument>() >> map;
  } else {
    map = arguments.at(1).toMap();
  }
  properties.reserve(static_cast<std::size_t>(map.size()));
  for (auto it = map.cbegin(); it != map.cend(); ++it) {
    QVariant value = it.value();
    if (value.canConvert<QDBusVariant>() &&
        value.metaType() == QMetaType::fromType<QDBusVariant>()) {
      value = value.value<QDBusVariant>().variant();
    }
    properties.emplace_back(it.key().toStdString(), launcherValue(value));
  }
  if (handlers_.update(sender.toStdString(), uri, properties)) {
    follow(sender);
  }
}

// Watches the sender's departure; it may have left before the watch was in place (a one-shot
// sender leaves right after sending), so the bus is asked whether it is still there.
void LauncherBusListener::follow(const QString& sender) {
  watcher_.addWatchedService(sender);
  QDBusConnectionInterface* daemon = connection_.interface();
  if (daemon == nullptr) {
    return;
  }
  auto* call =
      new QDBusPendingCallWatcher(daemon->asyncCall(QStringLiteral("NameHasOwner"), sender), this);
  QObject::connect(call, &QDBusPendingCallWatcher::finished, this,
                   [this, sender](QDBusPendingCallWatcher* done) {
                     const QDBusPendingReply<bool> reply = *done;
                     if (reply.isValid() && !reply.value()) {
                       left(sender);
                     }
                     done->deleteLater();
                   });
}

void LauncherBusListener::left(const QString& sender) {
  watcher_.removeWatchedService(sender);
  handlers_.left(sender.toStdString());
}

}  // namespace lumarin
