#include "platform/desktop/DBusMenuExporter.h"

#include <QBuffer>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cctype>
#include <map>
#include <utility>

#include "platform/Scheduler.h"
#include "platform/desktop/DBusTypes.h"
#include "platform/desktop/TrayPixmap.h"

namespace lumarin {

namespace {

constexpr int kRootId = 0;
constexpr const char* kDBusProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kMenuIntrospection = R"xml(  <interface name="com.canonical.dbusmenu">
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
    <method name="GetLayout">
      <arg type="i" name="parentId" direction="in"/>
      <arg type="i" name="recursionDepth" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="u" name="revision" direction="out"/>
      <arg type="(ia{sv}av)" name="layout" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="a(ia{sv})" name="properties" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <method name="Event">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="eventId" direction="in"/>
      <arg type="v" name="data" direction="in"/>
      <arg type="u" name="timestamp" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg type="a(isvu)" name="events" direction="in"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg type="i" name="id" direction="in"/>
      <arg type="b" name="needUpdate" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="ai" name="updatesNeeded" direction="out"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg type="a(ia{sv})" name="updatedProps" direction="out"/>
      <arg type="a(ias)" name="removedProps" direction="out"/>
    </signal>
    <signal name="LayoutUpdated">
      <arg type="u" name="revision" direction="out"/>
      <arg type="i" name="parent" direction="out"/>
    </signal>
    <signal name="ItemActivationRequested">
      <arg type="i" name="id" direction="out"/>
      <arg type="u" name="timestamp" direction="out"/>
    </signal>
  </interface>
)xml";

struct Entry {
  int parent = kRootId;
  std::vector<int> children;
  QVariantMap properties;
  std::optional<MenuItem> item;  // none for the root
};

QByteArray pngBytes(const Image& image) {
  if (image.isEmpty() ||
      image.rgba.size() < static_cast<std::size_t>(image.pixelWidth) * image.pixelHeight * 4) {
    return {};
  }
  QImage picture(image.rgba.data(), image.pixelWidth, image.pixelHeight,
                 static_cast<qsizetype>(image.pixelWidth) * 4,
                 QImage::Format_RGBA8888_Premultiplied);
  QImage drawn = picture.copy();
  if (image.isTemplate) {
    // A template image is a mask, as in the menu bar: the menu's text colour fills it.
    const RgbColor ink = templateInk(desktopPaletteIsDark());
    QPainter painter(&drawn);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(drawn.rect(),
                     QColor::fromRgbF(static_cast<float>(ink.red), static_cast<float>(ink.green),
                                      static_cast<float>(ink.blue)));
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  drawn.save(&buffer, "PNG");
  return bytes;
}

QVariantMap propertiesOf(const MenuItem& item) {
  QVariantMap props;
  if (item.isSeparator) {
    props.insert("type", QStringLiteral("separator"));
    return props;
  }
  props.insert("label", QString::fromStdString(DBusMenuExporter::escapeLabel(item.title)));
  props.insert("enabled", item.enabled);
  if (item.checked) {
    props.insert("toggle-type", QStringLiteral("checkmark"));
    props.insert("toggle-state", 1);
  }
  if (item.image) {
    const QByteArray png = pngBytes(*item.image);
    if (!png.isEmpty()) {
      props.insert("icon-data", png);
    }
  }
  if (item.submenu) {
    props.insert("children-display", QStringLiteral("submenu"));
  }
  const auto keys = DBusMenuExporter::shortcut(item);
  if (!keys.empty()) {
    QStringList combination;
    for (const auto& key : keys) {
      combination.push_back(QString::fromStdString(key));
    }
    props.insert("shortcut", QVariant::fromValue(dbus::MenuShortcut{combination}));
  }
  return props;
}

QVariantMap filtered(const QVariantMap& properties, const QStringList& names) {
  if (names.isEmpty()) {
    return properties;
  }
  QVariantMap out;
  for (const auto& name : names) {
    auto it = properties.find(name);
    if (it != properties.end()) {
      out.insert(name, it.value());
    }
  }
  return out;
}

// Incoming integer arrays arrive either demarshalled or as a raw argument, depending on
// whether the type was known when the message was read.
QList<int> intList(const QVariant& value) {
  if (value.canConvert<QDBusArgument>()) {
    return qdbus_cast<QList<int>>(value.value<QDBusArgument>());
  }
  return value.value<QList<int>>();
}

}  // namespace

class DBusMenuExporter::Impl final : public QDBusVirtualObject {
 public:
  Impl(const QDBusConnection& connection, std::string path, Queue& mainQueue)
      : connection_(connection), path_(std::move(path)), queue_(mainQueue) {
    dbus::registerTypes();
    rebuild();
    exported_ = connection_.registerVirtualObject(QString::fromStdString(path_), this,
                                                  QDBusConnection::SingleNode);
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  ~Impl() override {
    if (exported_) {
      connection_.unregisterObject(QString::fromStdString(path_));
    }
  }

  bool exported() const { return exported_; }
  const std::string& path() const { return path_; }
  std::uint32_t revision() const { return revision_; }
  bool hasMenu() const { return menu_.has_value(); }

  void setMenu(std::optional<Menu> menu, MenuHandlers handlers) {
    auto before = std::move(entries_);
    menu_ = std::move(menu);
    handlers_ = menu_ ? std::move(handlers) : MenuHandlers{};
    rebuild();
    if (!exported_) {
      return;
    }
    bool sameShape = before.size() == entries_.size();
    for (auto it = entries_.begin(); sameShape && it != entries_.end(); ++it) {
      auto old = before.find(it->first);
      sameShape = old != before.end() && old->second.children == it->second.children;
    }
    if (!sameShape) {
      ++revision_;
      QDBusMessage signal =
          QDBusMessage::createSignal(QString::fromStdString(path_), kInterface, "LayoutUpdated");
      signal << static_cast<uint>(revision_) << kRootId;
      connection_.send(signal);
      return;
    }
    dbus::MenuItemPropertiesList updated;
    dbus::MenuItemPropertyNamesList removed;
    for (const auto& [id, entry] : entries_) {
      const QVariantMap& old = before.at(id).properties;
      QVariantMap changed;
      for (auto p = entry.properties.begin(); p != entry.properties.end(); ++p) {
        auto o = old.find(p.key());
        if (o == old.end() || o.value() != p.value()) {
          changed.insert(p.key(), p.value());
        }
      }
      QStringList gone;
      for (auto o = old.begin(); o != old.end(); ++o) {
        if (!entry.properties.contains(o.key())) {
          gone.push_back(o.key());
        }
      }
      if (!changed.isEmpty()) {
        updated.push_back({id, changed});
      }
      if (!gone.isEmpty()) {
        removed.push_back({id, gone});
      }
    }
    if (updated.isEmpty() && removed.isEmpty()) {
      return;
    }
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromStdString(path_), kInterface,
                                                     "ItemsPropertiesUpdated");
    signal << QVariant::fromValue(updated) << QVariant::fromValue(removed);
    connection_.send(signal);
  }

