#include "platform/Scheduler.h"

#include <thread>

namespace lumarin {

namespace {

// The timer posts one delayed task at a time; each run posts the next. A generation number
// invalidates runs posted before a rearm or cancel.
class QueueTimer final : public RepeatingTimer, public std::enable_shared_from_this<QueueTimer> {
 public:
  QueueTimer(Queue& queue, Task task) : queue_(queue), task_(std::move(task)) {}

  void start(Duration delay, Duration interval, Duration leeway) { rearm(delay, interval, leeway); }

  void cancel() override {
    std::lock_guard lock(mutex_);
    active_ = false;
    ++generation_;
    pending_.cancel();
  }

  void rearm(Duration delay, Duration interval, Duration leeway) override {
    std::lock_guard lock(mutex_);
    active_ = true;
    interval_ = interval;
    leeway_ = leeway;
    pending_.cancel();
    postLocked(delay, ++generation_);
  }

  bool isActive() const override {
    std::lock_guard lock(mutex_);
    return active_;
  }
  Duration interval() const override {
    std::lock_guard lock(mutex_);
    return interval_;
  }
  Duration leeway() const override {
    std::lock_guard lock(mutex_);
    return leeway_;
  }

 private:
  void postLocked(Duration delay, std::uint64_t generation) {
    std::weak_ptr<QueueTimer> weak = weak_from_this();
    pending_ = queue_.postAfter(delay, [weak, generation] {
      if (auto self = weak.lock()) {
        self->fire(generation);
      }
    });
  }

  void fire(std::uint64_t generation) {
    {
      std::lock_guard lock(mutex_);
      if (!active_ || generation != generation_) {
        return;
      }
    }
    task_();
    std::lock_guard lock(mutex_);
    // The task may have cancelled or rearmed the timer; then its own schedule stands.
    if (active_ && generation == generation_) {
      postLocked(interval_ > Duration::zero() ? interval_ : Duration(1), ++generation_);
    }
  }

  Queue& queue_;
  Task task_;
  mutable std::mutex mutex_;
  bool active_ = false;
  std::uint64_t generation_ = 0;
  Duration interval_{};
  Duration leeway_{};
  TaskHandle pending_;
};

}  // namespace

std::shared_ptr<RepeatingTimer> Queue::scheduleRepeating(Duration interval, Duration leeway,
                                                         Task task) {
  auto timer = std::make_shared<QueueTimer>(*this, std::move(task));
  timer->start(interval, interval, leeway);
  return timer;
}

bool Scheduler::waitFor(const std::function<bool()>& done, Duration timeout) {
  // Real time: other threads do the work; look again every millisecond.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace lumarin
