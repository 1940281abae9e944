#pragma once

#include "platform/Scheduler.h"

namespace lumarin {

// This machine's clocks: steady for monotonic time, the system clock for calendar time.
class HostClock final : public Clock {
 public:
  HostClock();
  Duration monotonicNow() const override;
  WallTime wallNow() const override;

 private:
  std::chrono::steady_clock::time_point start_;
};

}  // namespace lumarin
