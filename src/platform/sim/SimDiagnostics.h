#pragma once

#include <mutex>
#include <vector>

#include "platform/Diagnostics.h"

namespace lumarin::sim {

// The simulated Mac's diagnostic delivery: payloads a scenario delivers reach every
// subscriber at once; a subscription is also passed on to the real crash collection of this
// machine (`upstream`), so crashes of earlier real runs arrive too. Every delivery is kept for
// the report.
class SimDiagnostics final : public DiagnosticManager {
 public:
  void setUpstream(DiagnosticManager* upstream) { upstream_ = upstream; }

  void addSubscriber(Subscriber subscriber) override {
    if (upstream_ != nullptr) {
      upstream_->addSubscriber(subscriber);
    }
    std::lock_guard lock(mutex_);
    subscribers_.push_back(std::move(subscriber));
  }

  // False when nobody listens (the delivery is then lost, as on the Mac).
  bool deliver(const DiagnosticPayload& payload) {
    std::vector<Subscriber> subscribers;
    {
      std::lock_guard lock(mutex_);
      subscribers = subscribers_;
      ++delivered_;
    }
    for (const auto& subscriber : subscribers) {
      subscriber({payload});
    }
    return !subscribers.empty();
  }

 private:
  DiagnosticManager* upstream_ = nullptr;
  std::mutex mutex_;
  std::vector<Subscriber> subscribers_;
  int delivered_ = 0;
};

}  // namespace lumarin::sim
