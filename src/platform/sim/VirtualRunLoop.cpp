#include "platform/sim/VirtualRunLoop.h"

#include "platform/sim/ManualScheduler.h"

namespace lumarin {

void VirtualRunLoop::run() {
  while (!stopRequested_.load()) {
    scheduler_.runUntilIdle();
    if (stopRequested_.load()) {
      break;
    }
    if (!scheduler_.nextDueTime()) {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopRequested_.load() || scheduler_.nextDueTime(); });
      continue;
    }
    // Run only the tasks of the next due time, so a stop requested by one of them is seen
    // before the clock moves on.
    scheduler_.advanceTo(*scheduler_.nextDueTime());
  }
}

void VirtualRunLoop::stop() {
  {
    std::lock_guard lock(mutex_);
    stopRequested_.store(true);
  }
  wake_.notify_all();
}

}  // namespace lumarin
