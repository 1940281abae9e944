#pragma once

#include <memory>

#include "platform/DistributedNotifications.h"

namespace lumarin {
class Scheduler;
}

namespace lumarin::sim {

class World;

// The session's distributed notifications on the simulated Mac: what the system and other
// apps post reaches the program's observers on the main queue, and what the program posts
// reaches the world. An observer that has left gets nothing already on its way.
class SimDistributedNotifications final : public DistributedNotifications {
 public:
  SimDistributedNotifications(World& world, Scheduler& scheduler)
      : world_(world), scheduler_(scheduler) {}
  void post(const std::string& name, const UserInfo& userInfo) override;
  Subscription observe(const std::string& name,
                       std::function<void(const UserInfo&)> handler) override;

 private:
  World& world_;
  Scheduler& scheduler_;
};

}  // namespace lumarin::sim
