#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/SecretStore.h"
#include "platform/host/Keyring.h"

namespace lumarin {

// The secret store of this machine: the system keyring (the Secret Service, through
// qtkeychain) whenever one exists on the session bus, else a JSON file of the user's own
// (mode 0600, written atomically) at `fallbackFile`.
//
// The choice is made at every call from whether a keyring *exists*, never from whether it
// answered: a keyring that is locked or slow makes that one read come back empty or that one
// write be dropped (with a log line), and nothing is ever written to the file while a keyring
// exists. Items the file holds from a time without a keyring are moved into the keyring at the
// first call that finds one; the file is deleted once all of them are in. Until then a read
// that the keyring cannot answer is answered from the file, and a write of an item removes the
// file's stale copy of it. Values are never logged.
class HostSecretStore final : public SecretStore {
 public:
  using Log = std::function<void(std::string_view)>;

  // `useSecretService` false keeps to the file (tests, and machines known to have no service).
  HostSecretStore(std::string serviceName, std::filesystem::path fallbackFile,
                  bool useSecretService = true, Log log = {});
  // With a keyring of the caller's (tests).
  HostSecretStore(std::unique_ptr<Keyring> keyring, std::filesystem::path fallbackFile,
                  Log log = {});
  ~HostSecretStore() override;

  std::optional<std::string> get(std::string_view account) const override;
  void set(std::string_view account, std::optional<std::string> value) override;

  // Whether the last call used the keyring; nothing before the first call.
  std::optional<bool> usesSecretService() const;

 private:
  // True when a keyring exists; then moves the file's items into it first.
  bool keyringExistsLocked() const;
  void moveFileItemsLocked() const;
  void log(const std::string& line) const;

  std::unique_ptr<Keyring> keyring_;  // null: the file only
  std::filesystem::path file_;
  Log log_;
  mutable std::mutex mutex_;
  mutable std::optional<bool> secretService_;
};

}  // namespace lumarin
