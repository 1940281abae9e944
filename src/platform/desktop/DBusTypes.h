#pragma once

// The D-Bus structures of the tray protocols, for QtDBus. Only the desktop adapter's sources
// and its tests include this header.

#include <QByteArray>
#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace lumarin::dbus {

// (iiay): one icon bitmap, ARGB32 in network byte order.
struct IconPixmap {
  int width = 0;
  int height = 0;
  QByteArray bytes;
};
using IconPixmapList = QList<IconPixmap>;

// (sa(iiay)ss): an item's tooltip.
struct ToolTip {
  QString iconName;
  IconPixmapList icon;
  QString title;
  QString description;
};

// (ia{sv}av): a menu entry with its children, each child again one of these in a variant.
struct MenuLayoutItem {
  int id = 0;
  QVariantMap properties;
  QList<MenuLayoutItem> children;
};

// (ia{sv}): an entry's properties.
struct MenuItemProperties {
  int id = 0;
  QVariantMap properties;
};
using MenuItemPropertiesList = QList<MenuItemProperties>;

// (ias): names of an entry's properties that were removed.
struct MenuItemPropertyNames {
  int id = 0;
  QStringList names;
};
using MenuItemPropertyNamesList = QList<MenuItemPropertyNames>;

// (aas): a shortcut, each inner list one key combination ("Control", "Q").
using MenuShortcut = QList<QStringList>;

// (sa{sv}): a global shortcut of the desktop portal, its id and properties ("description",
// "preferred_trigger", "trigger_description").
struct PortalShortcut {
  QString id;
  QVariantMap properties;
};
using PortalShortcutList = QList<PortalShortcut>;

// Registers the types above with QtDBus; idempotent, main thread.
void registerTypes();

QDBusArgument& operator<<(QDBusArgument& arg, const IconPixmap& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, IconPixmap& value);
QDBusArgument& operator<<(QDBusArgument& arg, const ToolTip& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, ToolTip& value);
QDBusArgument& operator<<(QDBusArgument& arg, const MenuLayoutItem& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuLayoutItem& value);
QDBusArgument& operator<<(QDBusArgument& arg, const MenuItemProperties& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuItemProperties& value);
QDBusArgument& operator<<(QDBusArgument& arg, const MenuItemPropertyNames& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuItemPropertyNames& value);
QDBusArgument& operator<<(QDBusArgument& arg, const PortalShortcut& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, PortalShortcut& value);

}  // namespace lumarin::dbus

Q_DECLARE_METATYPE(lumarin::dbus::IconPixmap)
Q_DECLARE_METATYPE(lumarin::dbus::ToolTip)
Q_DECLARE_METATYPE(lumarin::dbus::MenuLayoutItem)
Q_DECLARE_METATYPE(lumarin::dbus::MenuItemProperties)
Q_DECLARE_METATYPE(lumarin::dbus::MenuItemPropertyNames)
Q_DECLARE_METATYPE(lumarin::dbus::PortalShortcut)
