#pragma once

#include <string>

namespace lumarin {

class InstanceLock;
class Paths;
class ProcessInfo;

// One running copy of the program per user: an exclusive lock on
// "<bundle id with / as _>.<uid>.instance.lock" in the per-user temporary directory, held
// until the process ends. Main thread.
class SingleInstanceGuard {
 public:
  SingleInstanceGuard(InstanceLock& lock, const Paths& paths, const ProcessInfo& process);

  static std::string lockFileName(const std::string& bundleID, unsigned uid);

  // True when this process holds (or already held) the lock. A lock file that cannot be
  // opened counts as held by another instance.
  bool acquire(const std::string& bundleID);

 private:
  InstanceLock& lock_;
  const Paths& paths_;
  const ProcessInfo& process_;
  bool held_ = false;
};

}  // namespace lumarin
