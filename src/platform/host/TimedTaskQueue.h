#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <vector>

#include "platform/Scheduler.h"

namespace lumarin {

// Tasks ordered by due time (the host clock's monotonic time), posting order on ties. Not
// locked: its owner holds a lock around every call.
class TimedTaskQueue {
 public:
  using TimePoint = Duration;

  TaskHandle push(TimePoint due, Task task);
  // The earliest live task if it is due at `now`.
  std::optional<Task> popDue(TimePoint now);
  std::optional<TimePoint> nextDue();
  bool empty();
  void clear();

 private:
  struct Entry {
    TimePoint due;
    std::uint64_t sequence;
    Task task;
    std::shared_ptr<std::atomic<bool>> cancelled;
  };
  struct Later {
    bool operator()(const Entry& a, const Entry& b) const {
      return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
    }
  };
  void dropCancelled();

  std::priority_queue<Entry, std::vector<Entry>, Later> heap_;
  std::uint64_t nextSequence_ = 0;
};

}  // namespace lumarin
