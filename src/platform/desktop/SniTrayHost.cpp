#include "platform/desktop/SniTrayHost.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "platform/SystemLog.h"
#include "platform/desktop/DBusMenuLayout.h"
#include "platform/desktop/DBusTypes.h"
#include "platform/desktop/SniNames.h"
#include "platform/desktop/TrayImages.h"
#include "platform/host/DBusSignalSink.h"

namespace lumarin {

namespace {

using sni::kItemInterface;
using sni::kItemPath;
using sni::kMenuInterface;
using sni::kWatcherInterface;
using sni::kWatcherPath;
using sni::kWatcherService;
constexpr const char* kProperties = sni::kPropertiesInterface;
constexpr const char* kBusService = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
constexpr std::size_t kMaxText = 1024;
constexpr std::array<Duration, 4> kRetryDelays = {std::chrono::seconds(2), std::chrono::seconds(10),
                                                  std::chrono::seconds(30),
                                                  std::chrono::minutes(2)};

constexpr const char* kWatcherIntrospection =
    R"xml(  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
    <signal name="StatusNotifierHostUnregistered"/>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
    <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
  </interface>
)xml";

// A registration as watchers list it: "<bus name><object path>", or a bus name alone for an
// item at the usual path.
std::pair<std::string, std::string> splitEntry(const std::string& entry) {
  const auto slash = entry.find('/');
  if (slash == std::string::npos) {
    return {entry, kItemPath};
  }
  return {entry.substr(0, slash), entry.substr(slash)};
}

std::string clipped(const QString& text) {
  std::string out = text.left(static_cast<qsizetype>(kMaxText)).toStdString();
  return out;
}

std::string textOf(const QVariant& value) {
  if (value.metaType() == QMetaType::fromType<QString>()) {
    return clipped(value.toString());
  }
  if (value.metaType() == QMetaType::fromType<QDBusObjectPath>()) {
    return clipped(value.value<QDBusObjectPath>().path());
  }
  return {};
}

// The argument inside a property value when it has the signature `signature`.
std::optional<QDBusArgument> argumentOf(const QVariant& value, const char* signature) {
  if (value.metaType() != QMetaType::fromType<QDBusArgument>()) {
    return std::nullopt;
  }
  auto argument = value.value<QDBusArgument>();
  if (argument.currentSignature() != QLatin1String(signature)) {
    return std::nullopt;
  }
  return argument;
}

}  // namespace

class SniTrayHost::Impl : public std::enable_shared_from_this<Impl> {
 public:
  Impl(Scheduler& scheduler, SystemLog& log, Options options)
      : scheduler_(scheduler), log_(log), options_(std::move(options)) {}

  ~Impl() {
    if (connection_ && connection_->isConnected()) {
      if (isWatcher_) {
        connection_->unregisterObject(kWatcherPath);
        connection_->unregisterService(kWatcherService);
      }
      connection_->unregisterService(hostName_);
    }
    // The watchers and the sink go before the connection they listen on.
    serviceWatcher_.reset();
    sink_.reset();
    context_.reset();
    connection_.reset();
    if (!connectionName_.isEmpty()) {
      QDBusConnection::disconnectFromBus(connectionName_);
    }
  }

