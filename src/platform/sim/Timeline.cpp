#include "platform/sim/Timeline.h"

namespace lumarin::sim {

Timeline::Timeline(const Scenario& scenario, World& world, Scheduler& scheduler,
                   Interaction interaction)
    : scenario_(scenario),
      world_(world),
      scheduler_(scheduler),
      interaction_(std::move(interaction)) {}

void Timeline::start() {
  std::weak_ptr<bool> alive = alive_;
  for (const auto& event : scenario_.timeline) {
    const ScenarioEvent* e = &event;
    pending_.push_back(scheduler_.mainQueue().postAfter(seconds(event.at), [this, alive, e] {
      if (alive.expired()) {
        return;
      }
      const bool effective = applyEvent(*e, world_, interaction_);
      std::lock_guard lock(mutex_);
      applied_.push_back(Applied{world_.now(), e, effective});
    }));
  }
}

std::vector<Timeline::Applied> Timeline::applied() const {
  std::lock_guard lock(mutex_);
  return applied_;
}

}  // namespace lumarin::sim
