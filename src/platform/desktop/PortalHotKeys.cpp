#include "platform/desktop/PortalHotKeys.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <map>

#include "platform/Scheduler.h"
#include "platform/SystemLog.h"
#include "platform/desktop/DBusTypes.h"
#include "platform/desktop/X11HotKeys.h"
#include "platform/host/DBusSignalSink.h"

namespace lumarin {

namespace {

constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kShortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
constexpr const char* kRegistryInterface = "org.freedesktop.host.portal.Registry";

// The keysym's name as triggers write it; empty for keys without one here.
std::string keyName(std::uint32_t keysym) {
  static const std::map<std::uint32_t, const char*> kNames = {
      {',', "comma"},       {'.', "period"},      {'/', "slash"},        {';', "semicolon"},
      {'\'', "apostrophe"}, {'[', "bracketleft"}, {']', "bracketright"}, {'\\', "backslash"},
      {'-', "minus"},       {'=', "equal"},       {'`', "grave"},        {' ', "space"},
      {0xff0d, "Return"},   {0xff09, "Tab"},      {0xff08, "BackSpace"}, {0xff1b, "Escape"}};
  if ((keysym >= 'a' && keysym <= 'z') || (keysym >= '0' && keysym <= '9')) {
    return std::string(1, static_cast<char>(keysym));
  }
  if (keysym >= 0xffbe && keysym <= 0xffc9) {
    return "F" + std::to_string(keysym - 0xffbe + 1);
  }
  const auto named = kNames.find(keysym);
  return named == kNames.end() ? std::string() : named->second;
}

QString shortcutID(HotKeyID identity) { return QStringLiteral("shortcut-%1").arg(identity.id); }

}  // namespace

std::string PortalHotKeys::triggerFor(std::uint32_t keyCode, std::uint32_t modifiers) {
  const std::string key = keyName(X11HotKeys::keysymForKeyCode(keyCode));
  if (key.empty()) {
    return {};
  }
  std::string out;
  if ((modifiers & 0x1000) != 0) {
    out += "CTRL+";
  }
  if ((modifiers & 0x800) != 0) {
    out += "ALT+";
  }
  if ((modifiers & 0x200) != 0) {
    out += "SHIFT+";
  }
  if ((modifiers & 0x100) != 0) {
    out += "LOGO+";
  }
  return out + key;
}

class PortalHotKeys::Impl : public std::enable_shared_from_this<Impl> {
 public:
  Impl(Scheduler& scheduler, SystemLog& log, Options options)
      : scheduler_(scheduler), log_(log), options_(std::move(options)) {}

  ~Impl() {
    sink_.reset();
    if (connection_) {
      QDBusConnection::disconnectFromBus(connectionName_);
    }
  }

  void start() {
    dbus::registerTypes();
    static int connections = 0;
    connectionName_ = QStringLiteral("lumarin-portal-shortcuts-%1").arg(++connections);
    connection_ = std::make_unique<QDBusConnection>(
        options_.busAddress.empty()
            ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_)
            : QDBusConnection::connectToBus(QString::fromStdString(options_.busAddress),
                                            connectionName_));
    if (!connection_->isConnected()) {
      return;
    }
    QDBusMessage version = QDBusMessage::createMethodCall(kPortalService, kPortalPath,
                                                          "org.freedesktop.DBus.Properties", "Get");
    version << QString(kShortcutsInterface) << QString("version");
    const QDBusMessage reply = connection_->call(version, QDBus::Block, options_.callTimeoutMs);
    available_ = reply.type() == QDBusMessage::ReplyMessage;
    if (!available_) {
      return;
    }
    // A portal that asks host programs who they are gets our id; older ones know no registry.
    QDBusMessage registry =
        QDBusMessage::createMethodCall(kPortalService, kPortalPath, kRegistryInterface, "Register");
    registry << QString::fromStdString(options_.appID) << QVariantMap();
    connection_->call(registry, QDBus::NoBlock);
    std::weak_ptr<Impl> weak = weak_from_this();
    sink_ = std::make_unique<DBusSignalSink>([weak](const QDBusMessage& message) {
      if (auto self = weak.lock()) {
        self->signalReceived(message);
      }
    });
    connection_->connect(kPortalService, QString(), kRequestInterface, "Response", sink_.get(),
                         SLOT(received(QDBusMessage)));
    connection_->connect(kPortalService, kPortalPath, kShortcutsInterface, "Activated", sink_.get(),
                         SLOT(received(QDBusMessage)));
  }