  void start() {
    if (started_) {
      return;
    }
    started_ = true;
    dbus::registerTypes();
    // A name of its own: QtDBus hands out an existing connection of the same name, whatever
    // its address.
    static int hosts = 0;
    const QString name = QStringLiteral("lumarin-tray-host-%1").arg(++hosts);
    connectionName_ = name;
    connection_ = std::make_unique<QDBusConnection>(
        options_.busAddress.empty()
            ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)
            : QDBusConnection::connectToBus(QString::fromStdString(options_.busAddress), name));
    if (!connection_->isConnected()) {
      log_.log("tray host: no session bus (" + connection_->lastError().message().toStdString() +
               "); other apps' tray items are not shown");
      return;
    }
    context_ = std::make_unique<QObject>();
    std::weak_ptr<Impl> weak = weak_from_this();
    sink_ = std::make_unique<DBusSignalSink>([weak](const QDBusMessage& message) {
      if (auto self = weak.lock()) {
        self->signalReceived(message);
      }
    });
    for (const char* signal : {"NewIcon", "NewAttentionIcon", "NewOverlayIcon", "NewTitle",
                               "NewToolTip", "NewStatus", "NewMenu", "XAyatanaNewLabel"}) {
      connection_->connect(QString(), QString(), kItemInterface, signal, sink_.get(),
                           SLOT(received(QDBusMessage)));
    }
    for (const char* signal : {"StatusNotifierItemRegistered", "StatusNotifierItemUnregistered"}) {
      connection_->connect(kWatcherService, kWatcherPath, kWatcherInterface, signal, sink_.get(),
                           SLOT(received(QDBusMessage)));
    }
    // An exported menu that changed: what was read of it is stale.
    for (const char* signal : {"LayoutUpdated", "ItemsPropertiesUpdated"}) {
      connection_->connect(QString(), QString(), kMenuInterface, signal, sink_.get(),
                           SLOT(received(QDBusMessage)));
    }
    connection_->connect(kBusService, kBusPath, kBusService, "NameOwnerChanged", sink_.get(),
                         SLOT(received(QDBusMessage)));
    hostName_ = QStringLiteral("org.kde.StatusNotifierHost-%1-lumarin")
                    .arg(QCoreApplication::applicationPid());
    (void)connection_->registerService(hostName_);
    serviceWatcher_ = std::make_unique<QDBusServiceWatcher>(
        kWatcherService, *connection_, QDBusServiceWatcher::WatchForOwnerChange);
    QObject::connect(serviceWatcher_.get(), &QDBusServiceWatcher::serviceOwnerChanged,
                     context_.get(),
                     [weak](const QString&, const QString&, const QString& newOwner) {
                       if (auto self = weak.lock()) {
                         self->watcherOwnerChanged(newOwner);
                       }
                     });
    const auto owner = connection_->interface()->serviceOwner(kWatcherService);
    watcherOwnerChanged(owner.isValid() ? owner.value() : QString());
  }

  bool isWatcher() const { return isWatcher_; }
  const Observable<std::vector<TrayItem>>& items() const { return items_; }

  void call(const std::string& key, const char* method, const QVariantList& arguments, Done done) {
    const auto found = entries_.find(key);
    if (!connection_ || !connection_->isConnected() || found == entries_.end()) {
      if (done) {
        scheduler_.mainQueue().post([done = std::move(done)] {
          done(CallResult{false, "no such item"});
        });
      }
      return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromStdString(found->second.item.service),
        QString::fromStdString(found->second.item.path), kItemInterface, method);
    message.setArguments(arguments);
    auto* pending = new QDBusPendingCallWatcher(
        connection_->asyncCall(message, options_.callTimeoutMs), context_.get());
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, context_.get(),
                     [done = std::move(done)](QDBusPendingCallWatcher* watcher) {
                       watcher->deleteLater();
                       if (!done) {
                         return;
                       }
                       const QDBusMessage reply = watcher->reply();
                       if (reply.type() == QDBusMessage::ReplyMessage) {
                         done(CallResult{true, {}});
                       } else {
                         done(CallResult{false, reply.errorName().toStdString()});
                       }
                     });
  }

  void readMenu(const std::string& key, std::function<void(std::optional<Menu>)> done) {
    const auto found = entries_.find(key);
    if (!connection_ || !connection_->isConnected() || found == entries_.end() ||
        found->second.item.menuPath.empty()) {
      scheduler_.mainQueue().post([done = std::move(done)] { done(std::nullopt); });
      return;
    }
    const QString service = QString::fromStdString(found->second.item.service);
    const QString path = QString::fromStdString(found->second.item.menuPath);
    // Apps may fill the menu when told it is about to show; the answer does not matter.
    QDBusMessage aboutToShow =
        QDBusMessage::createMethodCall(service, path, kMenuInterface, "AboutToShow");
    aboutToShow << 0;
    (void)connection_->asyncCall(aboutToShow, options_.callTimeoutMs);
    QDBusMessage getLayout =
        QDBusMessage::createMethodCall(service, path, kMenuInterface, "GetLayout");
    getLayout << 0 << -1 << QStringList{};
    auto* pending = new QDBusPendingCallWatcher(
        connection_->asyncCall(getLayout, options_.callTimeoutMs), context_.get());
    const int pixels = options_.tilePixels;
    QObject::connect(
        pending, &QDBusPendingCallWatcher::finished, context_.get(),
        [done = std::move(done), pixels](QDBusPendingCallWatcher* watcher) {
          watcher->deleteLater();
          const QDBusMessage reply = watcher->reply();
          if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2 ||
              reply.arguments()[1].metaType() != QMetaType::fromType<QDBusArgument>()) {
            done(std::nullopt);
            return;
          }
          const auto argument = reply.arguments()[1].value<QDBusArgument>();
          if (argument.currentSignature() != QLatin1String("(ia{sv}av)")) {
            done(std::nullopt);
            return;
          }
          DBusMenuLimits limits;
          limits.iconPixels = pixels;
          done(menuFromLayout(qdbus_cast<dbus::MenuLayoutItem>(argument), limits));
        });
  }

  void menuEvent(const std::string& key, const MenuItem& entry, const std::string& event) {
    const auto found = entries_.find(key);
    const auto id = dbusMenuEntryID(entry);
    if (!connection_ || !connection_->isConnected() || found == entries_.end() || !id ||
        found->second.item.menuPath.empty()) {
      return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromStdString(found->second.item.service),
        QString::fromStdString(found->second.item.menuPath), kMenuInterface, "Event");
    message << *id << QString::fromStdString(event) << QVariant::fromValue(QDBusVariant(0)) << 0u;
    (void)connection_->asyncCall(message, options_.callTimeoutMs);
  }

 private:
  struct Entry {
    TrayItem item;
    std::string owner;  // the unique name behind the item's bus name
    bool answered = false;
    bool reading = false;
    bool dirty = false;
    bool readScheduled = false;
    std::size_t retries = 0;
    std::string registeredAs;  // as the watcher lists it
    std::string iconThemePath;
  };

  // The watcher's name changed hands: become its host, or the watcher when no one holds it.
  void watcherOwnerChanged(const QString& owner) {
    const QString self = connection_->baseService();
    if (owner == self) {
      return;
    }
    if (isWatcher_ && !owner.isEmpty()) {
      // Handed over (or replaced): the new owner gets every item we held by a bus name.
      stopBeingWatcher();
      log_.log("tray host: the tray's watcher is now " + owner.toStdString());
      for (const auto& [key, entry] : entries_) {
        if (entry.item.path == kItemPath && entry.item.service.rfind(':', 0) != 0) {
          QDBusMessage reg = QDBusMessage::createMethodCall(
              kWatcherService, kWatcherPath, kWatcherInterface, "RegisterStatusNotifierItem");
          reg << QString::fromStdString(entry.item.service);
          connection_->call(reg, QDBus::NoBlock);
        }
      }
    }
    if (owner.isEmpty()) {
      if (options_.mayBeWatcher) {
        becomeWatcher();
      } else {
        log_.log("tray host: no tray watcher on the session bus");
      }
      return;
    }
    registerAsHost();
    readRegisteredItems();
  }

  void registerAsHost() {
    QDBusMessage reg = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, kWatcherInterface, "RegisterStatusNotifierHost");
    reg << hostName_;
    connection_->call(reg, QDBus::NoBlock);
  }

  void readRegisteredItems() {
    QDBusMessage get =
        QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kProperties, "Get");
    get << QString(kWatcherInterface) << QString("RegisteredStatusNotifierItems");
    auto* pending = new QDBusPendingCallWatcher(connection_->asyncCall(get, options_.callTimeoutMs),
                                                context_.get());
    std::weak_ptr<Impl> weak = weak_from_this();
    QObject::connect(
        pending, &QDBusPendingCallWatcher::finished, context_.get(),
        [weak](QDBusPendingCallWatcher* watcher) {
          watcher->deleteLater();
          auto self = weak.lock();
          const QDBusMessage reply = watcher->reply();
          if (!self || reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            return;
          }
          const QVariant value = reply.arguments()[0].value<QDBusVariant>().variant();
          for (const QString& entry : value.toStringList()) {
            self->added(entry.toStdString());
          }
        });
  }

  // --- the watcher's side, while no one else runs one ---

  class WatcherObject final : public QDBusVirtualObject {
   public:
    explicit WatcherObject(Impl& impl) : impl_(impl) {}
    QString introspect(const QString& /*path*/) const override {
      return QString::fromLatin1(kWatcherIntrospection);
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
      return impl_.handleWatcherCall(message, connection);
    }

   private:
    Impl& impl_;
  };

  void becomeWatcher() {
    watcherObject_ = std::make_unique<WatcherObject>(*this);
    connection_->registerVirtualObject(kWatcherPath, watcherObject_.get(),
                                       QDBusConnection::SingleNode);
    const auto reply = connection_->interface()->registerService(
        kWatcherService, QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::AllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
      // Someone took it meanwhile: host theirs instead (their arrival is told separately).
      connection_->unregisterObject(kWatcherPath);
      watcherObject_.reset();
      return;
    }
    isWatcher_ = true;
    log_.log("tray host: no tray watcher on the session bus; Lumarin is the watcher");
    // The items we know stay registered with us; apps re-register as a watcher appears.
    for (auto& [key, entry] : entries_) {
      entry.registeredAs = entry.item.service + entry.item.path;
    }
  }

  void stopBeingWatcher() {
    isWatcher_ = false;
    connection_->unregisterObject(kWatcherPath);
    watcherObject_.reset();
  }

  std::vector<std::string> registrations() const {
    std::vector<std::pair<std::uint64_t, std::string>> ordered;
    for (const auto& [key, entry] : entries_) {
      ordered.emplace_back(entry.item.order, entry.registeredAs.empty() ? key : entry.registeredAs);
    }
    std::sort(ordered.begin(), ordered.end());
    std::vector<std::string> out;
    out.reserve(ordered.size());
    for (auto& [order, name] : ordered) {
      out.push_back(std::move(name));
    }
    return out;
  }

  bool handleWatcherCall(const QDBusMessage& message, const QDBusConnection& connection) {
    if (!isWatcher_) {
      return false;
    }
    const QString member = message.member();
    const QString interface = message.interface();
    const auto args = message.arguments();
    if (interface == QLatin1String("org.freedesktop.DBus.Introspectable")) {
      return false;  // QtDBus answers from introspect()
    }
    if (member == QLatin1String("RegisterStatusNotifierItem") && args.size() == 1) {
      const std::string given = args[0].toString().toStdString();
      std::string service = given;
      std::string path = kItemPath;
      if (given.rfind('/', 0) == 0) {
        service = message.service().toStdString();
        path = given;
      }
      if (service.empty()) {
        connection.send(message.createErrorReply(QDBusError::InvalidArgs, "no item named"));
        return true;
      }
      connection.send(message.createReply());
      const std::string entry = service + path;
      if (entries_.count(entry) == 0) {
        added(entry);
        QDBusMessage signal = QDBusMessage::createSignal(kWatcherPath, kWatcherInterface,
                                                         "StatusNotifierItemRegistered");
        signal << QString::fromStdString(entry);
        connection_->send(signal);
      }
      return true;
    }
    if (member == QLatin1String("RegisterStatusNotifierHost")) {
      connection.send(message.createReply());
      connection_->send(QDBusMessage::createSignal(kWatcherPath, kWatcherInterface,
                                                   "StatusNotifierHostRegistered"));
      checkForQueuedHost();
      return true;
    }
    if (interface == QLatin1String(kProperties) &&
        (member == QLatin1String("Get") || member == QLatin1String("GetAll"))) {
      QStringList items;
      for (const auto& entry : registrations()) {
        items << QString::fromStdString(entry);
      }
      const QVariantMap all{{"RegisteredStatusNotifierItems", items},
                            {"IsStatusNotifierHostRegistered", true},
                            {"ProtocolVersion", 0}};
      if (member == QLatin1String("GetAll")) {
        connection.send(message.createReply(QVariant::fromValue(all)));
      } else {
        const QString name = args.size() == 2 ? args[1].toString() : QString();
        if (!all.contains(name)) {
          connection.send(message.createErrorReply(QDBusError::UnknownProperty, name));
        } else {
          connection.send(message.createReply(QVariant::fromValue(QDBusVariant(all[name]))));
        }
      }
      // A tray host waiting for the name reads these first: time to hand over.
      checkForQueuedHost();
      return true;
    }
    return false;
  }

  // Gives the watcher's name to the first connection queued for it, if any.
  void checkForQueuedHost() {
    if (checkingQueue_) {
      return;
    }
    checkingQueue_ = true;
    QDBusMessage list =
        QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, "ListQueuedOwners");
    list << QString(kWatcherService);
    auto* pending = new QDBusPendingCallWatcher(
        connection_->asyncCall(list, options_.callTimeoutMs), context_.get());
    std::weak_ptr<Impl> weak = weak_from_this();
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, context_.get(),
                     [weak](QDBusPendingCallWatcher* watcher) {
                       watcher->deleteLater();
                       auto self = weak.lock();
                       if (!self) {
                         return;
                       }
                       self->checkingQueue_ = false;
                       const QDBusMessage reply = watcher->reply();
                       if (!self->isWatcher_ || reply.type() != QDBusMessage::ReplyMessage ||
                           reply.arguments().isEmpty()) {
                         return;
                       }
                       const QStringList queued = reply.arguments()[0].toStringList();
                       if (queued.size() > 1) {
                         self->log_.log(
                             "tray host: a tray host waits for the watcher's name; "
                             "handing it over");
                         self->connection_->unregisterService(kWatcherService);
                       }
                     });
  }

  // --- items ---

  void added(const std::string& registered) {
    auto [service, path] = splitEntry(registered);
    if (service.empty() || path.empty()) {
      return;
    }
    const std::string key = service + path;
    if (entries_.count(key) != 0) {
      return;
    }
    if (entries_.size() >= kMaxItems) {
      log_.log("tray host: more than " + std::to_string(kMaxItems) + " tray items; " + key +
               " is left out");
      return;
    }
    Entry entry;
    entry.item.key = key;
    entry.item.service = service;
    entry.item.path = path;
    entry.item.order = ++order_;
    entry.registeredAs = registered;
    if (service.rfind(':', 0) == 0) {
      entry.owner = service;
    } else {
      const auto owner = connection_->interface()->serviceOwner(QString::fromStdString(service));
      entry.owner = owner.isValid() ? owner.value().toStdString() : std::string();
      if (entry.owner.empty()) {
        return;  // gone already
      }
    }
    entries_.emplace(key, std::move(entry));
    read(key);
  }

  void removed(const std::string& key) {
    if (entries_.erase(key) == 0) {
      return;
    }
    if (isWatcher_) {
      QDBusMessage signal = QDBusMessage::createSignal(kWatcherPath, kWatcherInterface,
                                                       "StatusNotifierItemUnregistered");
      signal << QString::fromStdString(key);
      connection_->send(signal);
    }
    schedulePublish();
  }

  // Reads every property of the item, unless a read is under way (then once more after it).
  void read(const std::string& key) {
    auto found = entries_.find(key);
    if (found == entries_.end()) {
      return;
    }
    Entry& entry = found->second;
    if (entry.reading) {
      entry.dirty = true;
      return;
    }
    entry.reading = true;
    QDBusMessage getAll = QDBusMessage::createMethodCall(QString::fromStdString(entry.item.service),
                                                         QString::fromStdString(entry.item.path),
                                                         kProperties, "GetAll");
    getAll << QString(kItemInterface);
    auto* pending = new QDBusPendingCallWatcher(
        connection_->asyncCall(getAll, options_.callTimeoutMs), context_.get());
    std::weak_ptr<Impl> weak = weak_from_this();
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, context_.get(),
                     [weak, key](QDBusPendingCallWatcher* watcher) {
                       watcher->deleteLater();
                       if (auto self = weak.lock()) {
                         self->propertiesRead(key, watcher->reply());
                       }
                     });
  }

  void propertiesRead(const std::string& key, const QDBusMessage& reply) {
    auto found = entries_.find(key);
    if (found == entries_.end()) {
      return;
    }
    Entry& entry = found->second;
    entry.reading = false;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
      if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")) {
        removed(key);
        return;
      }
      if (saidUnanswered_.insert(key).second) {
        log_.log("tray host: " + key + " did not answer (" + reply.errorName().toStdString() + ")");
      }
      // An app that is busy or stopped may answer later: asked again a few times, further
      // apart each time, then only when it signals a change.
      if (entry.retries < kRetryDelays.size() && !entry.dirty) {
        const Duration delay = kRetryDelays[entry.retries++];
        std::weak_ptr<Impl> weak = weak_from_this();
        scheduler_.mainQueue().postAfter(delay, [weak, key] {
          if (auto self = weak.lock()) {
            self->read(key);
          }
        });
      }
    } else {
      entry.retries = 0;
      apply(entry, qdbus_cast<QVariantMap>(reply.arguments()[0]));
      entry.answered = true;
      entry.item.answered = true;
      schedulePublish();
    }
    if (entry.dirty) {
      entry.dirty = false;
      read(key);
    }
  }

  void apply(Entry& entry, const QVariantMap& properties) {
    TrayItem& item = entry.item;
    item.id = textOf(properties.value("Id"));
    item.category = textOf(properties.value("Category"));
    item.status = textOf(properties.value("Status"));
    item.iconName = textOf(properties.value("IconName"));
    entry.iconThemePath = textOf(properties.value("IconThemePath"));
    item.menuPath = textOf(properties.value("Menu"));
    const QVariant isMenu = properties.value("ItemIsMenu");
    item.itemIsMenu = isMenu.metaType() == QMetaType::fromType<bool>() && isMenu.toBool();
    std::string toolTipTitle;
    if (auto argument = argumentOf(properties.value("ToolTip"), "(sa(iiay)ss)")) {
      toolTipTitle = clipped(qdbus_cast<dbus::ToolTip>(*argument).title);
    }
    const std::string title = textOf(properties.value("Title"));
    item.title = !title.empty() ? title : !toolTipTitle.empty() ? toolTipTitle : item.id;
    const bool attention = item.status == "NeedsAttention";
    // The pixmaps first, then the named icon; the attention pair first while it needs it.
    std::shared_ptr<const Image> picture;
    std::string source;
    const auto fromPixmaps = [&](const char* property) {
      if (auto argument = argumentOf(properties.value(property), "a(iiay)"); argument && !picture) {
        picture = bestTrayPixmap(qdbus_cast<dbus::IconPixmapList>(*argument), options_.tilePixels);
        source = picture ? "pixmap" : "";
      }
    };
    const auto fromName = [&](const std::string& name) {
      if (!picture) {
        picture = namedTrayIcon(name, entry.iconThemePath, options_.tilePixels);
        source = picture ? "icon" : "";
      }
    };
    if (attention) {
      fromPixmaps("AttentionIconPixmap");
      fromName(textOf(properties.value("AttentionIconName")));
    }
    fromPixmaps("IconPixmap");
    fromName(item.iconName);
    item.pictureSource = source;
    // The same pixels keep the same picture, so a refresh that changed nothing publishes
    // nothing.
    if (picture && item.picture && picture->rgba == item.picture->rgba &&
        picture->pixelWidth == item.picture->pixelWidth) {
      picture = item.picture;
    }
    item.picture = std::move(picture);
  }

  void signalReceived(const QDBusMessage& message) {
    const QString member = message.member();
    if (message.interface() == QLatin1String(kBusService)) {
      // NameOwnerChanged(name, old, new): an app left the bus.
      const auto args = message.arguments();
      if (args.size() == 3 && args[2].toString().isEmpty()) {
        const std::string gone = args[0].toString().toStdString();
        std::vector<std::string> keys;
        for (const auto& [key, entry] : entries_) {
          if (entry.owner == gone || entry.item.service == gone) {
            keys.push_back(key);
          }
        }
        for (const auto& key : keys) {
          removed(key);
        }
      }
      return;
    }
    if (message.interface() == QLatin1String(kWatcherInterface)) {
      if (isWatcher_ || message.service() == connection_->baseService() ||
          message.arguments().isEmpty()) {
        return;
      }
      const std::string registered = message.arguments()[0].toString().toStdString();
      if (member == QLatin1String("StatusNotifierItemRegistered")) {
        added(registered);
      } else {
        auto [service, path] = splitEntry(registered);
        removed(service + path);
      }
      return;
    }
    const std::string sender = message.service().toStdString();
    const std::string path = message.path().toStdString();
    if (message.interface() == QLatin1String(kMenuInterface)) {
      // Its menu changed: a new revision, published with the frame (a menu that keeps changing
      // costs one publication per frame, and nothing is read until someone asks).
      bool changed = false;
      for (auto& [key, entry] : entries_) {
        if (entry.owner == sender && entry.item.menuPath == path) {
          ++entry.item.menuRevision;
          changed = true;
        }
      }
      if (changed) {
        schedulePublish();
      }
      return;
    }
    // One of an item's change signals: read its properties again once the frame is over.
    for (auto& [key, entry] : entries_) {
      if (entry.owner == sender && entry.item.path == path && !entry.readScheduled) {
        entry.readScheduled = true;
        std::weak_ptr<Impl> weak = weak_from_this();
        scheduler_.mainQueue().postAfter(options_.coalescing, [weak, key = key] {
          if (auto self = weak.lock()) {
            if (auto again = self->entries_.find(key); again != self->entries_.end()) {
              again->second.readScheduled = false;
              self->read(key);
            }
          }
        });
      }
    }
  }

  void schedulePublish() {
    if (publishScheduled_) {
      return;
    }
    publishScheduled_ = true;
    std::weak_ptr<Impl> weak = weak_from_this();
    scheduler_.mainQueue().post([weak] {
      if (auto self = weak.lock()) {
        self->publishScheduled_ = false;
        self->publish();
      }
    });
  }

  void publish() {
    std::vector<TrayItem> list;
    for (const auto& [key, entry] : entries_) {
      if (entry.answered) {
        list.push_back(entry.item);
      }
    }
    std::sort(list.begin(), list.end(),
              [](const TrayItem& a, const TrayItem& b) { return a.order < b.order; });
    if (list != *items_) {
      items_.set(std::move(list));
    }
  }

  Scheduler& scheduler_;
  SystemLog& log_;
  Options options_;
  bool started_ = false;
  bool isWatcher_ = false;
  bool checkingQueue_ = false;
  bool publishScheduled_ = false;
  std::unique_ptr<QDBusConnection> connection_;
  std::unique_ptr<QObject> context_;
  std::unique_ptr<DBusSignalSink> sink_;
  std::unique_ptr<QDBusServiceWatcher> serviceWatcher_;
  std::unique_ptr<WatcherObject> watcherObject_;
  QString hostName_;
  QString connectionName_;
  std::map<std::string, Entry> entries_;
  std::set<std::string> saidUnanswered_;
  std::uint64_t order_ = 0;
  Observable<std::vector<TrayItem>> items_;
};

