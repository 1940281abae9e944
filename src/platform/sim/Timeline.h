#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/Scheduler.h"
#include "platform/sim/Scenario.h"

namespace lumarin::sim {

// Plays a scenario's timeline: each event is applied to the world on the main queue at its
// time (seconds after `start()`), and logged for the report.
class Timeline {
 public:
  struct Applied {
    double at = 0;
    const ScenarioEvent* event = nullptr;
    bool effective = true;
  };

  Timeline(const Scenario& scenario, World& world, Scheduler& scheduler,
           Interaction interaction = {});
  Timeline(const Timeline&) = delete;
  Timeline& operator=(const Timeline&) = delete;

  void start();
  // The program's side of the scripted user (set once the program exists, before `start`).
  void setProgramActions(std::function<bool(const ScenarioEvent&)> actions) {
    interaction_.program = std::move(actions);
  }
  std::vector<Applied> applied() const;

 private:
  const Scenario& scenario_;
  World& world_;
  Scheduler& scheduler_;
  Interaction interaction_;
  std::vector<TaskHandle> pending_;
  mutable std::mutex mutex_;
  std::vector<Applied> applied_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lumarin::sim
