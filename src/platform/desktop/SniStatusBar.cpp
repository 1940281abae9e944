#include "platform/desktop/SniStatusBar.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <algorithm>
#include <atomic>

#include "platform/SystemLog.h"
#include "platform/desktop/DBusMenuExporter.h"
#include "platform/desktop/DBusTypes.h"
#include "platform/desktop/DesktopEvents.h"
#include "platform/desktop/SniNames.h"
#include "platform/desktop/TrayPixmap.h"

namespace lumarin {

namespace {

using sni::kItemInterface;
using sni::kItemPath;
using sni::kPropertiesInterface;
using sni::kWatcherInterface;
using sni::kWatcherPath;
using sni::kWatcherService;
// Some hosts address the item by the protocol's later, vendor-neutral interface name.
constexpr const char* kItemInterfaceAlias = "org.freedesktop.StatusNotifierItem";
constexpr const char* kMenuPath = "/MenuBar";
constexpr int kRegisterTimeoutMs = 5000;

constexpr const char* kItemIntrospection = R"xml(  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <property name="XAyatanaLabel" type="s" access="read"/>
    <property name="XAyatanaLabelGuide" type="s" access="read"/>
    <method name="ContextMenu">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Activate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="SecondaryActivate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Scroll">
      <arg name="delta" type="i" direction="in"/>
      <arg name="orientation" type="s" direction="in"/>
    </method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus">
      <arg name="status" type="s"/>
    </signal>
    <signal name="XAyatanaNewLabel">
      <arg name="label" type="s"/>
      <arg name="guide" type="s"/>
    </signal>
  </interface>
)xml";

// Bus names and connection names are per process: several bars (tests) must not collide.
std::atomic<int> nextItemNumber{1};

dbus::IconPixmapList toDBus(const std::vector<TrayPixmap>& pixmaps) {
  dbus::IconPixmapList out;
  for (const auto& p : pixmaps) {
    out.push_back({p.width, p.height,
                   QByteArray(reinterpret_cast<const char*>(p.argb.data()),
                              static_cast<qsizetype>(p.argb.size()))});
  }
  return out;
}

}  // namespace

// What the items share: the bar's collaborators and what has been said once already.
class SniStatusBar::Shared {
 public:
  Shared(Scheduler& theScheduler, DesktopEvents& theEvents, SystemLog& theLog, Options theOptions)
      : scheduler(theScheduler), events(theEvents), log(theLog), options(std::move(theOptions)) {}

  RgbColor ink() const {
    return options.templateInk ? *options.templateInk : templateInk(desktopPaletteIsDark());
  }

  void sayOnce(bool& said, const std::string& message) {
    if (!said) {
      said = true;
      log.log(message);
    }
  }

  Scheduler& scheduler;
  DesktopEvents& events;
  SystemLog& log;
  Options options;
  MenuPresenter presenter;
  bool saidNoWatcher = false;
  bool saidNoBus = false;
  bool saidNoPresenter = false;
};