SniTrayHost::SniTrayHost(Scheduler& scheduler, SystemLog& log, Options options)
    : impl_(std::make_shared<Impl>(scheduler, log, std::move(options))) {}

SniTrayHost::~SniTrayHost() = default;

void SniTrayHost::start() { impl_->start(); }
bool SniTrayHost::isWatcher() const { return impl_->isWatcher(); }
const Observable<std::vector<TrayItem>>& SniTrayHost::items() const { return impl_->items(); }

void SniTrayHost::activate(const std::string& key, int x, int y, Done done) {
  impl_->call(key, "Activate", {x, y}, std::move(done));
}
void SniTrayHost::secondaryActivate(const std::string& key, int x, int y, Done done) {
  impl_->call(key, "SecondaryActivate", {x, y}, std::move(done));
}
void SniTrayHost::contextMenu(const std::string& key, int x, int y, Done done) {
  impl_->call(key, "ContextMenu", {x, y}, std::move(done));
}
void SniTrayHost::scroll(const std::string& key, int delta, const std::string& orientation,
                         Done done) {
  impl_->call(key, "Scroll", {delta, QString::fromStdString(orientation)}, std::move(done));
}
void SniTrayHost::readMenu(const std::string& key, std::function<void(std::optional<Menu>)> done) {
  impl_->readMenu(key, std::move(done));
}
void SniTrayHost::menuEvent(const std::string& key, const MenuItem& entry,
                            const std::string& event) {
  impl_->menuEvent(key, entry, event);
}

}  // namespace lumarin
