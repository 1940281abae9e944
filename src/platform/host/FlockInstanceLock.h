#pragma once

#include "platform/InstanceLock.h"

namespace lumarin {

// flock(2) on a file opened read-write with mode 0600, never through a symbolic link, and only
// when it is a plain file of this user with no other name (a hard link planted by someone else
// would be one). The descriptor is kept open, and so the lock held, until the process ends.
class FlockInstanceLock final : public InstanceLock {
 public:
  Result<bool> acquire(const std::filesystem::path& file) override;
  int descriptor() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace lumarin
