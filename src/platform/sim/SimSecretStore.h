#pragma once

#include <map>
#include <mutex>

#include "platform/SecretStore.h"

namespace lumarin {

// The simulated Mac's keychain: the program's items in memory.
class SimSecretStore final : public SecretStore {
 public:
  std::optional<std::string> get(std::string_view account) const override {
    std::lock_guard lock(mutex_);
    auto it = items_.find(account);
    return it == items_.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
  void set(std::string_view account, std::optional<std::string> value) override {
    std::lock_guard lock(mutex_);
    if (value) {
      items_.insert_or_assign(std::string(account), std::move(*value));
    } else {
      items_.erase(std::string(account));
    }
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string, std::less<>> items_;
};

}  // namespace lumarin
