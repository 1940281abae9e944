#include <algorithm>
#include <memory>

#include "platform/sim/World.h"

namespace lumarin::sim {

std::uint32_t World::addProgramWindow(const std::string& name, int layer) {
  std::lock_guard lock(mutex_);
  SimWindow w;
  w.id = nextWindowID_++;
  w.name = name;
  w.layer = layer;
  w.ownerPID = programPid_;
  w.ownerName = programName_;
  w.onscreen = false;
  programWindows_.push_back(w);
  return w.id;
}

void World::removeProgramWindow(std::uint32_t id) {
  std::lock_guard lock(mutex_);
  std::erase_if(programWindows_, [id](const SimWindow& w) { return w.id == id; });
  if (keyWindow_ == id) {
    keyWindow_.reset();
  }
}

void World::setProgramWindowFrame(std::uint32_t id, const GlobalRect& frame) {
  std::lock_guard lock(mutex_);
  for (auto& w : programWindows_) {
    if (w.id == id) {
      w.bounds = frame;
    }
  }
}

void World::orderProgramWindow(std::uint32_t id, bool in) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(programWindows_.begin(), programWindows_.end(),
                         [id](const SimWindow& w) { return w.id == id; });
  if (it == programWindows_.end()) {
    return;
  }
  SimWindow w = *it;
  programWindows_.erase(it);
  w.onscreen = in;
  // Ordered in: to the front; ordered out: behind the program's other windows.
  programWindows_.insert(in ? programWindows_.begin() : programWindows_.end(), w);
  if (!in && keyWindow_ == id) {
    keyWindow_.reset();
  }
}

bool World::programWindowOrderedIn(std::uint32_t id) const {
  std::lock_guard lock(mutex_);
  return std::any_of(programWindows_.begin(), programWindows_.end(),
                     [id](const SimWindow& w) { return w.id == id && w.onscreen; });
}

std::optional<std::uint32_t> World::programWindowAt(GlobalPoint point) const {
  std::lock_guard lock(mutex_);
  for (const auto& w : programWindows_) {
    if (w.onscreen && !programWindowsCovered_ && w.bounds.contains(point)) {
      return w.id;
    }
  }
  return std::nullopt;
}

void World::setKeyWindow(std::optional<std::uint32_t> id) {
  std::lock_guard lock(mutex_);
  keyWindow_ = id;
}

std::optional<std::uint32_t> World::keyWindow() const {
  std::lock_guard lock(mutex_);
  return keyWindow_;
}

void World::setProgramWindowsCovered(bool covered) {
  std::lock_guard lock(mutex_);
  programWindowsCovered_ = covered;
}

bool World::programWindowsCovered() const {
  std::lock_guard lock(mutex_);
  return programWindowsCovered_;
}

Subscription World::subscribeScreensChanged(std::function<void()> handler) {
  std::lock_guard lock(signalMutex_);
  auto inner = std::make_shared<Subscription>(screensChanged_.subscribe(std::move(handler)));
  return Subscription([this, inner] {
    std::lock_guard relock(signalMutex_);
    inner->reset();
  });
}

}  // namespace lumarin::sim
