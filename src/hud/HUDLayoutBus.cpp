#include "hud/HUDLayoutBus.h"

#include <algorithm>
#include <cmath>

#include "diagnostics/DebugLog.h"

namespace lumarin {

namespace {

// A number of the announcement, kept within a million points of the origin (announcements
// now come from any process of the session); anything else, or nothing, counts as 0.
double number(const DistributedNotifications::UserInfo& info, const char* key) {
  constexpr double kLimit = 1e6;
  auto it = info.find(key);
  if (it == info.end()) {
    return 0;
  }
  if (const auto* d = std::get_if<double>(&it->second)) {
    return std::isfinite(*d) ? std::clamp(*d, -kLimit, kLimit) : 0;
  }
  return 0;
}

std::string floored(double v) { return std::to_string(static_cast<long long>(std::floor(v))); }

}  // namespace

void HUDLayoutBus::start() {
  if (started_) {
    return;
  }
  started_ = true;
  std::weak_ptr<HUDLayoutBus> weak = weak_from_this();
  // The port delivers on the main queue already.
  observation_ =
      notifications_.observe(kNoteName, [weak](const DistributedNotifications::UserInfo& info) {
        if (auto self = weak.lock()) {
          self->received(info);
        }
      });
}

void HUDLayoutBus::post(bool visible, const CocoaRect& frame) {
  notifications_.post(kNoteName, {{"app", std::string("Lumarin")},
                                  {"visible", visible},
                                  {"x", frame.minX()},
                                  {"y", frame.minY()},
                                  {"w", frame.width()},
                                  {"h", frame.height()}});
}

void HUDLayoutBus::received(const DistributedNotifications::UserInfo& info) {
  auto app = info.find("app");
  if (app == info.end() || std::get_if<std::string>(&app->second) == nullptr ||
      std::get<std::string>(app->second) != "pellior") {
    return;
  }
  auto visible = info.find("visible");
  if (visible == info.end() || std::get_if<bool>(&visible->second) == nullptr) {
    return;
  }
  PeerState state;
  state.visible = std::get<bool>(visible->second);
  state.frame =
      CocoaRect(number(info, "x"), number(info, "y"), number(info, "w"), number(info, "h"));
  state.at = clock_.monotonicNow();
  heardFromPellior_ = true;
  pellior_ = state;
  log_.log(std::string("hudbus: pellior visible=") + (state.visible ? "true" : "false") +
           " frame=" + floored(state.frame.width()) + "x" + floored(state.frame.height()) + "@(" +
           floored(state.frame.minX()) + "," + floored(state.frame.minY()) + ")");
  if (onPeerChange_) {
    onPeerChange_(state);
  }
}

std::optional<HUDLayoutBus::PeerState> HUDLayoutBus::freshVisiblePeer(double seconds) const {
  if (!pellior_ || !pellior_->visible) {
    return std::nullopt;
  }
  if (toSeconds(clock_.monotonicNow() - pellior_->at) > seconds) {
    return std::nullopt;
  }
  return pellior_;
}

}  // namespace lumarin
