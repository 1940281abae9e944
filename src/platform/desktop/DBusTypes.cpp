#include "platform/desktop/DBusTypes.h"

#include <QDBusMetaType>
#include <QDBusVariant>

namespace lumarin::dbus {

void registerTypes() {
  static const bool registered = [] {
    qDBusRegisterMetaType<IconPixmap>();
    qDBusRegisterMetaType<IconPixmapList>();
    qDBusRegisterMetaType<ToolTip>();
    qDBusRegisterMetaType<MenuLayoutItem>();
    qDBusRegisterMetaType<MenuItemProperties>();
    qDBusRegisterMetaType<MenuItemPropertiesList>();
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcutList>();
    qDBusRegisterMetaType<MenuItemPropertyNames>();
    qDBusRegisterMetaType<MenuItemPropertyNamesList>();
    qDBusRegisterMetaType<MenuShortcut>();
    return true;
  }();
  (void)registered;
}

QDBusArgument& operator<<(QDBusArgument& arg, const IconPixmap& value) {
  arg.beginStructure();
  arg << value.width << value.height << value.bytes;
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, IconPixmap& value) {
  arg.beginStructure();
  arg >> value.width >> value.height >> value.bytes;
  arg.endStructure();
  return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const ToolTip& value) {
  arg.beginStructure();
  arg << value.iconName << value.icon << value.title << value.description;
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, ToolTip& value) {
  arg.beginStructure();
  arg >> value.iconName >> value.icon >> value.title >> value.description;
  arg.endStructure();
  return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const MenuLayoutItem& value) {
  arg.beginStructure();
  arg << value.id << value.properties;
  arg.beginArray(QMetaType::fromType<QDBusVariant>());
  for (const auto& child : value.children) {
    arg << QDBusVariant(QVariant::fromValue(child));
  }
  arg.endArray();
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, MenuLayoutItem& value) {
  arg.beginStructure();
  arg >> value.id >> value.properties;
  value.children.clear();
  arg.beginArray();
  while (!arg.atEnd()) {
    QDBusVariant child;
    arg >> child;
    const QVariant v = child.variant();
    if (v.canConvert<QDBusArgument>()) {
      value.children.push_back(qdbus_cast<MenuLayoutItem>(v.value<QDBusArgument>()));
    } else if (v.canConvert<MenuLayoutItem>()) {
      value.children.push_back(v.value<MenuLayoutItem>());
    }
  }
  arg.endArray();
  arg.endStructure();
  return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const MenuItemProperties& value) {
  arg.beginStructure();
  arg << value.id << value.properties;
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, MenuItemProperties& value) {
  arg.beginStructure();
  arg >> value.id >> value.properties;
  arg.endStructure();
  return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const MenuItemPropertyNames& value) {
  arg.beginStructure();
  arg << value.id << value.names;
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, MenuItemPropertyNames& value) {
  arg.beginStructure();
  arg >> value.id >> value.names;
  arg.endStructure();
  return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const PortalShortcut& value) {
  arg.beginStructure();
  arg << value.id << value.properties;
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, PortalShortcut& value) {
  arg.beginStructure();
  arg >> value.id >> value.properties;
  arg.endStructure();
  return arg;
}

}  // namespace lumarin::dbus
