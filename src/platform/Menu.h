#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace lumarin {

// Menus as plain values; a port presents them. Modifier flags use the platform's bits.
enum KeyModifier : unsigned {
  kModifierShift = 1u << 17,
  kModifierControl = 1u << 18,
  kModifierOption = 1u << 19,
  kModifierCommand = 1u << 20,
};

struct Menu;

struct MenuItem {
  std::string title;
  std::string action;         // selector-like name the presenter dispatches ("terminate:")
  std::string keyEquivalent;  // "q", "Z" (upper case implies Shift), "" for none
  unsigned modifiers = kModifierCommand;
  bool isSeparator = false;
  bool enabled = true;
  bool checked = false;
  std::shared_ptr<Menu> submenu;

  static MenuItem command(std::string title, std::string action, std::string keyEquivalent,
                          unsigned modifiers = kModifierCommand) {
    MenuItem item;
    item.title = std::move(title);
    item.action = std::move(action);
    item.keyEquivalent = std::move(keyEquivalent);
    item.modifiers = modifiers;
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

}  // namespace lumarin
