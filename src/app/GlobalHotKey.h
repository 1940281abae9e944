#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "base/Properties.h"
#include "platform/HotKeys.h"

namespace lumarin {

class DebugLog;

// System-wide keyboard shortcuts dispatched by identifier: Control-Option-Command-Comma
// (1, the settings) and Control-Option-Command-M (2, the HUD) from the application delegate.
// Main queue. Create with std::make_shared; the platform's handler holds it weakly.
class GlobalHotKey : public std::enable_shared_from_this<GlobalHotKey> {
 public:
  static constexpr std::uint32_t kSignature = 0x4C55484B;  // "LUHK"
  static constexpr std::uint32_t kCommaKey = 43;
  static constexpr std::uint32_t kMKey = 46;
  static constexpr std::uint32_t kControlOptionCommand = 6400;
  using StatisticsHook = std::function<void(const std::string& event, const Properties&)>;

  GlobalHotKey(HotKeys& hotKeys, const DebugLog& log) : hotKeys_(hotKeys), log_(log) {}
  GlobalHotKey(const GlobalHotKey&) = delete;
  GlobalHotKey& operator=(const GlobalHotKey&) = delete;

  // Registers (or re-registers) a shortcut; a refused one is logged and reported, not retried.
  void registerHotKey(std::uint32_t id, std::uint32_t keyCode, std::uint32_t modifiers,
                      std::function<void()> handler);
  // Identifier 1, calling `onTrigger`.
  void registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers);
  void unregisterHotKey(std::uint32_t id);
  // The installed handler: runs the shortcut's handler; every event counts as handled.
  int dispatch(std::optional<HotKeyID> identity);

  void setOnTrigger(std::function<void()> callback) { onTrigger_ = std::move(callback); }
  void setStatisticsHook(StatisticsHook hook) { statistics_ = std::move(hook); }
  bool isRegistered(std::uint32_t id) const { return entries_.count(id) != 0; }

 private:
  struct Entry {
    HotKeys::Handle handle = 0;
    std::function<void()> handler;
  };
  HotKeys& hotKeys_;
  const DebugLog& log_;
  bool handlerInstalled_ = false;
  std::map<std::uint32_t, Entry> entries_;
  std::function<void()> onTrigger_;
  StatisticsHook statistics_;
};

}  // namespace lumarin
