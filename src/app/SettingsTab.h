#pragma once

#include <string_view>

namespace lumarin {

// The settings window's tabs, by the names other parts of the program open them with.
enum class SettingsTab { general, permissions, apps, account, about };

constexpr std::string_view settingsTabName(SettingsTab tab) {
  switch (tab) {
    case SettingsTab::general:
      return "general";
    case SettingsTab::permissions:
      return "permissions";
    case SettingsTab::apps:
      return "apps";
    case SettingsTab::account:
      return "account";
    case SettingsTab::about:
      return "about";
  }
  return "general";
}

}  // namespace lumarin
