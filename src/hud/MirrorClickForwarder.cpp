#include "hud/MirrorClickForwarder.h"

#include <cmath>

#include "badges/AppStatusItemsController.h"
#include "base/Uuid.h"
#include "diagnostics/DebugLog.h"
#include "menubar/MenuBarGeometry.h"
#include "platform/Accessibility.h"
#include "platform/Events.h"
#include "platform/Menu.h"
#include "platform/Scheduler.h"
#include "platform/Screens.h"
#include "platform/StatusBar.h"
#include "platform/WindowServer.h"

namespace lumarin {

namespace {

// Frames come from other processes: a non-finite one is written as such, never cast.
std::string wholePoints(double v) {
  return std::isfinite(v) ? std::to_string(static_cast<long long>(std::floor(v))) : "nan";
}

const char* flag(bool value) { return value ? "true" : "false"; }

}  // namespace

MirrorClickForwarder::MirrorClickForwarder(Dependencies dependencies)
    : deps_(std::move(dependencies)) {}

unsigned MirrorClickForwarder::clickFlags(unsigned modifiers) {
  return modifiers & (kModifierShift | kModifierControl | kModifierOption | kModifierCommand);
}

bool MirrorClickForwarder::isOnSomeScreenX(double x) const {
  for (const auto& screen : deps_.screens.screens()) {
    if (screen.frame.minX() <= x && x <= screen.frame.maxX()) {
      return true;
    }
  }
  return false;
}

bool MirrorClickForwarder::hiddenAt(const GlobalRect& rect) const {
  if (isHiddenByNotch(deps_.screens.screens(), rect.minX(), rect.midX())) {
    return true;
  }
  const auto chevron = deps_.overflow.get();
  return chevron && chevron->width() > 0 && rect.minX() < chevron->maxX() - 1;
}

void MirrorClickForwarder::report(const std::string& tile, bool ok, const std::string& path,
                                  const std::string& targetApp, bool notchHidden) {
  if (reporter_) {
    reporter_(Report{tile, ok, path, targetApp, notchHidden});
  }
}

void MirrorClickForwarder::perform(const MirrorModel::Target& target,
                                   const HUDTiles::MenuEntry& entry) {
  const std::string targetApp = deps_.ownBundleID.empty() ? "self" : deps_.ownBundleID;
  const auto* own = std::get_if<MirrorModel::OwnTarget>(&target);
  if (own == nullptr || !ownMenus_) {
    report(entry.tileID, false, "none", targetApp, false);
    return;
  }
  deps_.debugLog.log("mirror: menu entry " + entry.id);
  ownMenus_->perform(own->windowNumber, entry.item);
  report(entry.tileID, true, "menu-entry", targetApp, false);
}

void MirrorClickForwarder::forward(const MirrorModel::Target& target, bool right,
                                   unsigned modifiers) {
  const unsigned flags = clickFlags(modifiers);
  if (const auto* own = std::get_if<MirrorModel::OwnTarget>(&target)) {
    forwardOwn(own->windowNumber, right, flags);
    return;
  }
  const auto* external = std::get_if<ExternalStatusItem>(&target);
  if (external == nullptr) {
    report("", false, "none", "", false);  // no menu bar item of the Mac's
    return;
  }
  const ExternalStatusItem item = *external;
  std::weak_ptr<MirrorClickForwarder> weak = weak_from_this();
  deps_.scheduler.globalQueue(QoS::userInitiated).post([weak, item, right, flags] {
    if (auto self = weak.lock()) {
      self->forwardExternal(item, right, flags);
    }
  });
}

void MirrorClickForwarder::forwardExternal(const ExternalStatusItem& item, bool right,
                                           unsigned flags) {
  GlobalRect rect = item.frame;
  if (item.windowID != 0) {
    GlobalRect onScreen;
    if (deps_.windowServer.screenRectForWindow(item.windowID, onScreen) == 0 &&
        onScreen.width() > 0 && onScreen.height() > 0) {
      rect = onScreen;
    }
  }
  const GlobalPoint point{rect.midX(), rect.midY()};
  const bool hidden = item.drawnHint ? !*item.drawnHint : hiddenAt(rect);
  const bool visible =
      rect.width() > 1 && rect.minX() >= -1 && isOnSomeScreenX(rect.midX()) && !hidden;
  const std::string targetApp = item.bundleID.value_or("system");
  const std::string tile = item.id();
  deps_.debugLog.log("mirror: click " + item.appName + " right=" + flag(right) +
                     " visible=" + flag(visible) + " notch=" + flag(hidden) + " at=(" +
                     wholePoints(point.x) + "," + wholePoints(point.y) + ")");
  auto act = [&](const char* action) {
    deps_.accessibility.setMessagingTimeout(*item.element, kPressTimeout);
    const AXError result = deps_.accessibility.performAction(*item.element, action);
    // An action can report that it could not complete although it happened.
    return result == kAXErrorSuccess || result == kAXErrorCannotComplete;
  };
  if (visible) {
    if (!right && flags == 0 && item.element && act("AXPress")) {
      report(tile, true, "ax", targetApp, hidden);
      return;
    }
    postPhysicalClick(point, right, flags);
    report(tile, true, "skylight", targetApp, hidden);
    return;
  }
  if (!right && item.element) {
    report(tile, act("AXPress"), "ax", targetApp, hidden);
    return;
  }
  if (right && item.element && act("AXShowMenu")) {
    report(tile, true, "ax", targetApp, hidden);
    return;
  }
  if (hidden) {
    deps_.debugLog.log("mirror: click dropped " + item.appName + " (notch-hidden, no AX path)");
    report(tile, false, "none", targetApp, true);
    return;
  }
  postPhysicalClick(point, right, flags);
  report(tile, true, "skylight", targetApp, false);
}

void MirrorClickForwarder::forwardOwn(std::uint32_t windowNumber, bool right, unsigned flags) {
  const std::string tile = "own#" + std::to_string(windowNumber);
  const std::string targetApp = deps_.ownBundleID.empty() ? "self" : deps_.ownBundleID;
  std::shared_ptr<StatusItem> item;
  for (const auto& candidate : deps_.statusBar.items()) {
    if (auto window = candidate->button().window(); window && window->number == windowNumber) {
      item = candidate;
      break;
    }
  }
  if (right) {
    if (!item) {
      report(tile, false, "none", targetApp, false);
      return;
    }
    const CocoaRect frame = item->button().window()->frame;
    const GlobalRect global(frame.minX(), 0, frame.width(), frame.height());
    const bool hidden = hiddenAt(global);
    if (frame.minX() < 0 || hidden) {
      report(tile, false, "none", targetApp, hidden);
      return;
    }
    const auto screens = deps_.screens.screens();
    const double firstMaxY = screens.empty() ? 0 : screens.front().frame.maxY();
    const GlobalPoint point{frame.midX(), firstMaxY - frame.midY()};
    deps_.debugLog.log("mirror: click " + tile + " right=true at=(" + wholePoints(point.x) + "," +
                       wholePoints(point.y) + ")");
    std::weak_ptr<MirrorClickForwarder> weak = weak_from_this();
    deps_.scheduler.globalQueue(QoS::userInitiated).post([weak, point, flags] {
      if (auto self = weak.lock()) {
        self->postPhysicalClick(point, true, flags);
      }
    });
    report(tile, true, "skylight", targetApp, false);
    return;
  }
  auto leftClick = [weak = weak_from_this(), item, tile, targetApp, windowNumber] {
    auto self = weak.lock();
    if (!self) {
      return;
    }
    if (!item) {
      self->deps_.debugLog.log("mirror: own#" + std::to_string(windowNumber) + " button not found");
      self->report(tile, false, "none", targetApp, false);
      return;
    }
    StatusBarButton& button = item->button();
    auto controller = self->appItems_.lock();
    if (Uuid::parse(button.identifier()) && controller) {
      self->deps_.debugLog.log("mirror: own#" + std::to_string(windowNumber) + " → appitem");
      controller->itemClicked(button);
    } else {
      self->deps_.debugLog.log("mirror: own#" + std::to_string(windowNumber) + " → performClick");
      button.performClick();
    }
    self->report(tile, true, "ax", targetApp, false);
  };
  if (deps_.scheduler.mainQueue().isCurrent()) {
    leftClick();
  } else {
    deps_.scheduler.mainQueue().post(leftClick);
  }
}

void MirrorClickForwarder::postPhysicalClick(GlobalPoint point, bool right, unsigned flags) {
  const auto cursor = deps_.events.mouseLocation();
  if (!deps_.events.postMouseEvent(right ? EventType::rightMouseDown : EventType::leftMouseDown,
                                   point, flags)) {
    return;
  }
  // The button is held for 30 ms, as a hand would; the waits go through the scheduler so
  // virtual time drives them too.
  std::weak_ptr<MirrorClickForwarder> weak = weak_from_this();
  deps_.scheduler.globalQueue(QoS::userInitiated)
      .postAfter(seconds(kButtonHold), [weak, point, right, flags, cursor] {
        auto self = weak.lock();
        if (!self) {
          return;
        }
        self->deps_.events.postMouseEvent(right ? EventType::rightMouseUp : EventType::leftMouseUp,
                                          point, flags);
        if (cursor) {
          self->deps_.scheduler.globalQueue(QoS::userInitiated)
              .postAfter(seconds(kCursorReturn), [weak, cursor] {
                if (auto strong = weak.lock()) {
                  strong->deps_.events.postMouseEvent(EventType::mouseMoved, *cursor, 0);
                }
              });
        }
      });
}

}  // namespace lumarin
