#include "platform/sim/SimWorkspace.h"

#include "platform/Scheduler.h"
#include "platform/sim/SimIcons.h"
#include "platform/sim/World.h"

namespace lumarin::sim {

SimWorkspace::SimWorkspace(World& world, Scheduler& scheduler)
    : world_(world), scheduler_(scheduler) {}

std::vector<RunningApplication> SimWorkspace::runningApplications() const {
  std::vector<RunningApplication> out;
  for (const auto& process : world_.processes()) {
    out.push_back(world_.describe(process));
  }
  return out;
}

std::optional<std::string> SimWorkspace::urlForApplication(const std::string& bundleID) const {
  if (auto bundle = world_.bundleWithID(bundleID)) {
    return World::fileURL(bundle->path);
  }
  return std::nullopt;
}

std::optional<BundleDescription> SimWorkspace::bundleAtURL(const std::string& url) const {
  auto bundle = world_.bundleAtPath(World::pathFromFileURL(url));
  if (!bundle || bundle->bundleID.empty()) {
    return std::nullopt;
  }
  return BundleDescription{bundle->bundleID, bundle->name, bundle->info};
}

Image SimWorkspace::iconForFile(const std::string& url) const {
  const std::string path = World::pathFromFileURL(url);
  {
    std::lock_guard lock(mutex_);
    if (auto it = iconCache_.find(path); it != iconCache_.end()) {
      return it->second;
    }
  }
  auto bundle = world_.bundleAtPath(path);
  Image icon = bundle ? applicationIcon(bundle->bundleID, bundle->name, bundle->icon)
                      : genericDocumentIcon();
  std::lock_guard lock(mutex_);
  iconCache_.emplace(path, icon);
  return icon;
}

bool SimWorkspace::openApplication(const std::string& url) {
  auto bundle = world_.bundleAtPath(World::pathFromFileURL(url));
  if (!bundle) {
    std::lock_guard lock(mutex_);
    activations_.push_back(
        Activation{world_.now(), World::pathFromFileURL(url), "openApplication", false, false});
    return false;
  }
  const bool wasRunning = world_.runningProcess(bundle->bundleID).has_value();
  const int pid = world_.launch(bundle->bundleID);
  world_.activate(pid);
  std::lock_guard lock(mutex_);
  activations_.push_back(
      Activation{world_.now(), bundle->bundleID, "openApplication", !wasRunning, pid != 0});
  return pid != 0;
}

bool SimWorkspace::activate(int pid) {
  const bool ok = world_.activate(pid);
  auto process = world_.processByPid(pid);
  std::lock_guard lock(mutex_);
  activations_.push_back(
      Activation{world_.now(), process ? process->bundleID : std::string(), "activate", false, ok});
  return ok;
}

bool SimWorkspace::accessibilityDisplayShouldReduceMotion() const { return world_.reduceMotion(); }

std::vector<SimWorkspace::Activation> SimWorkspace::activations() const {
  std::lock_guard lock(mutex_);
  return activations_;
}

bool SimWorkspace::openURL(const std::string& url) {
  std::lock_guard lock(mutex_);
  openedURLs_.push_back(url);
  return true;
}

std::vector<std::string> SimWorkspace::openedURLs() const {
  std::lock_guard lock(mutex_);
  return openedURLs_;
}

Subscription SimWorkspace::deliverOnMain(bool launches,
                                         std::function<void(const RunningApplication&)> handler) {
  // Notifications already posted when the subscriber leaves must not reach it.
  auto alive = std::make_shared<bool>(true);
  auto forward = [this, handler = std::move(handler), alive](const RunningApplication& app) {
    scheduler_.mainQueue().post([handler, alive, app] {
      if (*alive) {
        handler(app);
      }
    });
  };
  auto inner = std::make_shared<Subscription>(launches ? world_.subscribeLaunches(forward)
                                                       : world_.subscribeTerminations(forward));
  return Subscription([inner, alive] {
    *alive = false;
    inner->reset();
  });
}

Subscription SimWorkspace::observeLaunches(std::function<void(const RunningApplication&)> handler) {
  return deliverOnMain(true, std::move(handler));
}

Subscription SimWorkspace::observeTerminations(
    std::function<void(const RunningApplication&)> handler) {
  return deliverOnMain(false, std::move(handler));
}

}  // namespace lumarin::sim
