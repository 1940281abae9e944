#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/Json.h"
#include "platform/HotKeys.h"

namespace lumarin {
class Scheduler;
}

namespace lumarin::sim {

class World;

// The simulated Mac's keyboard for system-wide shortcuts: combinations other apps already
// own (a scenario's) are refused with kHotKeyExistsErr; a key press from the timeline reaches
// the program's handler on the main queue when it matches a registration. Main queue.
class SimHotKeys final : public HotKeys {
 public:
  struct Registration {
    double at = 0;
    std::uint32_t keyCode = 0;
    std::uint32_t modifiers = 0;
    HotKeyID identity;
    int status = 0;
    bool active = false;
  };

  SimHotKeys(World& world, Scheduler& scheduler) : world_(world), scheduler_(scheduler) {}

  int registerHotKey(std::uint32_t keyCode, std::uint32_t modifiers, HotKeyID identity,
                     Handle& handle) override;
  void unregisterHotKey(Handle handle) override;
  void installHandler(std::function<int(std::optional<HotKeyID>)> handler) override;

  // Combinations another application owns.
  void setTaken(std::set<std::pair<std::uint32_t, std::uint32_t>> taken) {
    taken_ = std::move(taken);
  }
  // The user presses a combination. False when no registered shortcut has it (the key goes
  // to the frontmost app).
  bool press(std::uint32_t keyCode, std::uint32_t modifiers);
  json::OrderedJson toJson() const;

 private:
  World& world_;
  Scheduler& scheduler_;
  std::set<std::pair<std::uint32_t, std::uint32_t>> taken_;
  std::vector<Registration> registrations_;  // by handle - 1
  std::function<int(std::optional<HotKeyID>)> handler_;
  std::vector<std::pair<double, std::string>> presses_;
};

}  // namespace lumarin::sim
