#include "platform/sim/SimHotKeys.h"

#include <cmath>

#include "platform/Scheduler.h"
#include "platform/sim/World.h"

namespace lumarin::sim {

int SimHotKeys::registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID identity,
                               Handle& handle) {
  const bool taken = taken_.count({keyCode, modifiers}) != 0;
  const bool ours =
      std::any_of(registrations_.begin(), registrations_.end(), [&](const Registration& r) {
        return r.active && r.keyCode == keyCode && r.modifiers == modifiers;
      });
  Registration registration{world_.now(), keyCode, modifiers, identity, 0, false};
  if (taken || ours) {
    registration.status = kHotKeyExistsErr;
    registrations_.push_back(registration);
    return kHotKeyExistsErr;
  }
  registration.active = true;
  registrations_.push_back(registration);
  handle = registrations_.size();
  return 0;
}

void SimHotKeys::unregisterHotKey(Handle handle) {
  if (handle >= 1 && handle <= registrations_.size()) {
    registrations_[handle - 1].active = false;
  }
}

void SimHotKeys::installHandler(std::function<int(std::optional<HotKeyID>)> handler) {
  handler_ = std::move(handler);
}

bool SimHotKeys::press(std::uint32_t keyCode, std::uint32_t modifiers) {
  for (const auto& r : registrations_) {
    if (r.active && r.keyCode == keyCode && r.modifiers == modifiers) {
      presses_.emplace_back(world_.now(), std::to_string(r.identity.id));
      if (handler_) {
        scheduler_.mainQueue().post(
            [handler = handler_, identity = r.identity] { handler(identity); });
      }
      return true;
    }
  }
  presses_.emplace_back(world_.now(), "none");
  return false;
}

json::OrderedJson SimHotKeys::toJson() const {
  json::OrderedJson registrations = json::OrderedJson::array();
  for (const auto& r : registrations_) {
    registrations.push_back(json::OrderedJson{{"at", std::round(r.at * 1e6) / 1e6},
                                              {"id", r.identity.id},
                                              {"keyCode", r.keyCode},
                                              {"modifiers", r.modifiers},
                                              {"status", r.status},
                                              {"active", r.active}});
  }
  json::OrderedJson presses = json::OrderedJson::array();
  for (const auto& [at, id] : presses_) {
    presses.push_back(json::OrderedJson{{"at", std::round(at * 1e6) / 1e6}, {"reached", id}});
  }
  return json::OrderedJson{{"registrations", registrations}, {"presses", presses}};
}

}  // namespace lumarin::sim
