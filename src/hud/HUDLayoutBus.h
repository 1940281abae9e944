#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "base/Geometry.h"
#include "base/Signal.h"
#include "platform/DistributedNotifications.h"
#include "platform/Scheduler.h"

namespace lumarin {

class DebugLog;

// This program's end of the HUD layout exchange with the sibling screenshot app: it announces
// our HUD's visibility and frame on "jp.kestova.hud.layout" and keeps the sibling's last
// announcement, so neither panel covers the other. Main queue. Create with std::make_shared.
class HUDLayoutBus : public std::enable_shared_from_this<HUDLayoutBus> {
 public:
  static constexpr const char* kNoteName = "jp.kestova.hud.layout";

  // The sibling's HUD, its frame in the window system's bottom-left convention.
  struct PeerState {
    bool visible = false;
    CocoaRect frame;
    Duration at{};  // when it arrived (the Clock's monotonic time)
    bool operator==(const PeerState&) const = default;
  };

  HUDLayoutBus(DistributedNotifications& notifications, const Clock& clock, const DebugLog& log)
      : notifications_(notifications), clock_(clock), log_(log) {}
  HUDLayoutBus(const HUDLayoutBus&) = delete;
  HUDLayoutBus& operator=(const HUDLayoutBus&) = delete;

  // Starts listening; a second call does nothing.
  void start();
  void post(bool visible, const CocoaRect& frame);
  // The sibling's state when it is visible and at most `seconds` old.
  std::optional<PeerState> freshVisiblePeer(double seconds) const;
  // Takes one announcement as it arrives (the observer's handler).
  void received(const DistributedNotifications::UserInfo& userInfo);

  bool heardFromPellior() const { return heardFromPellior_; }
  const std::optional<PeerState>& pellior() const { return pellior_; }
  void setOnPeerChange(std::function<void(const PeerState&)> callback) {
    onPeerChange_ = std::move(callback);
  }

 private:
  DistributedNotifications& notifications_;
  const Clock& clock_;
  const DebugLog& log_;
  std::optional<PeerState> pellior_;
  bool heardFromPellior_ = false;
  std::function<void(const PeerState&)> onPeerChange_;
  bool started_ = false;
  Subscription observation_;
};

}  // namespace lumarin
