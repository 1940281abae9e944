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
  // A directory no other user can create, replace or read files in: the user's runtime
  // directory when it is theirs alone, else one of the program's own, made and checked under
  // the temporary directory. Empty when no such directory could be had.
  virtual std::filesystem::path privateDirectory() const = 0;
};

}  // namespace lumarin