  QString introspect(const QString& /*path*/) const override {
    return QString::fromLatin1(kMenuIntrospection);
  }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QString interface = message.interface();
    const QString member = message.member();
    if (interface == QLatin1String(kDBusProperties)) {
      return handleProperties(message, connection);
    }
    if (!interface.isEmpty() && interface != QLatin1String(kInterface)) {
      return false;
    }
    const QString signature = message.signature();
    const QVariantList args = message.arguments();
    auto expect = [&](const char* wanted) {
      if (signature == QLatin1String(wanted)) {
        return true;
      }
      connection.send(message.createErrorReply(
          QDBusError::InvalidArgs,
          QStringLiteral("%1 takes (%2), not (%3)").arg(member, QLatin1String(wanted), signature)));
      return false;
    };
    if (member == QLatin1String("GetLayout")) {
      if (expect("iias")) {
        getLayout(message, connection, args[0].toInt(), args[1].toInt(), args[2].toStringList());
      }
      return true;
    }
    if (member == QLatin1String("GetGroupProperties")) {
      if (expect("aias")) {
        getGroupProperties(message, connection, intList(args[0]), args[1].toStringList());
      }
      return true;
    }
    if (member == QLatin1String("GetProperty")) {
      if (expect("is")) {
        getProperty(message, connection, args[0].toInt(), args[1].toString());
      }
      return true;
    }
    if (member == QLatin1String("Event")) {
      if (expect("isvu")) {
        if (entries_.count(args[0].toInt()) == 0) {
          connection.send(message.createErrorReply(
              QDBusError::InvalidArgs, QStringLiteral("no entry %1").arg(args[0].toInt())));
        } else {
          handleEvent(args[0].toInt(), args[1].toString());
          connection.send(message.createReply());
        }
      }
      return true;
    }
    if (member == QLatin1String("EventGroup")) {
      if (expect("a(isvu)")) {
        eventGroup(message, connection, args[0]);
      }
      return true;
    }
    if (member == QLatin1String("AboutToShow")) {
      if (expect("i")) {
        if (args[0].toInt() == kRootId) {
          closeReported_ = false;
        }
        // The menu is always current: it is replaced whenever the program changes it.
        connection.send(message.createReply(QVariant(false)));
      }
      return true;
    }
    if (member == QLatin1String("AboutToShowGroup")) {
      if (expect("ai")) {
        QList<int> errors;
        for (int id : intList(args[0])) {
          if (entries_.count(id) == 0) {
            errors.push_back(id);
          } else if (id == kRootId) {
            closeReported_ = false;
          }
        }
        connection.send(message.createReply(
            QVariantList{QVariant::fromValue(QList<int>{}), QVariant::fromValue(errors)}));
      }
      return true;
    }
    return false;
  }

