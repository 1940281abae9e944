#include "platform/host/HostClock.h"

#include <cmath>

namespace lumarin {

namespace {

Duration scaled(Duration span, double factor) {
  return std::chrono::duration_cast<Duration>(
      std::chrono::duration<double, Duration::period>(static_cast<double>(span.count()) * factor));
}

}  // namespace

RealTimeSource RealTimeSource::machine() {
  return RealTimeSource{[] { return std::chrono::steady_clock::now(); },
                        [] { return std::chrono::system_clock::now(); }};
}

HostClock::HostClock() : HostClock(RealTimeSource::machine()) {}

HostClock::HostClock(RealTimeSource source)
    : source_(std::move(source)), start_(source_.steadyNow()), segment_{start_, Duration{}, 1.0} {}

Duration HostClock::monotonicAtLocked(RealTime real) const {
  // A source read before the segment began (another thread's reading raced a rate change)
  // counts as the segment's start: the time never goes back.
  const Duration elapsed = std::max(Duration{}, real - segment_.realAt);
  return segment_.monotonicAt + scaled(elapsed, segment_.rate);
}

Duration HostClock::monotonicNow() const {
  const RealTime real = source_.steadyNow();
  std::lock_guard lock(mutex_);
  return monotonicAtLocked(real);
}

WallTime HostClock::wallNow() const {
  const RealTime real = source_.steadyNow();
  const WallTime system = source_.systemNow();
  std::lock_guard lock(mutex_);
  // How far this clock has got ahead of the real time since it started.
  const Duration ahead = monotonicAtLocked(real) - std::max(Duration{}, real - start_);
  return system + std::chrono::duration_cast<WallTime::duration>(ahead);
}

void HostClock::setRate(double rate) {
  if (!(rate > 0) || !std::isfinite(rate)) {
    return;
  }
  const RealTime real = source_.steadyNow();
  std::lock_guard lock(mutex_);
  const RealTime from = std::max(real, segment_.realAt);
  segment_ = Segment{from, monotonicAtLocked(from), rate};
}

double HostClock::rate() const {
  std::lock_guard lock(mutex_);
  return segment_.rate;
}

Duration HostClock::realSpan(Duration span) const {
  std::lock_guard lock(mutex_);
  return realSpanLocked(span);
}

Duration HostClock::realDelayUntil(Duration instant) const {
  const RealTime real = source_.steadyNow();
  std::lock_guard lock(mutex_);
  return realSpanLocked(instant - monotonicAtLocked(real));
}

Duration HostClock::realSpanLocked(Duration span) const {
  if (span <= Duration{}) {
    return Duration{};
  }
  // Rounded up: a wait of this length never ends before the time it waits for.
  return Duration(
      static_cast<Duration::rep>(std::ceil(static_cast<double>(span.count()) / segment_.rate)));
}

}  // namespace lumarin
