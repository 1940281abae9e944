#include "platform/host/TimedTaskQueue.h"

namespace lumarin {

TaskHandle TimedTaskQueue::push(TimePoint due, Task task) {
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  heap_.push(Entry{due, nextSequence_++, std::move(task), cancelled});
  return TaskHandle(cancelled);
}

void TimedTaskQueue::dropCancelled() {
  while (!heap_.empty() && heap_.top().cancelled->load()) {
    heap_.pop();
  }
}

std::optional<Task> TimedTaskQueue::popDue(TimePoint now) {
  dropCancelled();
  if (heap_.empty() || heap_.top().due > now) {
    return std::nullopt;
  }
  // Wrap so that a cancel between pop and run still takes effect.
  Entry entry = std::move(const_cast<Entry&>(heap_.top()));
  heap_.pop();
  return Task([task = std::move(entry.task), cancelled = std::move(entry.cancelled)] {
    if (!cancelled->load()) {
      task();
    }
  });
}

std::optional<TimedTaskQueue::TimePoint> TimedTaskQueue::nextDue() {
  dropCancelled();
  if (heap_.empty()) {
    return std::nullopt;
  }
  return heap_.top().due;
}

bool TimedTaskQueue::empty() {
  dropCancelled();
  return heap_.empty();
}

void TimedTaskQueue::clear() { heap_ = {}; }

}  // namespace lumarin
