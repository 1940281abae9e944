#pragma once

// Another app's exported menu (com.canonical.dbusmenu) as a menu value. Only the desktop
// adapter's sources and their tests include this header.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Menu.h"
#include "platform/desktop/DBusTypes.h"

namespace lumarin {

// What an app's menu may make us keep: entries in all, and submenu depth.
struct DBusMenuLimits {
  std::size_t maxEntries = 2000;
  int maxDepth = 8;
  int iconPixels = 32;
};

// The action of every entry read from an exported menu; its represented object is the entry's
// id (as a decimal string), which `Event` names.
inline constexpr const char* kDBusMenuAction = "dbusmenu";

// A label without its mnemonic marks: a single underscore goes, a doubled one stays single.
std::string labelWithoutMnemonics(std::string_view label);

// The layout's children as entries: labels without mnemonics, separators, hidden entries left
// out, enabled state, check marks (a checkmark or radio toggle that is on), icons (PNG data, else
// a theme name), the shortcut's last combination as key equivalent and modifiers (Control,
// Alt, Super, Shift), submenus. Properties of the wrong type are ignored one by one; entries
// past the limits are left out.
Menu menuFromLayout(const dbus::MenuLayoutItem& root, const DBusMenuLimits& limits = {});

// The id an entry of such a menu carries; none for other entries.
std::optional<int> dbusMenuEntryID(const MenuItem& item);

}  // namespace lumarin