 private:
  bool handleProperties(const QDBusMessage& message, const QDBusConnection& connection) {
    const QVariantList args = message.arguments();
    const QString member = message.member();
    if (member == QLatin1String("GetAll") && args.size() == 1) {
      if (args[0].toString() != QLatin1String(kInterface)) {
        connection.send(message.createReply(QVariant::fromValue(QVariantMap{})));
        return true;
      }
      connection.send(message.createReply(QVariant::fromValue(properties())));
      return true;
    }
    if (member == QLatin1String("Get") && args.size() == 2) {
      const QVariantMap all = properties();
      auto it = all.find(args[1].toString());
      if (args[0].toString() != QLatin1String(kInterface) || it == all.end()) {
        connection.send(message.createErrorReply(
            QDBusError::UnknownProperty,
            QStringLiteral("no property %1.%2").arg(args[0].toString(), args[1].toString())));
        return true;
      }
      connection.send(message.createReply(QVariant::fromValue(QDBusVariant(it.value()))));
      return true;
    }
    if (member == QLatin1String("Set")) {
      connection.send(message.createErrorReply(
          QDBusError::PropertyReadOnly, QStringLiteral("the menu's properties are read-only")));
      return true;
    }
    return false;
  }

  static QVariantMap properties() {
    const bool rtl = qGuiApp != nullptr && QGuiApplication::layoutDirection() == Qt::RightToLeft;
    return QVariantMap{{"Version", 3u},
                       {"TextDirection", rtl ? QStringLiteral("rtl") : QStringLiteral("ltr")},
                       {"Status", QStringLiteral("normal")},
                       {"IconThemePath", QStringList{}}};
  }

  void rebuild() {
    entries_.clear();
    std::map<std::string, int> ids;
    entries_[kRootId].properties.insert("children-display", QStringLiteral("submenu"));
    if (menu_) {
      addEntries(kRootId, "", menu_->items, ids);
    }
    // Keys of entries that are gone are forgotten: one that comes back later is new.
    ids_ = std::move(ids);
  }

