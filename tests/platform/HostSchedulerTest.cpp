#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
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

}  // namespace
}  // namespace lumarin
