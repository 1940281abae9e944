#include "app/SingleInstanceGuard.h"

#include "platform/InstanceLock.h"
#include "platform/Paths.h"
#include "platform/ProcessInfo.h"

namespace lumarin {

SingleInstanceGuard::SingleInstanceGuard(InstanceLock& lock, const Paths& paths,
                                         const ProcessInfo& process)
    : lock_(lock), paths_(paths), process_(process) {}

std::string SingleInstanceGuard::lockFileName(const std::string& bundleID, unsigned uid) {
  std::string name = bundleID;
  for (char& c : name) {
    if (c == '/') {
      c = '_';
    }
  }
  return name + "." + std::to_string(uid) + ".instance.lock";
}

bool SingleInstanceGuard::acquire(const std::string& bundleID) {
  if (held_) {
    return true;
  }
  const auto file = paths_.temporaryDirectory() / lockFileName(bundleID, process_.userIdentifier());
  held_ = lock_.acquire(file);
  return held_;
}

}  // namespace lumarin