class SniStatusBar::Item final : public StatusItem,
                                 public StatusBarButton,
                                 public std::enable_shared_from_this<Item> {
 public:
  Item(std::shared_ptr<Shared> shared, double length)
      : shared_(std::move(shared)), number_(nextItemNumber++), length_(length) {
    service_ = "org.kde.StatusNotifierItem-" + std::to_string(QCoreApplication::applicationPid()) +
               "-" + std::to_string(number_);
    connectionName_ = QStringLiteral("lumarin-tray-item-%1").arg(number_);
  }
  Item(const Item&) = delete;
  Item& operator=(const Item&) = delete;
  ~Item() override { detach(); }

  // Goes on the bus; separate from construction because the bus's callbacks hold the item
  // weakly.
  void attach() {
    dbus::registerTypes();
    const auto& address = shared_->options.busAddress;
    connection_ = std::make_unique<QDBusConnection>(
        address.empty()
            ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_)
            : QDBusConnection::connectToBus(QString::fromStdString(address), connectionName_));
    if (!connection_->isConnected()) {
      shared_->sayOnce(shared_->saidNoBus, "tray: no session bus (" +
                                               connection_->lastError().message().toStdString() +
                                               "); status items are not shown");
      return;
    }
    object_ = std::make_unique<Object>(*this);
    menu_ =
        std::make_unique<DBusMenuExporter>(*connection_, kMenuPath, shared_->scheduler.mainQueue());
    connection_->registerVirtualObject(kItemPath, object_.get(), QDBusConnection::SingleNode);
    if (!connection_->registerService(QString::fromStdString(service_))) {
      shared_->log.log("tray: could not own " + service_ + ": " +
                       connection_->lastError().message().toStdString());
    } else {
      onBus_ = true;
    }
    refreshMenu();
    watcher_ = std::make_unique<QDBusServiceWatcher>(kWatcherService, *connection_,
                                                     QDBusServiceWatcher::WatchForOwnerChange);
    std::weak_ptr<Item> weak = weak_from_this();
    QObject::connect(watcher_.get(), &QDBusServiceWatcher::serviceOwnerChanged, object_.get(),
                     [weak](const QString&, const QString&, const QString& newOwner) {
                       if (auto self = weak.lock()) {
                         self->watcherChanged(!newOwner.isEmpty());
                       }
                     });
    if (connection_->interface()->isServiceRegistered(kWatcherService)) {
      registerWithWatcher();
    } else {
      shared_->sayOnce(shared_->saidNoWatcher,
                       "tray: no tray host on the session bus (org.kde.StatusNotifierWatcher); "
                       "status items appear when one starts");
    }
  }

  // Leaves the bus: the host drops the item when its name goes.
  void detach() {
    if (!connection_) {
      return;
    }
    watcher_.reset();
    menu_.reset();
    if (connection_->isConnected()) {
      connection_->unregisterObject(kItemPath);
      if (onBus_) {
        connection_->unregisterService(QString::fromStdString(service_));
      }
    }
    object_.reset();
    connection_.reset();
    QDBusConnection::disconnectFromBus(connectionName_);
    onBus_ = false;
    registered_ = false;
    flush_.cancel();
  }

  ItemState state() const {
    ItemState s;
    s.autosaveName = autosaveName_;
    s.service = service_;
    s.objectPath = kItemPath;
    s.menuPath = kMenuPath;
    s.status = status();
    s.connected = onBus_;
    s.registered = registered_;
    return s;
  }

  // --- StatusItem ---
  void setAutosaveName(const std::string& name) override { autosaveName_ = name; }
  const std::string& autosaveName() const override { return autosaveName_; }
  void setLength(double length) override {
    length_ = length;
    changed();
  }
  double length() const override { return length_; }
  void setVisible(bool visible) override {
    visible_ = visible;
    changed();
  }
  bool isVisible() const override { return visible_; }
  StatusBarButton& button() override { return *this; }
  void setMenu(std::optional<Menu> menu, MenuHandlers handlers) override {
    attachedMenu_ = std::move(menu);
    attachedHandlers_ = attachedMenu_ ? std::move(handlers) : MenuHandlers{};
    refreshMenu();
    // No signal announces ItemIsMenu; hosts read it again with the title.
    forceTitle_ = true;
    changed();
  }
  bool hasMenu() const override { return attachedMenu_.has_value(); }
  void setContextMenu(std::optional<Menu> menu, MenuHandlers handlers) override {
    contextMenu_ = std::move(menu);
    contextHandlers_ = contextMenu_ ? std::move(handlers) : MenuHandlers{};
    refreshMenu();
  }

  // --- StatusBarButton ---
  void setImage(std::optional<LazyImage> image) override {
    image_ = std::move(image);
    iconStale_ = true;
    changed();
  }
  const std::optional<LazyImage>& image() const override { return image_; }
  void setTitle(const std::string& title) override {
    title_ = title;
    attributedTitle_.reset();
    changed();
  }
  void setAttributedTitle(std::optional<StyledText> title) override {
    attributedTitle_ = std::move(title);
    changed();
  }
  const std::optional<StyledText>& attributedTitle() const override { return attributedTitle_; }
  void setImagePosition(ImagePosition position) override { imagePosition_ = position; }
  void setToolTip(std::optional<std::string> toolTip) override {
    toolTip_ = std::move(toolTip);
    changed();
  }
  const std::optional<std::string>& toolTip() const override { return toolTip_; }
  void setIdentifier(const std::string& identifier) override { identifier_ = identifier; }
  const std::string& identifier() const override { return identifier_; }
  void setAccessibilityLabel(const std::string& label) override {
    accessibilityLabel_ = label;
    changed();
  }
  const std::string& accessibilityLabel() const override { return accessibilityLabel_; }
  void setAction(std::function<void(StatusBarButton&)> action, unsigned mask) override {
    action_ = std::move(action);
    mask_ = mask;
  }
  void performClick() override {
    if (attachedMenu_) {
      present(*attachedMenu_, attachedHandlers_);
      return;
    }
    send(Event{EventType::leftMouseUp, 1, 0}, kSendOnLeftMouseUp);
  }
  void popUpMenu(const Menu& menu, MenuHandlers handlers) override {
    present(menu, std::move(handlers));
  }
  Size bounds() const override { return Size{kThickness, kThickness}; }
  bool isFlipped() const override { return true; }
  LazyImage display() const override { return image_ ? *image_ : LazyImage{}; }
  std::optional<StatusItemWindow> window() const override { return std::nullopt; }
  void setWindowTitle(const std::string& title) override { windowTitle_ = title; }
  std::optional<ButtonLayer> layer(const std::string& name) const override {
    for (const auto& l : layers_) {
      if (l.name == name) {
        return l;
      }
    }
    return std::nullopt;
  }
  void addLayer(ButtonLayer layer) override {
    removeLayer(layer.name);
    layers_.push_back(std::move(layer));
  }
  void removeLayer(const std::string& name) override {
    std::erase_if(layers_, [&](const ButtonLayer& l) { return l.name == name; });
  }
  void moveLayer(const std::string& name, CocoaPoint position) override {
    for (auto& l : layers_) {
      if (l.name == name) {
        l.position = position;
      }
    }
  }

 private:
  // The item's object on the bus.
  class Object final : public QDBusVirtualObject {
   public:
    explicit Object(Item& item) : item_(item) {}
    QString introspect(const QString& /*path*/) const override {
      return QString::fromLatin1(kItemIntrospection);
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
      return item_.handle(message, connection);
    }

   private:
    Item& item_;
  };

  std::string titleText() const { return attributedTitle_ ? attributedTitle_->text : title_; }

  std::string status() const {
    const bool hidden = !visible_ || (length_ == 0 && !image_);
    return hidden ? "Passive" : "Active";
  }

  // What hosts list the item as, also while it is hidden and shows nothing: its tooltip, else
  // its text, else its accessible name, else its id.
  std::string itemTitle() const {
    if (toolTip_ && !toolTip_->empty()) {
      return *toolTip_;
    }
    if (std::string text = titleText(); !text.empty()) {
      return text;
    }
    return !accessibilityLabel_.empty() ? accessibilityLabel_ : id();
  }

  std::string id() const {
    return autosaveName_.empty() ? "lumarin-" + std::to_string(number_) : autosaveName_;
  }

  const std::vector<TrayPixmap>& icon() {
    if (iconStale_) {
      iconStale_ = false;
      icon_ = image_ ? trayPixmaps(*image_, shared_->ink()) : std::vector<TrayPixmap>{};
    }
    return icon_;
  }

  // The exported menu: the attached one while there is one (the item is its menu), else the
  // context menu, else none.
  void refreshMenu() {
    if (!menu_) {
      return;
    }
    if (attachedMenu_) {
      menu_->setMenu(attachedMenu_, attachedHandlers_);
    } else if (contextMenu_) {
      menu_->setMenu(contextMenu_, contextHandlers_);
    } else {
      menu_->setMenu(std::nullopt, {});
    }
  }

  void present(const Menu& menu, MenuHandlers handlers) {
    if (shared_->presenter) {
      shared_->presenter(autosaveName_, menu, std::move(handlers));
      return;
    }
    shared_->sayOnce(shared_->saidNoPresenter,
                     "tray: no menu presenter; a menu the program opens by itself closes at once");
    if (handlers.didClose) {
      shared_->scheduler.mainQueue().post(std::move(handlers.didClose));
    }
  }

  void send(const Event& event, unsigned mask) {
    if (!action_ || (mask_ & mask) == 0) {
      return;
    }
    auto action = action_;  // the action may replace itself
    shared_->events.setCurrentEvent(event);
    action(*this);
    shared_->events.setCurrentEvent(std::nullopt);
  }

  // A change the host should hear of, told at most once per frame.
  void changed() {
    if (flushScheduled_) {
      return;
    }
    flushScheduled_ = true;
    std::weak_ptr<Item> weak = weak_from_this();
    flush_ = shared_->scheduler.mainQueue().postAfter(shared_->options.coalescing, [weak] {
      if (auto self = weak.lock()) {
        self->flush();
      }
    });
  }

  void flush() {
    flushScheduled_ = false;
    if (!connection_ || !connection_->isConnected()) {
      return;
    }
    const std::vector<TrayPixmap>& current = icon();
    if (current != announcedIcon_) {
      announcedIcon_ = current;
      emitSignal("NewIcon", {});
    }
    const std::string title = itemTitle();
    if (title != announcedTitle_ || forceTitle_) {
      announcedTitle_ = title;
      forceTitle_ = false;
      emitSignal("NewTitle", {});
    }
    const std::string tip = toolTip_.value_or("");
    if (tip != announcedToolTip_) {
      announcedToolTip_ = tip;
      emitSignal("NewToolTip", {});
    }
    const std::string label = titleText();
    if (label != announcedLabel_) {
      announcedLabel_ = label;
      emitSignal("XAyatanaNewLabel", {QString::fromStdString(label), QString()});
    }
    const std::string now = status();
    if (now != announcedStatus_) {
      announcedStatus_ = now;
      emitSignal("NewStatus", {QString::fromStdString(now)});
    }
  }

  void emitSignal(const char* name, const QVariantList& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal(kItemPath, kItemInterface, name);
    signal.setArguments(arguments);
    connection_->send(signal);
  }

  void watcherChanged(bool present) {
    registered_ = false;
    if (present) {
      registerWithWatcher();
    }
  }

  void registerWithWatcher() {
    if (!onBus_) {
      return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, kWatcherInterface, "RegisterStatusNotifierItem");
    call << QString::fromStdString(service_);
    auto* pending = new QDBusPendingCallWatcher(connection_->asyncCall(call, kRegisterTimeoutMs),
                                                object_.get());
    std::weak_ptr<Item> weak = weak_from_this();
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, object_.get(),
                     [weak](QDBusPendingCallWatcher* done) {
                       done->deleteLater();
                       auto self = weak.lock();
                       if (!self) {
                         return;
                       }
                       if (done->isError()) {
                         self->shared_->log.log("tray: the tray host refused " + self->service_ +
                                                ": " + done->error().message().toStdString());
                         return;
                       }
                       self->registered_ = true;
                     });
  }

  QVariantMap properties() {
    dbus::ToolTip tip;
    tip.title = QString::fromStdString(toolTip_.value_or(""));
    return QVariantMap{
        {"Category", QStringLiteral("ApplicationStatus")},
        {"Id", QString::fromStdString(id())},
        {"Title", QString::fromStdString(itemTitle())},
        {"Status", QString::fromStdString(status())},
        {"WindowId", 0},
        {"IconThemePath", QString()},
        {"IconName", QString()},
        {"IconPixmap", QVariant::fromValue(toDBus(icon()))},
        {"OverlayIconName", QString()},
        {"OverlayIconPixmap", QVariant::fromValue(dbus::IconPixmapList{})},
        {"AttentionIconName", QString()},
        {"AttentionIconPixmap", QVariant::fromValue(dbus::IconPixmapList{})},
        {"AttentionMovieName", QString()},
        {"ToolTip", QVariant::fromValue(tip)},
        {"ItemIsMenu", attachedMenu_.has_value()},
        {"Menu", QVariant::fromValue(QDBusObjectPath(kMenuPath))},
        {"XAyatanaLabel", QString::fromStdString(titleText())},
        {"XAyatanaLabelGuide", QString()},
    };
  }

  bool handle(const QDBusMessage& message, const QDBusConnection& connection) {
    const QString interface = message.interface();
    const QString member = message.member();
    const QVariantList args = message.arguments();
    const bool ours = interface == QLatin1String(kItemInterface) ||
                      interface == QLatin1String(kItemInterfaceAlias);
    if (interface == QLatin1String(kPropertiesInterface)) {
      const bool forItem =
          !args.isEmpty() && (args[0].toString() == QLatin1String(kItemInterface) ||
                              args[0].toString() == QLatin1String(kItemInterfaceAlias));
      if (member == QLatin1String("GetAll") && args.size() == 1) {
        connection.send(
            message.createReply(QVariant::fromValue(forItem ? properties() : QVariantMap{})));
        return true;
      }
      if (member == QLatin1String("Get") && args.size() == 2) {
        const QVariantMap all = forItem ? properties() : QVariantMap{};
        auto it = all.find(args[1].toString());
        if (it == all.end()) {
          connection.send(message.createErrorReply(
              QDBusError::UnknownProperty,
              QStringLiteral("no property %1.%2").arg(args[0].toString(), args[1].toString())));
        } else {
          connection.send(message.createReply(QVariant::fromValue(QDBusVariant(it.value()))));
        }
        return true;
      }
      if (member == QLatin1String("Set")) {
        connection.send(message.createErrorReply(
            QDBusError::PropertyReadOnly, QStringLiteral("the item's properties are read-only")));
        return true;
      }
      return false;
    }
    if (!ours && !interface.isEmpty()) {
      return false;
    }
    const QString signature = message.signature();
    const bool point = signature == QLatin1String("ii");
    if (member == QLatin1String("Activate") || member == QLatin1String("SecondaryActivate") ||
        member == QLatin1String("ContextMenu")) {
      if (!point) {
        connection.send(message.createErrorReply(
            QDBusError::InvalidArgs,
            QStringLiteral("%1 takes (ii), not (%2)").arg(member, signature)));
        return true;
      }
      connection.send(message.createReply());
      clicked(member);
      return true;
    }
    if (member == QLatin1String("Scroll")) {
      // The program has nothing to scroll through on its items.
      connection.send(message.createReply());
      return true;
    }
    if (member == QLatin1String("ProvideXdgActivationToken")) {
      connection.send(message.createReply());
      return true;
    }
    return false;
  }

  void clicked(const QString& member) {
    const bool secondary = member == QLatin1String("ContextMenu");
    int clickCount = 1;
    if (!secondary) {
      // Counted when the host's call arrives, not when the task runs, so a busy main queue
      // does not turn a double click into two single ones.
      const Duration now = shared_->scheduler.clock().monotonicNow();
      const Duration interval = seconds(shared_->events.doubleClickInterval());
      if (lastActivate_ && now - *lastActivate_ <= interval) {
        clickCount = 2;
        lastActivate_.reset();  // a third click starts a new pair
      } else {
        lastActivate_ = now;
      }
    }
    std::weak_ptr<Item> weak = weak_from_this();
    shared_->scheduler.mainQueue().post([weak, secondary, clickCount] {
      auto self = weak.lock();
      if (!self) {
        return;
      }
      if (secondary) {
        self->send(Event{EventType::rightMouseUp, 1, 0}, kSendOnRightMouseUp);
      } else if (self->attachedMenu_) {
        // A host that activates an item that is its menu: show it as a click would.
        self->performClick();
      } else {
        self->send(Event{EventType::leftMouseUp, clickCount, 0}, kSendOnLeftMouseUp);
      }
    });
  }

  std::shared_ptr<Shared> shared_;
  int number_ = 0;
  std::string service_;
  QString connectionName_;
  std::unique_ptr<QDBusConnection> connection_;
  std::unique_ptr<Object> object_;
  std::unique_ptr<DBusMenuExporter> menu_;
  std::unique_ptr<QDBusServiceWatcher> watcher_;
  bool onBus_ = false;
  bool registered_ = false;

  std::string autosaveName_;
  double length_ = kVariableStatusItemLength;
  bool visible_ = true;
  std::optional<Menu> attachedMenu_;
  MenuHandlers attachedHandlers_;
  std::optional<Menu> contextMenu_;
  MenuHandlers contextHandlers_;

  std::optional<LazyImage> image_;
  std::string title_;
  std::optional<StyledText> attributedTitle_;
  ImagePosition imagePosition_ = ImagePosition::imageOnly;
  std::optional<std::string> toolTip_;
  std::string identifier_;
  std::string accessibilityLabel_;
  std::function<void(StatusBarButton&)> action_;
  unsigned mask_ = kSendOnLeftMouseUp;
  std::string windowTitle_;
  std::vector<ButtonLayer> layers_;

  std::vector<TrayPixmap> icon_;
  bool iconStale_ = true;
  std::optional<Duration> lastActivate_;

  // What the host was last told, so a change back and forth within a frame says nothing.
  bool flushScheduled_ = false;
  TaskHandle flush_;
  std::vector<TrayPixmap> announcedIcon_;
  std::string announcedTitle_;
  std::string announcedToolTip_;
  std::string announcedLabel_;
  std::string announcedStatus_ = "Active";
  bool forceTitle_ = false;
};

