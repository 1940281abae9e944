#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "base/Geometry.h"
#include "base/Signal.h"

namespace lumarin {

// NSEvent's types, with macOS's numbers.
enum class EventType {
  leftMouseDown = 1,
  leftMouseUp = 2,
  rightMouseDown = 3,
  rightMouseUp = 4,
  mouseMoved = 5,
  keyDown = 10,
  keyUp = 11,
  flagsChanged = 12,
};

// The type's name as the system describes it ("leftMouseUp").
std::string_view describe(EventType type);

// One input event: its type, the click count of mouse events and the modifier flags
// (`KeyModifier` bits of Menu.h).
struct Event {
  EventType type = EventType::leftMouseUp;
  int clickCount = 1;
  unsigned modifierFlags = 0;
  bool operator==(const Event&) const = default;
};

// An event a global monitor sees: where the mouse was (window-system coordinates, origin at
// the bottom left) and the modifier flags (bit 23 is the function key).
struct MonitoredEvent {
  EventType type = EventType::leftMouseDown;
  CocoaPoint location;
  unsigned modifierFlags = 0;
};

// An event on its way to this program, as a local monitor sees it: the window it goes to
// (absent: none of the program's windows), where (window-system coordinates), the key code of
// key events and the modifier flags.
struct LocalEvent {
  EventType type = EventType::leftMouseDown;
  std::optional<std::uint32_t> windowNumber;
  CocoaPoint location;
  int keyCode = 0;
  unsigned modifierFlags = 0;
};

// An event mask bit per type, as NSEvent.EventTypeMask has it (1 << type).
constexpr unsigned eventMask(EventType type) { return 1u << static_cast<unsigned>(type); }

// The event being handled (NSApp.currentEvent) and the user's double-click interval (main
// queue), and synthesised mouse events posted to the system like hardware input (any thread).
class Events {
 public:
  virtual ~Events() = default;
  virtual std::optional<Event> currentEvent() const = 0;
  // Seconds within which a second click counts as a double click.
  virtual double doubleClickInterval() const = 0;

  // The cursor's location in global top-left points; absent when it cannot be read.
  virtual std::optional<GlobalPoint> mouseLocation() const = 0;
  // Posts a mouse event (down, up or moved) at a global point with the given modifier flags;
  // false when no event could be made. The system delivers it to whatever lies under the
  // point.
  virtual bool postMouseEvent(EventType type, GlobalPoint point, unsigned modifierFlags) = 0;
  // Sees the events of `mask` that go to other applications, on the main queue, while the
  // subscription lives.
  [[nodiscard]] virtual Subscription addGlobalMonitor(
      unsigned mask, std::function<void(const MonitoredEvent&)> handler) = 0;
  // Sees the events of `mask` that go to this program before they are dispatched, on the main
  // queue; the handler returns false to swallow the event. Monitors run in the order they
  // were added.
  [[nodiscard]] virtual Subscription addLocalMonitor(
      unsigned mask, std::function<bool(const LocalEvent&)> handler) = 0;
};

}  // namespace lumarin