  void addEntries(int parent, const std::string& parentKey, const std::vector<MenuItem>& items,
                  std::map<std::string, int>& ids) {
    std::map<std::string, int> seen;
    for (const auto& item : items) {
      std::string key = parentKey + '/' + (item.isSeparator ? std::string("\x1e") : item.action) +
                        '\x1f' + item.title;
      key += '#' + std::to_string(seen[key]++);
      auto known = ids_.find(key);
      const int id = known != ids_.end() ? known->second : nextId_++;
      ids[key] = id;
      Entry& entry = entries_[id];
      entry.parent = parent;
      entry.properties = propertiesOf(item);
      entry.item = item;
      entry.item->submenu.reset();  // the children are entries of their own
      entries_[parent].children.push_back(id);
      if (item.submenu) {
        addEntries(id, key, item.submenu->items, ids);
      }
    }
  }

  dbus::MenuLayoutItem layout(int id, int depth, const QStringList& names) const {
    const Entry& entry = entries_.at(id);
    dbus::MenuLayoutItem out;
    out.id = id;
    out.properties = filtered(entry.properties, names);
    if (depth != 0) {
      for (int child : entry.children) {
        out.children.push_back(layout(child, depth < 0 ? -1 : depth - 1, names));
      }
    }
    return out;
  }

  void getLayout(const QDBusMessage& message, const QDBusConnection& connection, int parent,
                 int depth, const QStringList& names) const {
    if (entries_.count(parent) == 0) {
      connection.send(message.createErrorReply(QDBusError::InvalidArgs,
                                               QStringLiteral("no entry %1").arg(parent)));
      return;
    }
    connection.send(message.createReply(QVariantList{
        static_cast<uint>(revision_), QVariant::fromValue(layout(parent, depth, names))}));
  }

  void getGroupProperties(const QDBusMessage& message, const QDBusConnection& connection,
                          const QList<int>& ids, const QStringList& names) const {
    dbus::MenuItemPropertiesList out;
    if (ids.isEmpty()) {
      for (const auto& [id, entry] : entries_) {
        out.push_back({id, filtered(entry.properties, names)});
      }
    }
    for (int id : ids) {
      auto it = entries_.find(id);
      if (it != entries_.end()) {
        out.push_back({id, filtered(it->second.properties, names)});
      }
    }
    connection.send(message.createReply(QVariant::fromValue(out)));
  }

  void getProperty(const QDBusMessage& message, const QDBusConnection& connection, int id,
                   const QString& name) const {
    auto it = entries_.find(id);
    if (it == entries_.end() || !it->second.properties.contains(name)) {
      connection.send(message.createErrorReply(
          QDBusError::InvalidArgs, QStringLiteral("no property %1 of entry %2").arg(name).arg(id)));
      return;
    }
    connection.send(
        message.createReply(QVariant::fromValue(QDBusVariant(it->second.properties.value(name)))));
  }

  void eventGroup(const QDBusMessage& message, const QDBusConnection& connection,
                  const QVariant& list) {
    QList<int> errors;
    int handled = 0;
    if (list.canConvert<QDBusArgument>()) {
      const auto arg = list.value<QDBusArgument>();
      arg.beginArray();
      while (!arg.atEnd()) {
        int id = 0;
        QString name;
        QDBusVariant data;
        uint timestamp = 0;
        arg.beginStructure();
        arg >> id >> name >> data >> timestamp;
        arg.endStructure();
        if (entries_.count(id) == 0) {
          errors.push_back(id);
        } else {
          handleEvent(id, name);
          ++handled;
        }
      }
      arg.endArray();
    }
    if (handled == 0 && !errors.isEmpty()) {
      connection.send(message.createErrorReply(QDBusError::InvalidArgs,
                                               QStringLiteral("none of the entries exist")));
      return;
    }
    connection.send(message.createReply(QVariant::fromValue(errors)));
  }

