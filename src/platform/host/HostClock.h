#pragma once

#include <functional>
#include <mutex>

#include "platform/Scheduler.h"

namespace lumarin {

// Where this machine's clock reads real time: the steady clock and the system clock, unless a
// test hands in its own.
struct RealTimeSource {
  std::function<std::chrono::steady_clock::time_point()> steadyNow;
  std::function<std::chrono::system_clock::time_point()> systemNow;

  static RealTimeSource machine();
};

// This machine's clocks: steady for monotonic time, the system clock for calendar time. A
// person watching the simulated Mac may run its world faster: at a rate of r, both times advance
// r seconds for each real second, from the moment the rate was set on. Changing the rate never
// makes either time jump; calendar time stays the system clock's plus how far the world has got
// ahead of real time. Callable from any thread.
class HostClock final : public Clock {
 public:
  using RealTime = std::chrono::steady_clock::time_point;

  HostClock();
  explicit HostClock(RealTimeSource source);

  Duration monotonicNow() const override;
  WallTime wallNow() const override;

  // Ignores rates that are not positive and finite.
  void setRate(double rate);
  double rate() const;

  // The real time a span of this clock's time takes at the current rate, rounded up.
  Duration realSpan(Duration span) const;
  // The real time until the monotonic time reaches `instant`; zero once it has.
  Duration realDelayUntil(Duration instant) const;

 private:
  // The rate holds from `realAt`, when the monotonic time was `monotonicAt`.
  struct Segment {
    RealTime realAt;
    Duration monotonicAt{};
    double rate = 1.0;
  };
  Duration monotonicAtLocked(RealTime real) const;
  Duration realSpanLocked(Duration span) const;

  RealTimeSource source_;
  RealTime start_;
  mutable std::mutex mutex_;
  Segment segment_;
};

}  // namespace lumarin
