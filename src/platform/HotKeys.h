#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace lumarin {

// A system-wide shortcut's identity as the hot key service knows it: a four-character
// signature and the caller's number.
struct HotKeyID {
  std::uint32_t signature = 0;
  std::uint32_t id = 0;
  bool operator==(const HotKeyID&) const = default;
};

// The platform's system-wide shortcuts (RegisterEventHotKey): registered with a virtual key
// code and modifier bits (Command 0x100, Shift 0x200, Option 0x800, Control 0x1000), pressed
// ones delivered to the one installed handler on the main queue. Main queue.
class HotKeys {
 public:
  static constexpr int kHotKeyExistsErr = -9878;
  using Handle = std::uint64_t;

  virtual ~HotKeys() = default;
  // 0 and a handle, or the platform's error status (kHotKeyExistsErr when taken).
  virtual int registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID identity,
                             Handle& handle) = 0;
  virtual void unregisterHotKey(Handle handle) = 0;
  // The handler gets the pressed shortcut's identity (none when the event carries none) and
  // returns the event's status.
  virtual void installHandler(std::function<int(std::optional<HotKeyID>)> handler) = 0;
  // Where the desktop answers later than the registration (a portal asking the user), the
  // status a registration came to: 0, or kHotKeyExistsErr when the combination went to
  // someone else. Services that answer at once never call it.
  virtual void setStatusObserver(const std::function<void(Handle, int status)>& /*observer*/) {}
};

}  // namespace lumarin
