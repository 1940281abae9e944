#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/RetainedSystemLog.h"

namespace lumarin {

// The system log of the simulated Mac: keeps every line, and the recent ones with their dates
// for the log store.
class SimSystemLog final : public RetainedSystemLog {
 public:
  void log(std::string_view message) override {
    retain(message);
    std::lock_guard lock(mutex_);
    lines_.emplace_back(message);
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace lumarin
