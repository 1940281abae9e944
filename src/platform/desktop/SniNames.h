#pragma once

// The bus names, objects and interfaces of the tray protocols, shared by the program's own
// tray items and its host of other apps' items.

namespace lumarin::sni {

inline constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
inline constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
inline constexpr const char* kWatcherInterface = "org.kde.StatusNotifierWatcher";
inline constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
inline constexpr const char* kItemPath = "/StatusNotifierItem";
inline constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
inline constexpr const char* kMenuInterface = "com.canonical.dbusmenu";

}  // namespace lumarin::sni
