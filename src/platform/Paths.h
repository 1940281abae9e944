#pragma once

#include <filesystem>

namespace lumarin {

// The per-user directories the program writes to.
class Paths {
 public:
  virtual ~Paths() = default;
  // The user's Application Support directory (not the program's sub-directory).
  virtual std::filesystem::path applicationSupportDirectory() const = 0;
  // The per-user temporary directory.
  virtual std::filesystem::path temporaryDirectory() const = 0;
};

}  // namespace lumarin
