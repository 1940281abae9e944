#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/Image.h"

namespace lumarin {

// Menus as plain values; a port presents them. Modifier flags use the platform's bits.
enum KeyModifier : unsigned {
  kModifierShift = 1u << 17,
  kModifierControl = 1u << 18,
  kModifierOption = 1u << 19,
  kModifierCommand = 1u << 20,
};

struct Menu;

// What a menu entry carries for its action: nothing, a string, or a list of strings.
using RepresentedObject = std::variant<std::monostate, std::string, std::vector<std::string>>;

struct MenuItem {
  std::string title;
  std::string action;         // selector-like name the presenter dispatches ("terminate:")
  std::string keyEquivalent;  // "q", "Z" (upper case implies Shift), "" for none
  unsigned modifiers = kModifierCommand;
  bool isSeparator = false;
  bool enabled = true;
  bool checked = false;
  std::optional<Image> image;
  RepresentedObject representedObject;
  std::shared_ptr<Menu> submenu;

  static MenuItem command(std::string title, std::string action, std::string keyEquivalent = {},
                          unsigned modifiers = kModifierCommand) {
    MenuItem item;
    item.title = std::move(title);
    item.action = std::move(action);
    item.keyEquivalent = std::move(keyEquivalent);
    // Modifiers only mean something with a key equivalent.
    item.modifiers = item.keyEquivalent.empty() ? 0 : modifiers;
    return item;
  }

  static MenuItem separator() {
    MenuItem item;
    item.isSeparator = true;
    item.modifiers = 0;
    return item;
  }
};

struct Menu {
  std::string title;
  std::vector<MenuItem> items;
};

// How a presented menu reports back (the menu's delegate and its entries' target): `chose`
// with the chosen entry, then `didClose`; a menu dismissed without a choice only closes.
// Both arrive on the main queue.
struct MenuHandlers {
  std::function<void(const MenuItem&)> chose;
  std::function<void()> didClose;
  // A submenu shown and hidden again, by the entry that holds it; presenters that cannot tell
  // leave them uncalled.
  std::function<void(const MenuItem&)> submenuOpened = nullptr;
  std::function<void(const MenuItem&)> submenuClosed = nullptr;
};

}  // namespace lumarin
