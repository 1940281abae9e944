#pragma once

#include <filesystem>

namespace lumarin {

// An exclusive advisory lock on a file, held for the life of the process.
class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
  // Opens (creating with mode 0600) and locks `file` without blocking. False when the file
  // cannot be opened or another process holds the lock. Once true, the lock stays held; the
  // operating system releases it when the process ends.
  virtual bool acquire(const std::filesystem::path& file) = 0;
};

}  // namespace lumarin
