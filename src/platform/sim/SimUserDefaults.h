#pragma once

#include <map>
#include <mutex>

#include "platform/UserDefaults.h"

namespace lumarin {

// The user-defaults system of the simulated Mac, in memory. The global domain is set by the
// scenario (or a test). Counts writes so tests can tell "nothing was stored" apart.
class SimUserDefaults final : public UserDefaults {
 public:
  std::optional<DefaultsValue> object(std::string_view key) const override {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    return it == values_.end() ? std::nullopt : std::optional<DefaultsValue>(it->second);
  }
  void set(std::string_view key, DefaultsValue value) override {
    std::lock_guard lock(mutex_);
    values_.insert_or_assign(std::string(key), std::move(value));
    ++writeCount_;
  }
  void remove(std::string_view key) override {
    std::lock_guard lock(mutex_);
    values_.erase(std::string(key));
    ++writeCount_;
  }
  void applyChanges(const std::vector<DefaultsChange>& changes) override {
    std::lock_guard lock(mutex_);
    for (const auto& change : changes) {
      if (change.value) {
        values_.insert_or_assign(change.key, *change.value);
      } else {
        values_.erase(change.key);
      }
    }
    ++writeCount_;
  }
  std::optional<DefaultsValue> globalObject(std::string_view key) const override {
    std::lock_guard lock(mutex_);
    auto it = global_.find(key);
    return it == global_.end() ? std::nullopt : std::optional<DefaultsValue>(it->second);
  }

  void setGlobal(std::string_view key, DefaultsValue value) {
    std::lock_guard lock(mutex_);
    global_.insert_or_assign(std::string(key), std::move(value));
  }
  std::size_t writeCount() const {
    std::lock_guard lock(mutex_);
    return writeCount_;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, DefaultsValue, std::less<>> values_;
  std::map<std::string, DefaultsValue, std::less<>> global_;
  std::size_t writeCount_ = 0;
};

}  // namespace lumarin