  bool available() const { return available_; }

  Handle add(std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID identity) {
    const Handle handle = next_++;
    shortcuts_[handle] = Shortcut{identity, keyCode, modifiers};
    scheduleBind();
    return handle;
  }

  void remove(Handle handle) {
    if (shortcuts_.erase(handle) != 0) {
      scheduleBind();
    }
  }

  std::function<int(std::optional<HotKeyID>)> handler;
  std::function<void(Handle, int)> observer;

 private:
  struct Shortcut {
    HotKeyID identity;
    std::uint32_t keyCode = 0;
    std::uint32_t modifiers = 0;
  };

  // Registrations of one turn of the event loop are bound together.
  void scheduleBind() {
    if (bindScheduled_ || !available_) {
      return;
    }
    bindScheduled_ = true;
    std::weak_ptr<Impl> weak = weak_from_this();
    scheduler_.mainQueue().post([weak] {
      if (auto self = weak.lock()) {
        self->bindScheduled_ = false;
        self->bind();
      }
    });
  }

  void bind() {
    if (session_.isEmpty()) {
      createSession();
      return;
    }
    if (binding_) {
      bindAgain_ = true;
      return;
    }
    dbus::PortalShortcutList list;
    std::map<QString, Handle> handles;
    for (const auto& [handle, shortcut] : shortcuts_) {
      const std::string trigger = triggerFor(shortcut.keyCode, shortcut.modifiers);
      QVariantMap properties;
      properties.insert(
          "description",
          QStringLiteral("Lumarin: %1").arg(QString::fromStdString(trigger).toLower()));
      if (!trigger.empty()) {
        properties.insert("preferred_trigger", QString::fromStdString(trigger));
      }
      list.push_back(dbus::PortalShortcut{shortcutID(shortcut.identity), properties});
      handles[shortcutID(shortcut.identity)] = handle;
    }
    binding_ = true;
    std::weak_ptr<Impl> weak = weak_from_this();
    request(
        "BindShortcuts",
        [&list, this](QDBusMessage& call, const QVariantMap& options) {
          call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariant::fromValue(list)
               << QString() << options;
        },
        [weak, handles](uint response, const QVariantMap& results) {
          auto self = weak.lock();
          if (!self) {
            return;
          }
          self->binding_ = false;
          self->bound(response, results, handles);
          if (self->bindAgain_) {
            self->bindAgain_ = false;
            self->bind();
          }
        });
  }

  void bound(uint response, const QVariantMap& results, const std::map<QString, Handle>& handles) {
    std::map<QString, bool> given;
    if (response == 0) {
      const auto list =
          qdbus_cast<dbus::PortalShortcutList>(results.value("shortcuts").value<QDBusArgument>());
      for (const auto& shortcut : list) {
        given[shortcut.id] = true;
      }
    }
    for (const auto& [id, handle] : handles) {
      if (shortcuts_.count(handle) == 0) {
        continue;  // unregistered meanwhile
      }
      const int status = response != 0 ? -1 : (given.count(id) != 0 ? 0 : kHotKeyExistsErr);
      if (status != 0) {
        log_.log("global shortcuts: " + id.toStdString() +
                 (response != 0 ? " was not bound (the request was refused)"
                                : " was not bound (the desktop gave it to no one or another)"));
      }
      if (observer) {
        observer(handle, status);
      }
    }
  }

  void createSession() {
    if (creatingSession_) {
      return;
    }
    creatingSession_ = true;
    std::weak_ptr<Impl> weak = weak_from_this();
    request(
        "CreateSession",
        [this](QDBusMessage& call, QVariantMap options) {
          options.insert("session_handle_token", QStringLiteral("lumarin%1").arg(++tokens_));
          call << options;
        },
        [weak](uint response, const QVariantMap& results) {
          auto self = weak.lock();
          if (!self) {
            return;
          }
          self->creatingSession_ = false;
          const QVariant handle = results.value("session_handle");
          self->session_ = handle.canConvert<QDBusObjectPath>() &&
                                   handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
                               ? handle.value<QDBusObjectPath>().path()
                               : handle.toString();
          if (response != 0 || self->session_.isEmpty()) {
            self->log_.log("global shortcuts: the portal gave no session (response " +
                           std::to_string(response) + ")");
            for (const auto& [h, shortcut] : self->shortcuts_) {
              if (self->observer) {
                self->observer(h, -1);
              }
            }
            return;
          }
          self->bind();
        });
  }

