#include <benchmark/benchmark.h>

#include "platform/sim/ManualScheduler.h"

namespace {

using namespace lumarin;

// Virtual time: one second of the program's busiest timers (a 1 s poll, a 250 ms poll, the
// 3 s housekeeping) costs this much.
void BM_VirtualMinuteOfTimers(benchmark::State& state) {
  for (auto _ : state) {
    ManualScheduler scheduler;
    auto poll = scheduler.makeSerialQueue("poll", QoS::utility);
    int ticks = 0;
    auto a = poll->scheduleRepeating(seconds(1), Duration::zero(), [&] { ++ticks; });
    auto b = poll->scheduleRepeating(seconds(0.25), Duration::zero(), [&] { ++ticks; });
    auto c =
        scheduler.mainQueue().scheduleRepeating(seconds(3), Duration::zero(), [&] { ++ticks; });
    scheduler.advanceBy(seconds(60));
    benchmark::DoNotOptimize(ticks);
  }
}
BENCHMARK(BM_VirtualMinuteOfTimers);

}  // namespace
