#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace lumarin {

using Duration = std::chrono::nanoseconds;
using Task = std::function<void()>;
using WallTime = std::chrono::system_clock::time_point;

inline constexpr Duration seconds(double s) {
  return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}
inline constexpr double toSeconds(Duration d) { return std::chrono::duration<double>(d).count(); }

// Monotonic time and wall time. Program code reads time only through this port.
class Clock {
 public:
  virtual ~Clock() = default;
  // Time since an arbitrary fixed start; never goes backwards.
  virtual Duration monotonicNow() const = 0;
  // The calendar time ("Date()").
  virtual WallTime wallNow() const = 0;
};

// Quality of service of a queue, lowest first.
enum class QoS { background, utility, standard, userInitiated, userInteractive };

// A delayed task that may still be cancelled. Dropping the handle does not cancel the task.
class TaskHandle {
 public:
  TaskHandle() = default;
  explicit TaskHandle(std::shared_ptr<std::atomic<bool>> cancelled)
      : cancelled_(std::move(cancelled)) {}
  void cancel() const {
    if (cancelled_) {
      cancelled_->store(true);
    }
  }
  bool isCancelled() const { return cancelled_ && cancelled_->load(); }

 private:
  std::shared_ptr<std::atomic<bool>> cancelled_;
};

// A repeating timer on one queue. The timer runs while at least one owner holds the
// shared_ptr handed out by `Queue::scheduleRepeating`; dropping the last one or `cancel()`
// stops it. Callable from any thread.
class RepeatingTimer {
 public:
  virtual ~RepeatingTimer() = default;
  virtual void cancel() = 0;
  // Replaces the schedule: the next run is `delay` from now, then every `interval`. Safe to
  // call from the timer's own task.
  virtual void rearm(Duration delay, Duration interval, Duration leeway) = 0;
  virtual bool isActive() const = 0;
  virtual Duration interval() const = 0;
  virtual Duration leeway() const = 0;
};

// A queue of tasks. Serial queues run one task at a time in order; global queues may run
// their tasks concurrently. Tasks due at the same time run in posting order.
class Queue {
 public:
  virtual ~Queue() = default;
  virtual const std::string& label() const = 0;
  virtual void post(Task task) = 0;
  virtual TaskHandle postAfter(Duration delay, Task task) = 0;
  // True while the calling code runs as a task of this queue.
  virtual bool isCurrent() const = 0;

  // A timer whose first run is `interval` from now; each later run is `interval` after the
  // previous one ran. `leeway` is how late a run may be (the system may use it to coalesce
  // wake-ups). The queue must outlive the timer.
  std::shared_ptr<RepeatingTimer> scheduleRepeating(Duration interval, Duration leeway, Task task);
};

// Queues and time. The main queue belongs to the user-interface thread.
class Scheduler {
 public:
  virtual ~Scheduler() = default;
  virtual Queue& mainQueue() = 0;
  virtual std::shared_ptr<Queue> makeSerialQueue(std::string label, QoS qos) = 0;
  virtual Queue& globalQueue(QoS qos) = 0;
  virtual const Clock& clock() const = 0;

  // Waits, on the calling thread, until `done` returns true or `timeout` has passed; true when
  // it got there. A scheduler whose queues run on the caller's thread runs them meanwhile.
  // For the rare waits the program allows itself (the quit-time flush); never on a task.
  virtual bool waitFor(const std::function<bool()>& done, Duration timeout);
};

}  // namespace lumarin