  void handleEvent(int id, const QString& name) {
    if (name == QLatin1String("opened")) {
      if (id == kRootId) {
        closeReported_ = false;
      }
      return;
    }
    if (name == QLatin1String("closed")) {
      if (id == kRootId && !closeReported_) {
        closeReported_ = true;
        if (handlers_.didClose) {
          queue_.post(handlers_.didClose);
        }
      }
      return;
    }
    if (name != QLatin1String("clicked")) {
      return;  // hovered and the like
    }
    const Entry& entry = entries_.at(id);
    // Only an entry the user could choose: not the root, a separator, a disabled entry or one
    // that opens a submenu.
    if (!entry.item || entry.item->isSeparator || !entry.item->enabled || !entry.children.empty() ||
        entry.properties.contains("children-display")) {
      return;
    }
    closeReported_ = true;
    queue_.post([handlers = handlers_, item = *entry.item] {
      if (handlers.chose) {
        handlers.chose(item);
      }
      if (handlers.didClose) {
        handlers.didClose();
      }
    });
  }

  QDBusConnection connection_;
  std::string path_;
  Queue& queue_;
  bool exported_ = false;
  std::optional<Menu> menu_;
  MenuHandlers handlers_;
  std::map<int, Entry> entries_;
  std::map<std::string, int> ids_;
  int nextId_ = 1;
  std::uint32_t revision_ = 1;
  // Whether the current showing of the menu has been reported closed (a choice closes it too).
  bool closeReported_ = true;
};

DBusMenuExporter::DBusMenuExporter(const QDBusConnection& connection, std::string objectPath,
                                   Queue& mainQueue)
    : impl_(std::make_unique<Impl>(connection, std::move(objectPath), mainQueue)) {}

DBusMenuExporter::~DBusMenuExporter() = default;

bool DBusMenuExporter::exported() const { return impl_->exported(); }
const std::string& DBusMenuExporter::objectPath() const { return impl_->path(); }
void DBusMenuExporter::setMenu(std::optional<Menu> menu, MenuHandlers handlers) {
  impl_->setMenu(std::move(menu), std::move(handlers));
}
bool DBusMenuExporter::hasMenu() const { return impl_->hasMenu(); }
std::uint32_t DBusMenuExporter::revision() const { return impl_->revision(); }

std::string DBusMenuExporter::escapeLabel(std::string_view title) {
  std::string out;
  out.reserve(title.size());
  for (char c : title) {
    out += c;
    if (c == '_') {
      out += '_';
    }
  }
  return out;
}

std::vector<std::string> DBusMenuExporter::shortcut(const MenuItem& item) {
  if (item.keyEquivalent.empty()) {
    return {};
  }
  static const std::map<std::string, std::string> kNamedKeys = {
      {",", "comma"},       {".", "period"},      {"/", "slash"},        {";", "semicolon"},
      {"'", "apostrophe"},  {"[", "bracketleft"}, {"]", "bracketright"}, {"\\", "backslash"},
      {"-", "minus"},       {"=", "equal"},       {"`", "grave"},        {" ", "space"},
      {"\r", "Return"},     {"\t", "Tab"},        {"\x1b", "Escape"},    {"\x7f", "BackSpace"},
      {"\x08", "BackSpace"}};
  const std::string& key = item.keyEquivalent;
  unsigned modifiers = item.modifiers;
  std::string name;
  if (key.size() == 1 && std::isalpha(static_cast<unsigned char>(key[0])) != 0) {
    if (std::isupper(static_cast<unsigned char>(key[0])) != 0) {
      modifiers |= kModifierShift;
    }
    name = std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(key[0]))));
  } else if (auto named = kNamedKeys.find(key); named != kNamedKeys.end()) {
    name = named->second;
  } else {
    name = key;
  }
  std::vector<std::string> out;
  if ((modifiers & kModifierCommand) != 0) {
    out.emplace_back("Control");
  }
  if ((modifiers & kModifierOption) != 0) {
    out.emplace_back("Alt");
  }
  if ((modifiers & kModifierShift) != 0) {
    out.emplace_back("Shift");
  }
  if ((modifiers & kModifierControl) != 0) {
    out.emplace_back("Super");
  }
  out.push_back(std::move(name));
  return out;
}

}  // namespace lumarin
