#pragma once

#include <functional>
#include <map>
#include <string>

#include "base/Signal.h"

namespace lumarin {

// NSDistributedNotificationCenter: notifications between processes of the user's session,
// with a name and string user info. Observers are called on the main queue.
class DistributedNotifications {
 public:
  using UserInfo = std::map<std::string, std::string>;
  virtual ~DistributedNotifications() = default;
  virtual void post(const std::string& name, const UserInfo& userInfo) = 0;
  [[nodiscard]] virtual Subscription observe(const std::string& name,
                                             std::function<void(const UserInfo&)> handler) = 0;
};

}  // namespace lumarin
