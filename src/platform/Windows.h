#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/Geometry.h"
#include "platform/Events.h"

namespace lumarin {

// What a new window is: its title in the window list and its level (25: the status-window
// level of floating HUDs).
struct WindowSpec {
  std::string title;
  int level = 0;
};

// One of the program's windows as the window server knows it: its number, frame (the window
// system's bottom-left convention), ordering, key state and occlusion. What it draws is the
// toolkit's concern; input that reaches it is handed to its handlers. Main queue.
class Window {
 public:
  virtual ~Window() = default;
  virtual std::uint32_t number() const = 0;
  virtual CocoaRect frame() const = 0;
  virtual void setFrame(const CocoaRect& frame) = 0;
  // makeKeyAndOrderFront (`makeKey`) or orderFrontRegardless.
  virtual void orderFront(bool makeKey) = 0;
  virtual void orderOut() = 0;
  virtual bool isVisible() const = 0;
  virtual bool isKey() const = 0;
  // The occlusion state contains "visible": some part of the window can be seen.
  virtual bool occlusionVisible() const = 0;
  virtual bool isOnActiveSpace() const = 0;
  // A key-down that passed the program's local monitors while the window is key.
  virtual void setKeyDownHandler(std::function<void(int keyCode)> handler) = 0;
  // A mouse-down that passed the local monitors, at a point in the window (origin at its
  // bottom left).
  virtual void setMouseDownHandler(
      std::function<void(EventType type, CocoaPoint point, unsigned modifierFlags)> handler) = 0;
};

// Makes the program's windows. Main queue.
class Windows {
 public:
  virtual ~Windows() = default;
  virtual std::shared_ptr<Window> makeWindow(const WindowSpec& spec) = 0;
};

}  // namespace lumarin
