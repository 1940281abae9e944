#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Json.h"
#include "platform/Panels.h"

namespace lumarin::sim {

class World;

// The system's panels on the simulated Mac. An open panel stays open until the scripted user
// answers it with a bundle on the simulated disk, or cancels; every panel shown is recorded.
// Main queue.
class SimPanels final : public Panels {
 public:
  struct Shown {
    double at = 0;
    std::string kind;  // "open", "about"
    std::string message;
    std::string outcome = "open";  // open panel: "chose <path>", "cancelled"
  };

  explicit SimPanels(World& world) : world_(world) {}

  void runOpenPanel(const OpenPanelRequest& request,
                    std::function<void(std::optional<std::string>)> completion) override;
  void showAboutPanel(const AboutPanelOptions& options) override;

  // The scripted user's answer: a bundle's path, or nothing to cancel. False when no open
  // panel is shown or the path is not an application bundle (the panel stays open then).
  bool answerOpenPanel(const std::optional<std::string>& path);
  bool openPanelShown() const { return pending_.has_value(); }
  json::OrderedJson toJson() const;

 private:
  struct Pending {
    std::size_t record = 0;
    std::function<void(std::optional<std::string>)> completion;
  };
  World& world_;
  std::vector<Shown> shown_;
  std::optional<Pending> pending_;
};

}  // namespace lumarin::sim
