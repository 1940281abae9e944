#pragma once

#include <filesystem>
#include <mutex>
#include <optional>

#include "platform/SecretStore.h"

namespace lumarin {

// The secret store of this machine: the Secret Service (through qtkeychain) when a session bus
// is there and the service answers, else a JSON file of the user's own (mode 0600, written
// atomically) at `fallbackFile`. Which one is decided at the first use and kept for the
// process, so items never straddle both. Values are never logged.
class HostSecretStore final : public SecretStore {
 public:
  // `useSecretService` false keeps to the file (tests, and machines known to have no service).
  HostSecretStore(std::string serviceName, std::filesystem::path fallbackFile,
                  bool useSecretService = true);

  std::optional<std::string> get(std::string_view account) const override;
  void set(std::string_view account, std::optional<std::string> value) override;

  // Which store answered; nothing until the first use.
  std::optional<bool> usesSecretService() const;

 private:
  bool secretServiceLocked() const;

  std::string serviceName_;
  std::filesystem::path file_;
  bool trySecretService_;
  mutable std::mutex mutex_;
  mutable std::optional<bool> secretService_;
};

}  // namespace lumarin
