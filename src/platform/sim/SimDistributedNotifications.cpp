#include "platform/sim/SimDistributedNotifications.h"

#include "platform/Scheduler.h"
#include "platform/sim/World.h"

namespace lumarin::sim {

void SimDistributedNotifications::post(const std::string& name, const UserInfo& userInfo) {
  world_.postNotification(name, userInfo);
}

Subscription SimDistributedNotifications::observe(const std::string& name,
                                                  std::function<void(const UserInfo&)> handler) {
  auto alive = std::make_shared<bool>(true);
  auto inner = std::make_shared<Subscription>(
      world_.subscribeNotifications([this, name, handler = std::move(handler), alive](
                                        const std::string& posted, const UserInfo& info) {
        if (posted != name) {
          return;
        }
        scheduler_.mainQueue().post([handler, alive, info] {
          if (*alive) {
            handler(info);
          }
        });
      }));
  return Subscription([inner, alive] {
    *alive = false;
    inner->reset();
  });
}

}  // namespace lumarin::sim
