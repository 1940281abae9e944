#pragma once

#include <string>
#include <string_view>

namespace lumarin {

// The system keyring of this machine as `HostSecretStore` needs it: whether one exists, and
// item by item reads and writes that either succeed, find nothing, or fail (locked, refused,
// no answer in time). Implemented over the Secret Service; tests give their own. Calls may
// block; callable from any thread, one call at a time.
class Keyring {
 public:
  enum class Outcome { ok, notFound, failed };
  struct Read {
    Outcome outcome = Outcome::failed;
    std::string value;
  };

  virtual ~Keyring() = default;
  // A Secret Service is on the session bus, running or startable on demand. Says nothing
  // about whether it is unlocked or answers quickly.
  virtual bool exists() = 0;
  virtual Read read(std::string_view key) = 0;
  virtual Outcome write(std::string_view key, const std::string& value) = 0;
  // Removing an item that is not there succeeds.
  virtual Outcome remove(std::string_view key) = 0;
};

}  // namespace lumarin
