#include "platform/host/HostScheduler.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QTimer>
#include <condition_variable>
#include <thread>

#include "platform/host/HostClock.h"
#include "platform/host/TimedTaskQueue.h"

namespace lumarin {

namespace {

// Due times are the host clock's monotonic time, so they keep their place in the world's time
// when its rate changes; only the real wait up to them is worked out anew.
TimedTaskQueue::TimePoint dueAfter(const HostClock& clock, Duration delay) {
  return clock.monotonicNow() + std::max(delay, Duration::zero());
}

}  // namespace

// What the workers of one thread queue share with it and the scheduler: the scheduler wakes
// them when the clock's rate changes, so they work out their waits again.
struct HostThreadQueueState {
  explicit HostThreadQueueState(const HostClock& c) : clock(c) {}

  void wake() {
    // Taken and let go, so a worker between reading the clock and waiting cannot miss it.
    { std::lock_guard lock(mutex); }
    condition.notify_all();
  }

  const HostClock& clock;
  std::mutex mutex;
  std::condition_variable condition;
  TimedTaskQueue tasks;
  bool stopping = false;
};

namespace {

// Worker threads over one timed queue: one thread for a serial queue, several for a global
// queue. The workers share the queue's state with it, so a queue released by one of its own
// tasks (its worker is then detached, not joined) leaves nothing behind that the worker uses.
class ThreadQueue final : public Queue {
 public:
  using State = HostThreadQueueState;

  ThreadQueue(std::string label, std::size_t threads, std::shared_ptr<State> state)
      : label_(std::move(label)), state_(std::move(state)) {
    for (std::size_t i = 0; i < threads; ++i) {
      workers_.emplace_back([state = state_] { work(state); });
    }
  }

  ~ThreadQueue() override {
    TimedTaskQueue dropped;
    {
      std::lock_guard lock(state_->mutex);
      state_->stopping = true;
      std::swap(dropped, state_->tasks);
    }
    state_->condition.notify_all();
    for (auto& worker : workers_) {
      // The last owner may be one of our own tasks; a thread cannot join itself.
      if (worker.get_id() == std::this_thread::get_id()) {
        worker.detach();
      } else {
        worker.join();
      }
    }
    // `dropped` goes last, outside the lock: its tasks' captures may post elsewhere.
  }

  const std::string& label() const override { return label_; }
  void post(Task task) override { postAfter(Duration::zero(), std::move(task)); }

  TaskHandle postAfter(Duration delay, Task task) override {
    TaskHandle handle;
    {
      std::lock_guard lock(state_->mutex);
      if (state_->stopping) {
        return {};
      }
      handle = state_->tasks.push(dueAfter(state_->clock, delay), std::move(task));
    }
    state_->condition.notify_one();
    return handle;
  }

  bool isCurrent() const override { return current() == state_.get(); }

 private:
  static const State*& current() {
    thread_local const State* state = nullptr;
    return state;
  }

  static void work(const std::shared_ptr<State>& state) {
    current() = state.get();
    std::unique_lock lock(state->mutex);
    while (!state->stopping) {
      if (auto task = state->tasks.popDue(state->clock.monotonicNow())) {
        lock.unlock();
        (*task)();
        task.reset();
        lock.lock();
        continue;
      }
      if (auto next = state->tasks.nextDue()) {
        // Woken early by a post or a rate change; a far-off task is looked at again daily.
        state->condition.wait_for(
            lock, std::min<Duration>(state->clock.realDelayUntil(*next), std::chrono::hours(24)));
      } else {
        state->condition.wait(lock);
      }
    }
  }

  std::string label_;
  std::shared_ptr<State> state_;
  std::vector<std::thread> workers_;
};

// The main queue on the Qt event loop: a precise single-shot timer is kept armed for the
// earliest due task. Posting from another thread hands the re-arming to the main thread.
class MainQueue final : public Queue {
 public:
  explicit MainQueue(const HostClock& clock)
      : clock_(clock), context_(std::make_unique<QObject>()), timer_(std::make_unique<QTimer>()) {
    mainThread_ = std::this_thread::get_id();
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, context_.get(), [this] { runDue(); });
  }

  const std::string& label() const override { return label_; }
  void post(Task task) override { postAfter(Duration::zero(), std::move(task)); }

