#include "platform/host/HostClock.h"

namespace lumarin {

HostClock::HostClock() : start_(std::chrono::steady_clock::now()) {}

Duration HostClock::monotonicNow() const {
  return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now() - start_);
}

WallTime HostClock::wallNow() const { return std::chrono::system_clock::now(); }

}  // namespace lumarin