SniStatusBar::SniStatusBar(Scheduler& scheduler, DesktopEvents& events, SystemLog& log,
                           Options options)
    : shared_(std::make_shared<Shared>(scheduler, events, log, std::move(options))) {}

SniStatusBar::SniStatusBar(Scheduler& scheduler, DesktopEvents& events, SystemLog& log)
    : SniStatusBar(scheduler, events, log, Options{}) {}

SniStatusBar::~SniStatusBar() {
  for (const auto& item : items_) {
    item->detach();
  }
}

std::shared_ptr<StatusItem> SniStatusBar::makeStatusItem(double length) {
  auto item = std::make_shared<Item>(shared_, length);
  item->attach();
  items_.push_back(item);
  return item;
}

void SniStatusBar::removeStatusItem(const std::shared_ptr<StatusItem>& item) {
  auto it = std::find_if(items_.begin(), items_.end(),
                         [&](const auto& own) { return own.get() == item.get(); });
  if (it == items_.end()) {
    return;
  }
  (*it)->detach();
  items_.erase(it);
}

std::vector<std::shared_ptr<StatusItem>> SniStatusBar::items() const {
  return {items_.begin(), items_.end()};
}

void SniStatusBar::setMenuPresenter(MenuPresenter presenter) {
  shared_->presenter = std::move(presenter);
}

std::vector<SniStatusBar::ItemState> SniStatusBar::itemStates() const {
  std::vector<ItemState> out;
  out.reserve(items_.size());
  for (const auto& item : items_) {
    out.push_back(item->state());
  }
  return out;
}

std::optional<SniStatusBar::ItemState> SniStatusBar::stateOf(const StatusItem& item) const {
  for (const auto& own : items_) {
    if (own.get() == &item) {
      return own->state();
    }
  }
  return std::nullopt;
}

}  // namespace lumarin
