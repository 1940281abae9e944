#pragma once

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <queue>
#include <string>
#include <vector>

#include "platform/Scheduler.h"

namespace lumarin {

// Virtual time. Every queue (main, serial, global) runs its tasks on the thread that drives
// the scheduler, one at a time, in due-time order; tasks due at the same time run in posting
// order, whichever queue they belong to. Time moves only through `advanceBy`/`advanceTo`/
// `runNext`, so a 30-minute timer costs microseconds.
//
// Driven from one thread (the test's or the program's main thread). Posting from other
// threads is allowed (it takes a lock); running is not.
class ManualScheduler final : public Scheduler, private Clock {
 public:
  // `wallStart` is the calendar time at virtual time zero.
  explicit ManualScheduler(WallTime wallStart = WallTime(std::chrono::seconds(1772366400)));
  ~ManualScheduler() override;
  ManualScheduler(const ManualScheduler&) = delete;
  ManualScheduler& operator=(const ManualScheduler&) = delete;

  Queue& mainQueue() override;
  std::shared_ptr<Queue> makeSerialQueue(std::string label, QoS qos) override;
  Queue& globalQueue(QoS qos) override;
  const Clock& clock() const override { return *this; }
  // Runs the tasks due now; the clock stays where it is, so a wait leaves the run's timeline
  // alone. When other threads may still post (`setWaitsForOtherThreads`: a program run whose
  // HTTP answers come from real threads), it waits for them in real time up to `timeout`.
  bool waitFor(const std::function<bool()>& done, Duration timeout) override;
  void setWaitsForOtherThreads(bool waits) { waitsForOtherThreads_ = waits; }

  Duration now() const;
  // Runs every task that is due now, including tasks they post for now. Returns how many ran.
  std::size_t runUntilIdle();
  // Runs tasks in due order up to now + d (the clock shows each task's due time while it
  // runs), then leaves the clock at now + d.
  std::size_t advanceBy(Duration d);
  std::size_t advanceTo(Duration t);
  // Moves the clock to the earliest pending task and runs everything due then. False when
  // nothing is pending.
  bool runNext();
  std::size_t pendingTaskCount() const;
  // Moves the clock forward from inside a running task, as if the task had blocked that long
  // (a slow accessibility call). Tasks that fall due meanwhile run after it, late.
  void elapse(Duration d);
  // Due time of the earliest pending (not cancelled) task.
  std::optional<Duration> nextDueTime() const;

 private:
  class ManualQueue;
  struct Entry {
    Duration due;
    std::uint64_t sequence;
    ManualQueue* queue;
    std::weak_ptr<void> queueAlive;  // a released serial queue's tasks do not run
    Task task;
    std::shared_ptr<std::atomic<bool>> cancelled;
  };
  struct Later {
    bool operator()(const Entry& a, const Entry& b) const {
      return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
    }
  };

  TaskHandle enqueue(ManualQueue* queue, Duration delay, Task task);
  bool popDue(Duration limit, Entry& out);
  // Moves cancelled entries out; the caller destroys them after unlocking, since a task's
  // captures may post again when they go.
  void dropCancelledLocked(std::vector<Entry>& graveyard) const;

  Duration monotonicNow() const override;
  WallTime wallNow() const override;

  mutable std::mutex mutex_;
  mutable std::priority_queue<Entry, std::vector<Entry>, Later> heap_;
  std::uint64_t nextSequence_ = 0;
  Duration now_{};
  bool waitsForOtherThreads_ = false;
  WallTime wallStart_;
  std::unique_ptr<ManualQueue> main_;
  std::array<std::unique_ptr<ManualQueue>, 5> globals_;
  std::atomic<ManualQueue*> current_{nullptr};
  std::shared_ptr<bool> alive_;
};

}  // namespace lumarin
