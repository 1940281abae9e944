#pragma once

#include <array>
#include <memory>
#include <mutex>

#include "platform/Scheduler.h"

class QObject;

namespace lumarin {

class HostClock;

// Real threads and time. The main queue runs on the Qt event loop of the thread that created
// the scheduler (a QCoreApplication must exist); each serial queue has a thread of its own;
// each global queue has a small pool of threads per quality of service. Tasks cross threads
// only by being posted.
class HostScheduler final : public Scheduler {
 public:
  explicit HostScheduler(const HostClock& clock);
  ~HostScheduler() override;
  HostScheduler(const HostScheduler&) = delete;
  HostScheduler& operator=(const HostScheduler&) = delete;

  Queue& mainQueue() override;
  std::shared_ptr<Queue> makeSerialQueue(std::string label, QoS qos) override;
  Queue& globalQueue(QoS qos) override;
  const Clock& clock() const override;

 private:
  const HostClock& clock_;
  std::unique_ptr<Queue> main_;
  std::mutex globalsMutex_;
  std::array<std::unique_ptr<Queue>, 5> globals_;
};

}  // namespace lumarin
