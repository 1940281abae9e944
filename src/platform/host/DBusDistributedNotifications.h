#pragma once

#include <memory>
#include <string>

#include "platform/DistributedNotifications.h"

namespace lumarin {

class Scheduler;

// Distributed notifications that really cross processes: what the program posts goes to the
// simulated session (its simulated neighbours) and, as a signal on the D-Bus session bus, to
// every other process of the user; what they post arrives from both. Signals the program
// sent itself are not delivered twice. Without a reachable bus only the simulated session is
// used. Observers are called on the main queue. Main thread.
class DBusDistributedNotifications final : public DistributedNotifications {
 public:
  static constexpr const char* kPath = "/com/kestova/DistributedNotifications";
  static constexpr const char* kInterface = "com.kestova.DistributedNotifications";
  static constexpr const char* kMember = "Posted";

  // `busAddress`: a D-Bus address, or empty for the user's session bus; `connectionName`
  // tells connections of one process apart.
  DBusDistributedNotifications(DistributedNotifications& session, Scheduler& scheduler,
                               const std::string& busAddress = {},
                               const std::string& connectionName = "lumarin");
  DBusDistributedNotifications(const DBusDistributedNotifications&) = delete;
  DBusDistributedNotifications& operator=(const DBusDistributedNotifications&) = delete;
  ~DBusDistributedNotifications() override;

  bool connected() const;
  void post(const std::string& name, const UserInfo& userInfo) override;
  Subscription observe(const std::string& name,
                       std::function<void(const UserInfo&)> handler) override;
  // Waits until the bus has routed everything sent so far (a round trip to the bus).
  void flush() const;

 private:
  class Receiver;
  DistributedNotifications& session_;
  std::unique_ptr<Receiver> receiver_;
};

}  // namespace lumarin
