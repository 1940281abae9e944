#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "platform/RunLoop.h"

namespace lumarin {

class ManualScheduler;

// Drives the whole program in virtual time: runs whatever is due, then jumps the clock to
// the next pending task, as fast as the processor allows. With nothing pending the program
// can only be woken from outside, so the loop waits for `stop()`.
class VirtualRunLoop final : public RunLoop {
 public:
  explicit VirtualRunLoop(ManualScheduler& scheduler) : scheduler_(scheduler) {}

  void run() override;
  void stop() override;

 private:
  ManualScheduler& scheduler_;
  std::atomic<bool> stopRequested_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
};

}  // namespace lumarin
