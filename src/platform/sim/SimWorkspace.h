#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "platform/Workspace.h"

namespace lumarin {
class Scheduler;
}

namespace lumarin::sim {

class World;

// NSWorkspace on the simulated Mac. Launch and quit notifications are delivered on the main
// queue, as NSWorkspace's notification center does. Web URLs opened are recorded.
class SimWorkspace final : public Workspace {
 public:
  SimWorkspace(World& world, Scheduler& scheduler);

  std::vector<RunningApplication> runningApplications() const override;
  std::optional<std::string> urlForApplication(const std::string& bundleIdentifier) const override;
  std::optional<BundleDescription> bundleAtURL(const std::string& url) const override;
  Image iconForFile(const std::string& url) const override;
  bool openApplication(const std::string& url) override;
  bool activate(int pid) override;
  bool openURL(const std::string& url) override;
  bool accessibilityDisplayShouldReduceMotion() const override;
  Subscription observeLaunches(std::function<void(const RunningApplication&)> handler) override;
  Subscription observeTerminations(std::function<void(const RunningApplication&)> handler) override;

  std::vector<std::string> openedURLs() const;

  // What the program asked of applications: open (launch or bring forward) or activate.
  struct Activation {
    double at = 0;
    std::string bundleID;
    std::string via;  // "openApplication", "activate"
    bool launched = false;
    bool ok = false;
  };
  std::vector<Activation> activations() const;

 private:
  Subscription deliverOnMain(bool launches, std::function<void(const RunningApplication&)> handler);

  World& world_;
  Scheduler& scheduler_;
  mutable std::mutex mutex_;
  std::vector<std::string> openedURLs_;
  std::vector<Activation> activations_;
  mutable std::map<std::string, Image> iconCache_;
};

}  // namespace lumarin::sim
