#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/HotKeys.h"

namespace lumarin {

class Scheduler;

// System-wide shortcuts on an X11 display: a passive grab of the key on the root window, also
// with Num Lock and Caps Lock on (four grabs per shortcut), on a connection of its own whose
// events a socket notifier reads, so it works whatever Qt's own platform is. A combination
// another client grabbed first is refused by the server (BadAccess): the registration then
// answers `kHotKeyExistsErr`, as the Mac's does. Key codes and modifier bits are the port's
// (ANSI virtual key codes; Command, Shift, Option, Control), mapped here to keysyms and to
// Super, Shift, Alt and Control. Main queue (the Qt event loop's thread).
class X11HotKeys final : public HotKeys {
 public:
  // `display`: an X display name; empty: $DISPLAY.
  X11HotKeys(Scheduler& scheduler, const std::string& display = {});
  ~X11HotKeys() override;
  X11HotKeys(const X11HotKeys&) = delete;
  X11HotKeys& operator=(const X11HotKeys&) = delete;

  // Whether the display could be opened.
  bool isConnected() const;

  int registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID identity,
                     Handle& handle) override;
  void unregisterHotKey(Handle handle) override;
  void installHandler(std::function<int(std::optional<HotKeyID>)> handler) override;

  // The X keysym a port key code stands for on the ANSI layout; 0 for none.
  static std::uint32_t keysymForKeyCode(std::uint32_t keyCode);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lumarin
