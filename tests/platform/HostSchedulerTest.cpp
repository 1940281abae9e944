#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <cmath>
#include <future>
#include <limits>
#include <thread>

#include "platform/host/HostClock.h"
#include "platform/host/HostScheduler.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

// Runs the Qt loop until `done` is called; the guard timer only ends a broken test.
void runMainLoopUntilDone(const std::function<void(std::function<void()>)>& start) {
  QEventLoop loop;
  start([&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, &loop, [&loop] {
    ADD_FAILURE() << "the hand-over never completed";
    loop.quit();
  });
  guard.start(20000);
  loop.exec();
}

TEST(HostSchedulerTest, WorkHandedToASerialQueueComesBackOnTheMainThread) {
  HostClock clock;
  HostScheduler scheduler(clock);
  auto serial = scheduler.makeSerialQueue("jp.kestova.lumarin.dockpoll", QoS::utility);
  const auto mainThread = std::this_thread::get_id();
  std::thread::id workerThread;
  std::thread::id callbackThread;
  bool workerSawItsQueue = false;
  std::vector<int> order;

  runMainLoopUntilDone([&](std::function<void()> done) {
    for (int i = 0; i < 3; ++i) {
      serial->post([&, i, done] {
        workerThread = std::this_thread::get_id();
        workerSawItsQueue = serial->isCurrent() && !scheduler.mainQueue().isCurrent();
        scheduler.mainQueue().post([&, i, done] {
          callbackThread = std::this_thread::get_id();
          order.push_back(i);
          if (i == 2) {
            done();
          }
        });
      });
    }
  });
  EXPECT_NE(workerThread, mainThread);
  EXPECT_EQ(callbackThread, mainThread);
  EXPECT_TRUE(workerSawItsQueue);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(HostSchedulerTest, DelayedTasksRunInDueOrderAndCancelledOnesNever) {
  HostClock clock;
  HostScheduler scheduler(clock);
  std::vector<std::string> order;
  runMainLoopUntilDone([&](std::function<void()> done) {
    auto& global = scheduler.globalQueue(QoS::userInitiated);
    TaskHandle cancelled = scheduler.mainQueue().postAfter(5ms, [&] { order.push_back("x"); });
    cancelled.cancel();
    scheduler.mainQueue().postAfter(30ms, [&, done] {
      order.push_back("late");
      done();
    });
    global.postAfter(10ms,
                     [&] { scheduler.mainQueue().post([&] { order.push_back("from-global"); }); });
    scheduler.mainQueue().post([&] { order.push_back("now"); });
  });
  EXPECT_EQ(order, (std::vector<std::string>{"now", "from-global", "late"}));
}

TEST(HostSchedulerTest, RepeatingTimerOnASerialQueueStopsWhenReleased) {
  HostClock clock;
  HostScheduler scheduler(clock);
  auto serial = scheduler.makeSerialQueue("timer", QoS::utility);
  std::atomic<int> fired{0};
  std::shared_ptr<RepeatingTimer> timer;
  runMainLoopUntilDone([&](std::function<void()> done) {
    timer = serial->scheduleRepeating(1ms, 0ns, [&, done] {
      if (++fired == 3) {
        scheduler.mainQueue().post(done);
      }
    });
  });
  timer.reset();
  const int afterRelease = fired.load();
  // Drain the serial queue: a task posted now runs after anything the timer had queued.
  runMainLoopUntilDone([&](std::function<void()> done) {
    serial->post([&, done] { scheduler.mainQueue().post(done); });
  });
  EXPECT_LE(fired.load(), afterRelease + 1);
  EXPECT_GE(afterRelease, 3);
}

TEST(HostSchedulerTest, SerialQueueReleasedByItsOwnTaskLeavesItsWorkerSafe) {
  HostClock clock;
  HostScheduler scheduler(clock);
  // The only owner of the queue lives in its own task's captures.
  auto holder = std::make_shared<std::shared_ptr<Queue>>(
      scheduler.makeSerialQueue("self-releasing", QoS::utility));
  bool released = false;
  runMainLoopUntilDone([&](std::function<void()> done) {
    Queue& queue = **holder;
    queue.post([&, holder, done] {
      holder->reset();  // destroys the queue on its own worker thread
      scheduler.mainQueue().post([&, done] {
        released = true;
        done();
      });
    });
    holder.reset();
  });
  EXPECT_TRUE(released);
}

// Real time as a test sets it: it stands still until the test moves it on. Readable from any
// thread.
class FakeRealTime {
 public:
  RealTimeSource source() {
    return RealTimeSource{[this] { return steadyStart_ + elapsed(); },
                          [this] {
                            return systemStart_ +
                                   std::chrono::duration_cast<WallTime::duration>(elapsed());
                          }};
  }
  void advance(Duration span) { elapsed_ += span.count(); }
  WallTime systemStart() const { return systemStart_; }

 private:
  Duration elapsed() const { return Duration(elapsed_.load()); }

  std::chrono::steady_clock::time_point steadyStart_{std::chrono::hours(1000)};
  WallTime systemStart_{std::chrono::sys_days{std::chrono::year{2025} / 3 / 14}};
  std::atomic<Duration::rep> elapsed_{0};
};

TEST(HostClockTest, ARateChangeContinuesFromWhereTheTimeWas) {
  FakeRealTime real;
  HostClock clock(real.source());
  EXPECT_EQ(clock.rate(), 1.0);
  EXPECT_EQ(clock.monotonicNow(), Duration::zero());
  EXPECT_EQ(clock.wallNow(), real.systemStart());

  real.advance(10s);
  EXPECT_EQ(clock.monotonicNow(), 10s);
  clock.setRate(10);
  EXPECT_EQ(clock.rate(), 10.0);
  EXPECT_EQ(clock.monotonicNow(), 10s) << "no jump when the rate changes";
  real.advance(1s);
  EXPECT_EQ(clock.monotonicNow(), 20s);
  clock.setRate(60);
  EXPECT_EQ(clock.monotonicNow(), 20s);
  real.advance(500ms);
  EXPECT_EQ(clock.monotonicNow(), 50s);
  // Back to real time: the world keeps the time it gained.
  clock.setRate(1);
  EXPECT_EQ(clock.monotonicNow(), 50s);
  real.advance(1s);
  EXPECT_EQ(clock.monotonicNow(), 51s);
}

TEST(HostClockTest, CalendarTimeMovesWithTheMonotonicTime) {
  FakeRealTime real;
  HostClock clock(real.source());
  const Duration monotonicStart = clock.monotonicNow();
  const WallTime wallStart = clock.wallNow();
  const auto expectTogether = [&](const char* when) {
    EXPECT_EQ(clock.wallNow() - wallStart,
              std::chrono::duration_cast<WallTime::duration>(clock.monotonicNow() - monotonicStart))
        << when;
  };
  real.advance(3s);
  expectTogether("at real time");
  clock.setRate(10);
  expectTogether("right after the change");
  real.advance(2s);
  expectTogether("ten times as fast");
  EXPECT_EQ(clock.wallNow(), real.systemStart() + 23s);
  clock.setRate(2);
  real.advance(1500ms);
  expectTogether("twice as fast");
  EXPECT_EQ(clock.wallNow(), real.systemStart() + 26s);
}

TEST(HostClockTest, TimeNeverGoesBackAcrossManyRateChanges) {
  FakeRealTime real;
  HostClock clock(real.source());
  Duration lastMonotonic = clock.monotonicNow();
  WallTime lastWall = clock.wallNow();
  const double rates[] = {1, 2, 10, 60, 1, 60, 2, 10, 1};
  for (int step = 0; step < 200; ++step) {
    if (step % 7 == 0) {
      clock.setRate(rates[(step / 7) % std::size(rates)]);
    }
    real.advance(std::chrono::microseconds(1 + (step * 37) % 1000));
    const Duration monotonic = clock.monotonicNow();
    const WallTime wall = clock.wallNow();
    EXPECT_GE(monotonic, lastMonotonic) << "step " << step;
    EXPECT_GE(wall, lastWall) << "step " << step;
    lastMonotonic = monotonic;
    lastWall = wall;
  }
}

TEST(HostClockTest, RatesThatAreNotPositiveAndFiniteAreIgnored) {
  FakeRealTime real;
  HostClock clock(real.source());
  clock.setRate(10);
  for (const double rate : {0.0, -2.0, std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::infinity()}) {
    clock.setRate(rate);
    EXPECT_EQ(clock.rate(), 10.0) << rate;
  }
  real.advance(1s);
  EXPECT_EQ(clock.monotonicNow(), 10s);
}

TEST(HostClockTest, RealWaitsShrinkWithTheRate) {
  FakeRealTime real;
  HostClock clock(real.source());
  real.advance(5s);
  EXPECT_EQ(clock.realDelayUntil(clock.monotonicNow() + 10s), 10s);
  clock.setRate(10);
  EXPECT_EQ(clock.realDelayUntil(clock.monotonicNow() + 10s), 1s);
  EXPECT_EQ(clock.realSpan(30s), 3s);
  EXPECT_EQ(clock.realDelayUntil(clock.monotonicNow() - 1s), Duration::zero());
  clock.setRate(60);
  EXPECT_EQ(clock.realDelayUntil(clock.monotonicNow() + 60s), 1s);
}

// A serial queue on faked real time: a task posted for 10 s at ten times real time runs once
// one real second has passed, not before. Each look is a task posted behind it, which wakes
// the worker and runs after anything already due.
TEST(HostSchedulerTest, AtTenTimesRealTimeTenSecondsTakeOneRealSecond) {
  FakeRealTime real;
  HostClock clock(real.source());
  HostScheduler scheduler(clock);
  scheduler.setTimeRate(10);
  EXPECT_EQ(scheduler.timeRate(), 10.0);
  auto serial = scheduler.makeSerialQueue("jp.kestova.lumarin.rate", QoS::utility);
  std::atomic<bool> ran{false};
  serial->postAfter(10s, [&] { ran = true; });
  const auto look = [&] {
    auto seen = std::make_shared<std::promise<bool>>();
    auto answer = seen->get_future();
    serial->post([&ran, seen] { seen->set_value(ran.load()); });
    if (answer.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      ADD_FAILURE() << "the serial queue did not run a posted task within 30 s";
      return false;
    }
    return answer.get();
  };
  EXPECT_FALSE(look());
  real.advance(999ms);
  EXPECT_FALSE(look()) << "due at 1 s of real time, not at 0.999 s";
  real.advance(1ms);
  EXPECT_TRUE(look());
}

TEST(HostSchedulerTest, ATaskAlreadyWaitingKeepsItsDueTimeInTheWorldsTime) {
  FakeRealTime real;
  HostClock clock(real.source());
  HostScheduler scheduler(clock);
  auto serial = scheduler.makeSerialQueue("jp.kestova.lumarin.rate", QoS::utility);
  std::atomic<bool> ran{false};
  serial->postAfter(20s, [&] { ran = true; });
  const auto look = [&] {
    auto seen = std::make_shared<std::promise<bool>>();
    auto answer = seen->get_future();
    serial->post([&ran, seen] { seen->set_value(ran.load()); });
    if (answer.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      ADD_FAILURE() << "the serial queue did not run a posted task within 30 s";
      return false;
    }
    return answer.get();
  };
  real.advance(5s);
  // 15 s of the world's time are left: 1.5 s of real time at ten times real time.
  scheduler.setTimeRate(10);
  real.advance(1499ms);
  EXPECT_FALSE(look());
  real.advance(1ms);
  EXPECT_TRUE(look());
}

TEST(HostSchedulerTest, TheMainQueueRunsTasksAtTheWorldsTime) {
  FakeRealTime real;
  HostClock clock(real.source());
  HostScheduler scheduler(clock);
  std::vector<std::string> order;
  runMainLoopUntilDone([&](std::function<void()> done) {
    scheduler.setTimeRate(10);
    scheduler.mainQueue().postAfter(10s, [&] { order.push_back("ten seconds"); });
    real.advance(999ms);
    scheduler.mainQueue().post([&, done] {
      order.push_back("at 0.999 s");
      real.advance(1ms);
      scheduler.mainQueue().post([&, done] {
        order.push_back("at 1 s");
        done();
      });
    });
  });
  EXPECT_EQ(order, (std::vector<std::string>{"at 0.999 s", "ten seconds", "at 1 s"}));
}

// The queues wait an hour of real time for a task an hour away. Once the world's time has got
// there, a rate change wakes them to work their waits out again, and the tasks run; without
// that the guard would end the test.
TEST(HostSchedulerTest, ARateChangeWakesTheQueuesToWaitAnew) {
  FakeRealTime real;
  HostClock clock(real.source());
  HostScheduler scheduler(clock);
  auto serial = scheduler.makeSerialQueue("jp.kestova.lumarin.rate", QoS::utility);
  std::atomic<int> ran{0};
  runMainLoopUntilDone([&](std::function<void()> done) {
    const auto finishing = [&, done] {
      if (++ran == 2) {
        done();
      }
    };
    scheduler.mainQueue().postAfter(1h, finishing);
    // Back on the main thread past the main queue, which must not be set again by it.
    serial->postAfter(1h, [finishing] {
      QMetaObject::invokeMethod(QCoreApplication::instance(), finishing, Qt::QueuedConnection);
    });
    // The serial worker has started and looked at its tasks: it waits for the hour.
    auto looked = std::make_shared<std::promise<void>>();
    serial->post([looked] { looked->set_value(); });
    ASSERT_EQ(looked->get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    // Once the main queue's timer is set for the hour (its setting was queued by the post),
    // the world's time moves on to it, outside any of the queues' tasks.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
          real.advance(1h);
          scheduler.setTimeRate(2);
        },
        Qt::QueuedConnection);
  });
  EXPECT_EQ(ran.load(), 2);
}

}  // namespace
}  // namespace lumarin
