#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/HotKeys.h"

namespace lumarin {

class Scheduler;
class SystemLog;

// System-wide shortcuts through the desktop portal's GlobalShortcuts interface, where the
// desktop offers it (Wayland compositors give ordinary clients no key grabs). One session per
// program; every registered shortcut is bound in it with a description and a preferred
// trigger ("CTRL+ALT+LOGO+m" for the port's Control-Option-Command-M), and bound again when
// one is added or removed. The portal may ask the user first, so `registerHotKey` answers 0
// at once and the outcome follows through the status observer: a shortcut the portal's
// answer leaves out is `kHotKeyExistsErr`, a refused or failed request -1. `Activated`
// signals reach the handler. Main queue (the Qt event loop's thread).
class PortalHotKeys final : public HotKeys {
 public:
  struct Options {
    // A D-Bus address; empty: the session bus.
    std::string busAddress;
    // The program's id for a portal that asks host programs to say who they are.
    std::string appID = "com.kestova.Lumarin";
    int callTimeoutMs = 2000;
  };

  PortalHotKeys(Scheduler& scheduler, SystemLog& log, Options options);
  ~PortalHotKeys() override;
  PortalHotKeys(const PortalHotKeys&) = delete;
  PortalHotKeys& operator=(const PortalHotKeys&) = delete;

  // Whether the session's portal offers global shortcuts (asked once, at construction).
  bool available() const;

  int registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID identity,
                     Handle& handle) override;
  void unregisterHotKey(Handle handle) override;
  void installHandler(std::function<int(std::optional<HotKeyID>)> handler) override;
  void setStatusObserver(const std::function<void(Handle, int)>& observer) override;

  // The portal's trigger for a port key code and modifier bits ("CTRL+ALT+LOGO+comma"); empty
  // for a key without a name.
  static std::string triggerFor(std::uint32_t keyCode, std::uint32_t modifiers);

 private:
  class Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace lumarin
