#include "desktop/AppTrayItems.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <set>

#include "platform/Workspace.h"

namespace lumarin {

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

struct ItemAddress {
  QString service;
  QString path;
};

ItemAddress split(const std::string& entry) {
  const QString text = QString::fromStdString(entry);
  const auto slash = text.indexOf(QLatin1Char('/'));
  if (slash < 0) {
    return {text, QStringLiteral("/StatusNotifierItem")};
  }
  return {text.left(slash), text.mid(slash)};
}

}  // namespace

std::vector<std::string> AppTrayItems::registeredItems() {
  QDBusMessage get = QDBusMessage::createMethodCall(
      kWatcher, QStringLiteral("/StatusNotifierWatcher"),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << kWatcher << QStringLiteral("RegisteredStatusNotifierItems");
  const QDBusMessage answer = QDBusConnection::sessionBus().call(get, QDBus::Block, kCallTimeoutMs);
  std::vector<std::string> items;
  if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) {
    return items;
  }
  const QVariant value = answer.arguments().front().value<QDBusVariant>().variant();
  for (const QString& entry : value.toStringList()) {
    items.push_back(entry.toStdString());
  }
  return items;
}

bool AppTrayItems::activate(const std::string& appID, int x, int y) const {
  std::set<uint> pids;
  for (const auto& running : workspace_.runningApplications()) {
    if (running.bundleIdentifier == appID && running.pid > 0) {
      pids.insert(static_cast<uint>(running.pid));
    }
  }
  if (pids.empty()) {
    return false;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  QDBusConnectionInterface* daemon = bus.interface();
  if (daemon == nullptr) {
    return false;
  }
  for (const auto& entry : registeredItems()) {
    const ItemAddress address = split(entry);
    const QDBusReply<uint> pid = daemon->servicePid(address.service);
    if (!pid.isValid() || pids.count(pid.value()) == 0) {
      continue;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(address.service, address.path,
                                                       kItemInterface, QStringLiteral("Activate"));
    call << x << y;
    const QDBusMessage answer = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (answer.type() == QDBusMessage::ReplyMessage) {
      return true;
    }
  }
  return false;
}

}  // namespace lumarin