  TaskHandle postAfter(Duration delay, Task task) override {
    TaskHandle handle;
    {
      std::lock_guard lock(mutex_);
      handle = tasks_.push(dueAfter(clock_, delay), std::move(task));
    }
    QMetaObject::invokeMethod(
        context_.get(), [this] { rearm(); }, Qt::QueuedConnection);
    return handle;
  }

  bool isCurrent() const override { return std::this_thread::get_id() == mainThread_; }

  // The clock's rate changed: the timer is set again for the earliest task's new real wait.
  void retime() {
    QMetaObject::invokeMethod(
        context_.get(),
        [this] {
          timer_->stop();
          rearm();
        },
        Qt::QueuedConnection);
  }

 private:
  void runDue() {
    // Run what is due now; tasks posted meanwhile for now run in the next round, after Qt
    // has had a chance to process its own events.
    const auto now = clock_.monotonicNow();
    for (;;) {
      std::optional<Task> task;
      {
        std::lock_guard lock(mutex_);
        task = tasks_.popDue(now);
      }
      if (!task) {
        break;
      }
      (*task)();
    }
    rearm();
  }

  void rearm() {
    std::optional<TimedTaskQueue::TimePoint> next;
    {
      std::lock_guard lock(mutex_);
      next = tasks_.nextDue();
    }
    if (!next) {
      timer_->stop();
      return;
    }
    // Rounded up: a timer that fires before the task is due only sets itself again.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(clock_.realDelayUntil(*next));
    const int ms = static_cast<int>(std::clamp<std::int64_t>(wait.count(), 0, INT32_MAX));
    if (!timer_->isActive() || timer_->remainingTime() > ms) {
      timer_->start(ms);
    }
  }

  std::string label_ = "com.apple.main-thread";
  const HostClock& clock_;
  std::thread::id mainThread_;
  std::unique_ptr<QObject> context_;
  std::unique_ptr<QTimer> timer_;
  std::mutex mutex_;
  TimedTaskQueue tasks_;
};

}  // namespace

HostScheduler::HostScheduler(HostClock& clock) : clock_(clock) {
  main_ = std::make_unique<MainQueue>(clock_);
}

HostScheduler::~HostScheduler() = default;

Queue& HostScheduler::mainQueue() { return *main_; }

std::shared_ptr<Queue> HostScheduler::makeSerialQueue(std::string label, QoS /*qos*/) {
  return std::make_shared<ThreadQueue>(std::move(label), 1, trackedState());
}

Queue& HostScheduler::globalQueue(QoS qos) {
  // Threads are started on first use: most runs never touch most qualities of service.
  static constexpr const char* kGlobalNames[] = {
      "com.apple.root.background-qos", "com.apple.root.utility-qos", "com.apple.root.default-qos",
      "com.apple.root.user-initiated-qos", "com.apple.root.user-interactive-qos"};
  const auto index = static_cast<std::size_t>(qos);
  std::lock_guard lock(globalsMutex_);
  if (!globals_[index]) {
    globals_[index] = std::make_unique<ThreadQueue>(kGlobalNames[index], 2, trackedState());
  }
  return *globals_[index];
}

const Clock& HostScheduler::clock() const { return clock_; }

void HostScheduler::setTimeRate(double rate) {
  clock_.setRate(rate);
  // Due times stay where they are in the clock's time; every queue waits for them anew.
  std::vector<std::shared_ptr<HostThreadQueueState>> live;
  {
    std::lock_guard lock(statesMutex_);
    for (const auto& weak : states_) {
      if (auto state = weak.lock()) {
        live.push_back(std::move(state));
      }
    }
  }
  for (const auto& state : live) {
    state->wake();
  }
  static_cast<MainQueue&>(*main_).retime();
}

double HostScheduler::timeRate() const { return clock_.rate(); }

std::shared_ptr<HostThreadQueueState> HostScheduler::trackedState() {
  auto state = std::make_shared<HostThreadQueueState>(clock_);
  std::lock_guard lock(statesMutex_);
  std::erase_if(states_, [](const auto& weak) { return weak.expired(); });
  states_.push_back(state);
  return state;
}

}  // namespace lumarin
