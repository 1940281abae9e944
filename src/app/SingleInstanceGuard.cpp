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

SingleInstanceGuard::Outcome SingleInstanceGuard::acquire(const std::string& bundleID) {
  if (held_) {
    return Outcome::acquired;
  }
  const auto directory = paths_.privateDirectory();
  if (directory.empty()) {
    refusal_ =
        "no private directory for the instance lock: the runtime directory is missing "
        "or shared, and no folder of this user's alone could be made in " +
        paths_.temporaryDirectory().string();
    return Outcome::refused;
  }
  const auto file = directory / lockFileName(bundleID, process_.userIdentifier());
  auto taken = lock_.acquire(file);
  if (!taken) {
    refusal_ = taken.error().message + ": " + file.string();
    return Outcome::refused;
  }
  held_ = *taken;
  return held_ ? Outcome::acquired : Outcome::heldElsewhere;
}

}  // namespace lumarin
