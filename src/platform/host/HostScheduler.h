#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Scheduler.h"

class QObject;

namespace lumarin {

class HostClock;
struct HostThreadQueueState;

// Real threads and time. The main queue runs on the Qt event loop of the thread that created
// the scheduler (a QCoreApplication must exist); each serial queue has a thread of its own;
// each global queue has a small pool of threads per quality of service. Tasks cross threads
// only by being posted.
//
// Delays are the clock's time: when its rate changes (`setTimeRate`), a task due in N seconds
// of it runs after N / rate real seconds from then on.
class HostScheduler final : public Scheduler {
 public:
  explicit HostScheduler(HostClock& clock);
  ~HostScheduler() override;
  HostScheduler(const HostScheduler&) = delete;
  HostScheduler& operator=(const HostScheduler&) = delete;

  Queue& mainQueue() override;
  std::shared_ptr<Queue> makeSerialQueue(std::string label, QoS qos) override;
  Queue& globalQueue(QoS qos) override;
  const Clock& clock() const override;

  // Runs the clock at `rate` times real time from now on (positive and finite; others are
  // ignored) and re-times every queue's pending tasks. Callable from any thread.
  void setTimeRate(double rate);
  double timeRate() const;

 private:
  // A new thread queue's shared state, remembered for re-timing while the queue lives.
  std::shared_ptr<HostThreadQueueState> trackedState();

  HostClock& clock_;
  std::unique_ptr<Queue> main_;
  std::mutex globalsMutex_;
  std::array<std::unique_ptr<Queue>, 5> globals_;
  std::mutex statesMutex_;
  std::vector<std::weak_ptr<HostThreadQueueState>> states_;
};

}  // namespace lumarin
