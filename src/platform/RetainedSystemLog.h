#pragma once

#include <deque>
#include <mutex>

#include "platform/Scheduler.h"
#include "platform/SystemLog.h"

namespace lumarin {

// Keeps this process's most recent messages so they can be read back by date, as the
// system's log store does. Dates come from the program's clock once one is set (virtual time
// in simulated runs), from the real calendar before that. Callable from any thread.
class RetainedSystemLog : public SystemLog {
 public:
  static constexpr std::size_t kRetainedEntries = 20'000;

  void setClock(const Clock* clock) {
    std::lock_guard lock(mutex_);
    clock_ = clock;
  }

  Result<std::vector<SystemLogEntry>> entriesSince(std::chrono::system_clock::time_point since,
                                                   std::size_t limit) const override {
    std::lock_guard lock(mutex_);
    std::vector<SystemLogEntry> out;
    for (const auto& entry : entries_) {
      if (out.size() >= limit) {
        break;
      }
      if (entry.date >= since) {
        out.push_back(entry);
      }
    }
    return out;
  }

 protected:
  void retain(std::string_view message) {
    std::lock_guard lock(mutex_);
    const auto now = clock_ != nullptr ? clock_->wallNow() : std::chrono::system_clock::now();
    entries_.push_back(SystemLogEntry{now, std::string(kDefaultCategory), std::string(message)});
    if (entries_.size() > kRetainedEntries) {
      entries_.pop_front();
    }
  }

 private:
  mutable std::mutex mutex_;
  const Clock* clock_ = nullptr;
  std::deque<SystemLogEntry> entries_;
};

}  // namespace lumarin
