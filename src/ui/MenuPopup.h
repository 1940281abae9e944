#pragma once

#include <functional>

#include "platform/Menu.h"

namespace lumarin {

// Pops a menu value up as a real Qt menu at a point of the screen (Qt's global coordinates):
// titles, separators, check marks, disabled entries, icons, key equivalents and submenus. A
// chosen entry reaches `handlers.chose`; `handlers.didClose` follows once the menu is gone,
// with or without a choice; submenus shown and hidden reach `submenuOpened` and
// `submenuClosed`. The menu deletes itself. Main thread.
//
// Returns what replaces the entries of the menu while it is open (its owner's menu changed);
// once the menu is gone it does nothing.
std::function<void(const Menu&)> popUpMenu(const Menu& menu, MenuHandlers handlers, int x, int y);

}  // namespace lumarin
