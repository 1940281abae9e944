#pragma once

#include <filesystem>
#include <string>

namespace lumarin {

class InstanceLock;
class Paths;
class ProcessInfo;

// One running copy of the program per user: an exclusive lock on
// "<bundle id with / as _>.<uid>.instance.lock" in the user's private directory (never the
// shared temporary one, where another user could plant the file first), held until the
// process ends. Main thread.
class SingleInstanceGuard {
 public:
  SingleInstanceGuard(InstanceLock& lock, const Paths& paths, const ProcessInfo& process);

  static std::string lockFileName(const std::string& bundleID, unsigned uid);

  enum class Outcome { acquired, heldElsewhere, refused };

  // Takes the lock, or says who has it. Refused when there is no private directory or the
  // file there cannot serve as a lock; refusal() says why.
  Outcome acquire(const std::string& bundleID);
  const std::string& refusal() const { return refusal_; }

 private:
  InstanceLock& lock_;
  const Paths& paths_;
  const ProcessInfo& process_;
  bool held_ = false;
  std::string refusal_;
};

}  // namespace lumarin
