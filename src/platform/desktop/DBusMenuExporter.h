#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Menu.h"

class QDBusConnection;

namespace lumarin {

class Queue;

// Publishes one `Menu` value on a bus connection as a `com.canonical.dbusmenu` object, so a
// tray host can draw it and report the user's choice. Entries keep their ids across updates
// while they stay the same entry (same place under the same parent, same title and action),
// so a host that holds a menu open is not confused by an update. A choice reaches the
// handlers' `chose` and then `didClose` as tasks of `mainQueue`; a menu the host closes without
// a choice reaches `didClose` only.
//
// Main thread. The exporter unregisters its object when destroyed; `connection` must stay
// connected while it lives (the owner disconnects after destroying it).
class DBusMenuExporter {
 public:
  static constexpr const char* kInterface = "com.canonical.dbusmenu";

  DBusMenuExporter(const QDBusConnection& connection, std::string objectPath, Queue& mainQueue);
  DBusMenuExporter(const DBusMenuExporter&) = delete;
  DBusMenuExporter& operator=(const DBusMenuExporter&) = delete;
  ~DBusMenuExporter();

  // False when the object could not be registered on the connection (path taken).
  bool exported() const;
  const std::string& objectPath() const;
  // Replaces the menu; no menu exports an empty one. Hosts learn of the change through
  // `LayoutUpdated` (a different set of entries) or `ItemsPropertiesUpdated` (the same
  // entries with changed properties).
  void setMenu(std::optional<Menu> menu, MenuHandlers handlers);
  bool hasMenu() const;
  std::uint32_t revision() const;

  // A title as a dbusmenu label: underscores start mnemonics there, so a literal one doubles.
  static std::string escapeLabel(std::string_view title);
  // An entry's key equivalent as a dbusmenu shortcut: one combination of modifier names and
  // the key ("Control", "Shift", "Q"); empty without a key equivalent. The Mac's Command key
  // is this desktop's Control, its Control key the Super key, Option is Alt; an upper-case
  // letter implies Shift as it does on the Mac.
  static std::vector<std::string> shortcut(const MenuItem& item);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lumarin
