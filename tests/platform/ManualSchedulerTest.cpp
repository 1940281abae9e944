#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/ManualScheduler.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

TEST(ManualSchedulerTest, RunsByDueTimeThenPostingOrderAcrossQueues) {
  ManualScheduler scheduler;
  auto serial = scheduler.makeSerialQueue("jp.kestova.lumarin.dockpoll", QoS::utility);
  std::vector<std::string> order;
  scheduler.mainQueue().postAfter(2s, [&] { order.push_back("main+2"); });
  serial->postAfter(1s, [&] { order.push_back("serial+1"); });
  scheduler.globalQueue(QoS::userInitiated).post([&] { order.push_back("global+0"); });
  serial->post([&] { order.push_back("serial+0"); });
  scheduler.mainQueue().postAfter(1s, [&] { order.push_back("main+1"); });

  EXPECT_EQ(scheduler.runUntilIdle(), 2u);
  EXPECT_EQ(order, (std::vector<std::string>{"global+0", "serial+0"}));
  EXPECT_EQ(scheduler.advanceBy(1500ms), 2u);
  EXPECT_EQ(scheduler.now(), Duration(1500ms));
  EXPECT_EQ(scheduler.advanceBy(10s), 1u);
  EXPECT_EQ(order,
            (std::vector<std::string>{"global+0", "serial+0", "serial+1", "main+1", "main+2"}));
}

TEST(ManualSchedulerTest, ClockShowsEachTasksDueTimeAndQueueIsCurrent) {
  ManualScheduler scheduler;
  auto serial = scheduler.makeSerialQueue("q", QoS::utility);
  std::vector<Duration> seen;
  bool onSerial = false;
  bool onMain = true;
  serial->postAfter(250ms, [&] {
    seen.push_back(scheduler.clock().monotonicNow());
    onSerial = serial->isCurrent();
    onMain = scheduler.mainQueue().isCurrent();
    // A task posted for "now" from inside a task runs in the same advance.
    serial->post([&] { seen.push_back(scheduler.clock().monotonicNow()); });
  });
  scheduler.advanceBy(1s);
  EXPECT_EQ(seen, (std::vector<Duration>{250ms, 250ms}));
  EXPECT_TRUE(onSerial);
  EXPECT_FALSE(onMain);
  EXPECT_EQ(scheduler.clock().wallNow() - WallTime(std::chrono::seconds(1772366400)), 1s);
}

TEST(ManualSchedulerTest, CancellationDuringARunSkipsTheTask) {
  ManualScheduler scheduler;
  std::vector<int> ran;
  TaskHandle second;
  scheduler.mainQueue().postAfter(1s, [&] {
    ran.push_back(1);
    second.cancel();  // already due in this same advance
  });
  second = scheduler.mainQueue().postAfter(1s, [&] { ran.push_back(2); });
  TaskHandle third = scheduler.mainQueue().postAfter(2s, [&] { ran.push_back(3); });
  EXPECT_EQ(scheduler.pendingTaskCount(), 3u);
  third.cancel();
  EXPECT_EQ(scheduler.pendingTaskCount(), 2u);
  scheduler.advanceBy(5s);
  EXPECT_EQ(ran, (std::vector<int>{1}));
  EXPECT_FALSE(scheduler.runNext());
}

TEST(ManualSchedulerTest, ThirtyMinuteTimerRunsInVirtualTime) {
  ManualScheduler scheduler;
  int fired = 0;
  auto timer = scheduler.mainQueue().scheduleRepeating(30min, 1s, [&] { ++fired; });
  scheduler.advanceBy(30min - 1ns);
  EXPECT_EQ(fired, 0);
  scheduler.advanceBy(1ns);
  EXPECT_EQ(fired, 1);
  scheduler.advanceBy(5h);
  EXPECT_EQ(fired, 11);
  EXPECT_EQ(timer->leeway(), Duration(1s));
  timer.reset();  // dropping the last handle stops the timer
  scheduler.advanceBy(1h);
  EXPECT_EQ(fired, 11);
  EXPECT_EQ(scheduler.pendingTaskCount(), 0u);
}

TEST(ManualSchedulerTest, TimerReArmedFromItsOwnTaskKeepsTheNewSchedule) {
  ManualScheduler scheduler;
  std::vector<Duration> fires;
  std::shared_ptr<RepeatingTimer> timer;
  timer = scheduler.mainQueue().scheduleRepeating(250ms, 0ns, [&] {
    fires.push_back(scheduler.now());
    if (fires.size() == 2) {
      timer->rearm(1s, 1s, 100ms);  // from fast to slow polling
    }
  });
  scheduler.advanceBy(3500ms);
  EXPECT_EQ(fires, (std::vector<Duration>{250ms, 500ms, 1500ms, 2500ms, 3500ms}));
  EXPECT_EQ(timer->interval(), Duration(1s));
}

TEST(ManualSchedulerTest, TimerCancelledFromItsOwnTaskStops) {
  ManualScheduler scheduler;
  int fired = 0;
  std::shared_ptr<RepeatingTimer> timer;
  timer = scheduler.mainQueue().scheduleRepeating(1s, 0ns, [&] {
    if (++fired == 3) {
      timer->cancel();
    }
  });
  scheduler.advanceBy(10s);
  EXPECT_EQ(fired, 3);
  EXPECT_FALSE(timer->isActive());
}

TEST(ManualSchedulerTest, SerialQueueOutlivingTheSchedulerPostsNothing) {
  std::shared_ptr<Queue> serial;
  {
    ManualScheduler scheduler;
    serial = scheduler.makeSerialQueue("late", QoS::background);
  }
  serial->post([] { FAIL() << "must not run"; });
  EXPECT_FALSE(serial->postAfter(1s, [] {}).isCancelled());
}

TEST(ManualSchedulerTest, TasksOfAReleasedSerialQueueDoNotRun) {
  ManualScheduler scheduler;
  auto serial = scheduler.makeSerialQueue("short-lived", QoS::utility);
  bool ran = false;
  serial->postAfter(1s, [&] { ran = true; });
  EXPECT_EQ(scheduler.pendingTaskCount(), 1u);
  serial.reset();
  EXPECT_EQ(scheduler.pendingTaskCount(), 0u);
  scheduler.advanceBy(2s);
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace lumarin
