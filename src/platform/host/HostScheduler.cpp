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

using SteadyClock = std::chrono::steady_clock;

SteadyClock::time_point dueAfter(Duration delay) {
  return SteadyClock::now() + std::max(delay, Duration::zero());
}

// Worker threads over one timed queue: one thread for a serial queue, several for a global
// queue. The workers share the queue's state with it, so a queue released by one of its own
// tasks (its worker is then detached, not joined) leaves nothing behind that the worker uses.
class ThreadQueue final : public Queue {
 public:
  ThreadQueue(std::string label, std::size_t threads)
      : label_(std::move(label)), state_(std::make_shared<State>()) {
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
    state_->wake.notify_all();
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
      handle = state_->tasks.push(dueAfter(delay), std::move(task));
    }
    state_->wake.notify_one();
    return handle;
  }

  bool isCurrent() const override { return current() == state_.get(); }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    TimedTaskQueue tasks;
    bool stopping = false;
  };

  static const State*& current() {
    thread_local const State* state = nullptr;
    return state;
  }

  static void work(const std::shared_ptr<State>& state) {
    current() = state.get();
    std::unique_lock lock(state->mutex);
    while (!state->stopping) {
      if (auto task = state->tasks.popDue(SteadyClock::now())) {
        lock.unlock();
        (*task)();
        task.reset();
        lock.lock();
        continue;
      }
      if (auto next = state->tasks.nextDue()) {
        state->wake.wait_until(lock, *next);
      } else {
        state->wake.wait(lock);
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
  MainQueue() : context_(std::make_unique<QObject>()), timer_(std::make_unique<QTimer>()) {
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
      handle = tasks_.push(dueAfter(delay), std::move(task));
    }
    QMetaObject::invokeMethod(
        context_.get(), [this] { rearm(); }, Qt::QueuedConnection);
    return handle;
  }

  bool isCurrent() const override { return std::this_thread::get_id() == mainThread_; }

 private:
  void runDue() {
    // Run what is due now; tasks posted meanwhile for now run in the next round, after Qt
    // has had a chance to process its own events.
    const auto now = SteadyClock::now();
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
    std::optional<SteadyClock::time_point> next;
    {
      std::lock_guard lock(mutex_);
      next = tasks_.nextDue();
    }
    if (!next) {
      timer_->stop();
      return;
    }
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(*next - SteadyClock::now());
    const int ms = static_cast<int>(std::clamp<std::int64_t>(wait.count(), 0, INT32_MAX));
    if (!timer_->isActive() || timer_->remainingTime() > ms) {
      timer_->start(ms);
    }
  }

  std::string label_ = "com.apple.main-thread";
  std::thread::id mainThread_;
  std::unique_ptr<QObject> context_;
  std::unique_ptr<QTimer> timer_;
  std::mutex mutex_;
  TimedTaskQueue tasks_;
};

}  // namespace

HostScheduler::HostScheduler(const HostClock& clock) : clock_(clock) {
  main_ = std::make_unique<MainQueue>();
}

HostScheduler::~HostScheduler() = default;

Queue& HostScheduler::mainQueue() { return *main_; }

std::shared_ptr<Queue> HostScheduler::makeSerialQueue(std::string label, QoS /*qos*/) {
  return std::make_shared<ThreadQueue>(std::move(label), 1);
}

Queue& HostScheduler::globalQueue(QoS qos) {
  // Threads are started on first use: most runs never touch most qualities of service.
  static constexpr const char* kGlobalNames[] = {
      "com.apple.root.background-qos", "com.apple.root.utility-qos", "com.apple.root.default-qos",
      "com.apple.root.user-initiated-qos", "com.apple.root.user-interactive-qos"};
  const auto index = static_cast<std::size_t>(qos);
  std::lock_guard lock(globalsMutex_);
  if (!globals_[index]) {
    globals_[index] = std::make_unique<ThreadQueue>(kGlobalNames[index], 2);
  }
  return *globals_[index];
}

const Clock& HostScheduler::clock() const { return clock_; }

}  // namespace lumarin
