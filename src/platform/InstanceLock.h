#pragma once

#include <filesystem>

#include "base/Result.h"

namespace lumarin {

// An exclusive advisory lock on a file, held for the life of the process.
class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
  // Opens (creating with mode 0600) and locks `file` without blocking: true once held, false
  // when another process holds it. An error when the file cannot serve as this user's lock
  // (it cannot be created or opened, is a link, belongs to another user, is not a plain
  // file); its message says which. Once true, the lock stays held; the operating system
  // releases it when the process ends.
  virtual Result<bool> acquire(const std::filesystem::path& file) = 0;
};

}  // namespace lumarin
