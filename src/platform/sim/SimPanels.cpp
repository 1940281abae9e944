#include "platform/sim/SimPanels.h"

#include <cmath>

#include "platform/sim/World.h"

namespace lumarin::sim {

void SimPanels::runOpenPanel(const OpenPanelRequest& request,
                             std::function<void(std::optional<std::string>)> completion) {
  if (pending_) {
    // One modal panel at a time: a second request ends the first as cancelled.
    answerOpenPanel(std::nullopt);
  }
  shown_.push_back(Shown{world_.now(), "open", request.message, "open"});
  pending_ = Pending{shown_.size() - 1, std::move(completion)};
}

void SimPanels::showAboutPanel(const AboutPanelOptions& options) {
  shown_.push_back(
      Shown{world_.now(), "about", options.applicationName + ": " + options.credits, "shown"});
}

bool SimPanels::answerOpenPanel(const std::optional<std::string>& path) {
  if (!pending_) {
    return false;
  }
  if (path) {
    auto bundle = world_.bundleAtPath(*path);
    if (!bundle) {
      return false;  // the panel only lets the user pick application bundles
    }
  }
  auto pending = std::move(*pending_);
  pending_.reset();
  shown_[pending.record].outcome = path ? "chose " + *path : "cancelled";
  if (pending.completion) {
    pending.completion(path ? std::optional<std::string>(World::fileURL(*path)) : std::nullopt);
  }
  return true;
}

json::OrderedJson SimPanels::toJson() const {
  json::OrderedJson out = json::OrderedJson::array();
  for (const auto& s : shown_) {
    out.push_back(json::OrderedJson{{"at", std::round(s.at * 1e6) / 1e6},
                                    {"kind", s.kind},
                                    {"message", s.message},
                                    {"outcome", s.outcome}});
  }
  return out;
}

}  // namespace lumarin::sim