  // A portal request: the call with a fresh handle token in its options, and the answer that
  // comes as the Response signal on the request's object.
  void request(const char* method, const std::function<void(QDBusMessage&, QVariantMap)>& arguments,
               std::function<void(uint, const QVariantMap&)> onResponse) {
    const QString token = QStringLiteral("lumarin%1").arg(++tokens_);
    QString sender = connection_->baseService().mid(1);
    sender.replace('.', '_');
    const QString path =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    pending_[path] = std::move(onResponse);
    QDBusMessage call =
        QDBusMessage::createMethodCall(kPortalService, kPortalPath, kShortcutsInterface, method);
    QVariantMap options;
    options.insert("handle_token", token);
    arguments(call, options);
    auto* watcher = new QDBusPendingCallWatcher(
        connection_->asyncCall(call, options_.callTimeoutMs), sink_.get());
    std::weak_ptr<Impl> weak = weak_from_this();
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, sink_.get(),
        [weak, path](QDBusPendingCallWatcher* finished) {
          finished->deleteLater();
          auto self = weak.lock();
          if (!self) {
            return;
          }
          const QDBusMessage reply = finished->reply();
          if (reply.type() != QDBusMessage::ReplyMessage) {
            // No request object: the answer is the error.
            if (auto waiting = self->pending_.find(path); waiting != self->pending_.end()) {
              auto callback = std::move(waiting->second);
              self->pending_.erase(waiting);
              callback(2, {});
            }
            return;
          }
          // An older portal may name the request differently.
          const QString given = reply.arguments().value(0).value<QDBusObjectPath>().path();
          if (!given.isEmpty() && given != path) {
            if (auto waiting = self->pending_.find(path); waiting != self->pending_.end()) {
              self->pending_[given] = std::move(waiting->second);
              self->pending_.erase(path);
            }
          }
        });
  }

  void signalReceived(const QDBusMessage& message) {
    const auto args = message.arguments();
    if (message.member() == QLatin1String("Response") && args.size() == 2) {
      const auto waiting = pending_.find(message.path());
      if (waiting == pending_.end()) {
        return;
      }
      auto callback = std::move(waiting->second);
      pending_.erase(waiting);
      const QVariantMap results = qdbus_cast<QVariantMap>(args[1]);
      callback(args[0].toUInt(), results);
      return;
    }
    if (message.member() == QLatin1String("Activated") && args.size() >= 2) {
      const QString session = args[0].value<QDBusObjectPath>().path();
      if (session != session_) {
        return;
      }
      const QString id = args[1].toString();
      for (const auto& [handle, shortcut] : shortcuts_) {
        if (shortcutID(shortcut.identity) == id && handler) {
          (void)handler(shortcut.identity);
          return;
        }
      }
    }
  }

  Scheduler& scheduler_;
  SystemLog& log_;
  Options options_;
  QString connectionName_;
  std::unique_ptr<QDBusConnection> connection_;
  std::unique_ptr<DBusSignalSink> sink_;
  bool available_ = false;
  QString session_;
  bool creatingSession_ = false;
  bool bindScheduled_ = false;
  bool binding_ = false;
  bool bindAgain_ = false;
  int tokens_ = 0;
  Handle next_ = 1;
  std::map<Handle, Shortcut> shortcuts_;
  std::map<QString, std::function<void(uint, const QVariantMap&)>> pending_;
};

PortalHotKeys::PortalHotKeys(Scheduler& scheduler, SystemLog& log, Options options)
    : impl_(std::make_shared<Impl>(scheduler, log, std::move(options))) {
  impl_->start();
}

PortalHotKeys::~PortalHotKeys() = default;

bool PortalHotKeys::available() const { return impl_->available(); }

int PortalHotKeys::registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID identity,
                                  Handle& handle) {
  if (!impl_->available()) {
    return -1;
  }
  handle = impl_->add(keyCode, modifiers, identity);
  return 0;
}

void PortalHotKeys::unregisterHotKey(Handle handle) { impl_->remove(handle); }

void PortalHotKeys::installHandler(std::function<int(std::optional<HotKeyID>)> handler) {
  impl_->handler = std::move(handler);
}

void PortalHotKeys::setStatusObserver(const std::function<void(Handle, int)>& observer) {
  impl_->observer = observer;
}

}  // namespace lumarin
