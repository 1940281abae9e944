#pragma once

#include <functional>
#include <map>
#include <string>

#include "base/Properties.h"
#include "base/Signal.h"

namespace lumarin {

// NSDistributedNotificationCenter: notifications between processes of the user's session,
// with a name and user info of typed values (booleans, numbers, strings: what a property list
// carries). Observers are called on the main queue.
class DistributedNotifications {
 public:
  using UserInfo = Properties;
  virtual ~DistributedNotifications() = default;
  virtual void post(const std::string& name, const UserInfo& userInfo) = 0;
  [[nodiscard]] virtual Subscription observe(const std::string& name,
                                             std::function<void(const UserInfo&)> handler) = 0;
};

}  // namespace lumarin
