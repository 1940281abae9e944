#include "platform/Events.h"

namespace lumarin {

std::string_view describe(EventType type) {
  switch (type) {
    case EventType::leftMouseDown:
      return "leftMouseDown";
    case EventType::leftMouseUp:
      return "leftMouseUp";
    case EventType::rightMouseDown:
      return "rightMouseDown";
    case EventType::rightMouseUp:
      return "rightMouseUp";
    case EventType::mouseMoved:
      return "mouseMoved";
    case EventType::keyDown:
      return "keyDown";
    case EventType::keyUp:
      return "keyUp";
    case EventType::flagsChanged:
      return "flagsChanged";
  }
  return "unknown";
}

}  // namespace lumarin
