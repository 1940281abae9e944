#include "platform/sim/ManualScheduler.h"

#include <cassert>
#include <thread>
#include <utility>

namespace lumarin {

class ManualScheduler::ManualQueue final : public Queue {
 public:
  ManualQueue(ManualScheduler& owner, std::string label, std::weak_ptr<bool> alive)
      : owner_(owner),
        label_(std::move(label)),
        alive_(std::move(alive)),
        token_(std::make_shared<int>(0)) {}

  const std::string& label() const override { return label_; }
  void post(Task task) override { postAfter(Duration::zero(), std::move(task)); }
  TaskHandle postAfter(Duration delay, Task task) override {
    // A serial queue may outlive the scheduler in a careless test; posting then does nothing.
    if (alive_.expired()) {
      return {};
    }
    return owner_.enqueue(this, delay, std::move(task));
  }
  bool isCurrent() const override { return !alive_.expired() && owner_.current_.load() == this; }
  std::weak_ptr<void> token() const { return token_; }

 private:
  ManualScheduler& owner_;
  std::string label_;
  std::weak_ptr<bool> alive_;
  std::shared_ptr<int> token_;
};

ManualScheduler::ManualScheduler(WallTime wallStart)
    : wallStart_(wallStart), alive_(std::make_shared<bool>(true)) {
  main_ = std::make_unique<ManualQueue>(*this, "com.apple.main-thread", alive_);
  static constexpr const char* kGlobalNames[] = {
      "com.apple.root.background-qos", "com.apple.root.utility-qos", "com.apple.root.default-qos",
      "com.apple.root.user-initiated-qos", "com.apple.root.user-interactive-qos"};
  for (std::size_t i = 0; i < globals_.size(); ++i) {
    globals_[i] = std::make_unique<ManualQueue>(*this, kGlobalNames[i], alive_);
  }
}

ManualScheduler::~ManualScheduler() {
  alive_.reset();
  // Tasks may own objects whose destructors post again; drop them after marking us gone.
  std::priority_queue<Entry, std::vector<Entry>, Later> drained;
  {
    std::lock_guard lock(mutex_);
    std::swap(drained, heap_);
  }
}

Queue& ManualScheduler::mainQueue() { return *main_; }

std::shared_ptr<Queue> ManualScheduler::makeSerialQueue(std::string label, QoS /*qos*/) {
  return std::make_shared<ManualQueue>(*this, std::move(label), alive_);
}

Queue& ManualScheduler::globalQueue(QoS qos) { return *globals_[static_cast<std::size_t>(qos)]; }

TaskHandle ManualScheduler::enqueue(ManualQueue* queue, Duration delay, Task task) {
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard lock(mutex_);
  const Duration due = now_ + std::max(delay, Duration::zero());
  heap_.push(Entry{due, nextSequence_++, queue, queue->token(), std::move(task), cancelled});
  return TaskHandle(cancelled);
}

void ManualScheduler::dropCancelledLocked(std::vector<Entry>& graveyard) const {
  while (!heap_.empty() && (heap_.top().cancelled->load() || heap_.top().queueAlive.expired())) {
    graveyard.push_back(std::move(const_cast<Entry&>(heap_.top())));
    heap_.pop();
  }
}

bool ManualScheduler::popDue(Duration limit, Entry& out) {
  std::vector<Entry> graveyard;
  std::lock_guard lock(mutex_);
  dropCancelledLocked(graveyard);
  // A task that elapsed time has moved the clock past `limit`: what fell due meanwhile runs.
  if (heap_.empty() || heap_.top().due > std::max(limit, now_)) {
    return false;
  }
  // priority_queue::top is const; the entry is moved out right before pop.
  out = std::move(const_cast<Entry&>(heap_.top()));
  heap_.pop();
  now_ = std::max(now_, out.due);
  return true;
}

std::size_t ManualScheduler::runUntilIdle() { return advanceTo(now()); }

std::size_t ManualScheduler::advanceBy(Duration d) { return advanceTo(now() + d); }

std::size_t ManualScheduler::advanceTo(Duration t) {
  std::size_t ran = 0;
  Entry entry;
  while (popDue(t, entry)) {
    // A task cancelled after it was popped (by an earlier task) is skipped.
    if (entry.cancelled->load() || entry.queueAlive.expired()) {
      entry = Entry{};
      continue;
    }
    ManualQueue* previous = current_.exchange(entry.queue);
    entry.task();
    current_ = previous;
    entry = Entry{};
    ++ran;
  }
  std::lock_guard lock(mutex_);
  now_ = std::max(now_, t);
  return ran;
}

bool ManualScheduler::waitFor(const std::function<bool()>& done, Duration timeout) {
  const auto realDeadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    runUntilIdle();
    if (done()) {
      return true;
    }
    if (!waitsForOtherThreads_ || std::chrono::steady_clock::now() >= realDeadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool ManualScheduler::runNext() {
  const auto due = nextDueTime();
  if (!due) {
    return false;
  }
  advanceTo(*due);
  return true;
}

std::size_t ManualScheduler::pendingTaskCount() const {
  std::lock_guard lock(mutex_);
  auto copy = heap_;
  std::size_t count = 0;
  while (!copy.empty()) {
    if (!copy.top().cancelled->load() && !copy.top().queueAlive.expired()) {
      ++count;
    }
    copy.pop();
  }
  return count;
}

std::optional<Duration> ManualScheduler::nextDueTime() const {
  std::vector<Entry> graveyard;
  std::lock_guard lock(mutex_);
  dropCancelledLocked(graveyard);
  if (heap_.empty()) {
    return std::nullopt;
  }
  return heap_.top().due;
}

void ManualScheduler::elapse(Duration d) {
  std::lock_guard lock(mutex_);
  now_ += std::max(d, Duration::zero());
}

Duration ManualScheduler::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

Duration ManualScheduler::monotonicNow() const { return now(); }

WallTime ManualScheduler::wallNow() const {
  return wallStart_ + std::chrono::duration_cast<WallTime::duration>(now());
}

}  // namespace lumarin
