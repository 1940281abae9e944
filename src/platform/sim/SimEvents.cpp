#include "platform/sim/SimEvents.h"

#include <algorithm>

#include "platform/Scheduler.h"
#include "platform/sim/SimStatusBar.h"
#include "platform/sim/World.h"

namespace lumarin::sim {

namespace {

double firstScreenMaxY(const World& world) {
  const auto screens = world.screens();
  return screens.empty() ? 0 : screens.front().frame.maxY();
}

bool isMouseDown(EventType type) {
  return type == EventType::leftMouseDown || type == EventType::rightMouseDown;
}

}  // namespace

std::optional<GlobalPoint> SimEvents::mouseLocation() const {
  return toGlobal(world_.mouseLocation(), firstScreenMaxY(world_));
}

Subscription SimEvents::addGlobalMonitor(unsigned mask,
                                         std::function<void(const MonitoredEvent&)> handler) {
  auto alive = std::make_shared<std::atomic<bool>>(true);
  std::lock_guard lock(mutex_);
  monitors_.push_back(GlobalMonitor{mask, std::move(handler), alive});
  return Subscription([alive] { *alive = false; });
}

Subscription SimEvents::addLocalMonitor(unsigned mask,
                                        std::function<bool(const LocalEvent&)> handler) {
  auto alive = std::make_shared<std::atomic<bool>>(true);
  std::lock_guard lock(mutex_);
  localMonitors_.push_back(LocalMonitor{mask, std::move(handler), alive});
  return Subscription([alive] { *alive = false; });
}

void SimEvents::notifyMonitors(const MonitoredEvent& event) {
  std::vector<GlobalMonitor> monitors;
  {
    std::lock_guard lock(mutex_);
    std::erase_if(monitors_, [](const GlobalMonitor& m) { return !*m.alive; });
    monitors = monitors_;
  }
  for (const auto& monitor : monitors) {
    if ((monitor.mask & eventMask(event.type)) == 0 || scheduler_ == nullptr) {
      continue;
    }
    scheduler_->mainQueue().post([monitor, event] {
      if (*monitor.alive) {
        monitor.handler(event);
      }
    });
  }
}

void SimEvents::dispatchLocal(const LocalEvent& event, std::function<void()> deliver) {
  if (scheduler_ == nullptr) {
    return;
  }
  scheduler_->mainQueue().post([this, event, deliver = std::move(deliver)] {
    std::vector<LocalMonitor> monitors;
    {
      std::lock_guard lock(mutex_);
      std::erase_if(localMonitors_, [](const LocalMonitor& m) { return !*m.alive; });
      monitors = localMonitors_;
    }
    for (const auto& monitor : monitors) {
      if ((monitor.mask & eventMask(event.type)) != 0 && *monitor.alive &&
          !monitor.handler(event)) {
        return;  // swallowed
      }
    }
    if (deliver) {
      deliver();
    }
  });
}

void SimEvents::userClick(GlobalPoint point, bool right) {
  postMouseEvent(right ? EventType::rightMouseDown : EventType::leftMouseDown, point, 0);
  postMouseEvent(right ? EventType::rightMouseUp : EventType::leftMouseUp, point, 0);
}

void SimEvents::userFlagsChanged(unsigned flags) {
  notifyMonitors(MonitoredEvent{EventType::flagsChanged, world_.mouseLocation(), flags});
}

bool SimEvents::userKeyDown(int keyCode, unsigned modifierFlags) {
  const auto key = world_.keyWindow();
  Posted posted{world_.now(), EventType::keyDown, {}, modifierFlags, "nothing"};
  if (key) {
    posted.hit = "own window " + std::to_string(*key);
    LocalEvent event{EventType::keyDown, key, world_.mouseLocation(), keyCode, modifierFlags};
    dispatchLocal(event, [windows = windows_, number = *key, keyCode] {
      if (windows != nullptr) {
        windows->deliverKeyDown(number, keyCode);
      }
    });
  }
  record(std::move(posted));
  return key.has_value();
}

bool SimEvents::postMouseEvent(EventType type, GlobalPoint point, unsigned modifierFlags) {
  const double firstMaxY = firstScreenMaxY(world_);
  const CocoaPoint location = toCocoa(point, firstMaxY);
  world_.setMouseLocation(location);
  Posted posted{world_.now(), type, point, modifierFlags, ""};
  // The program's own windows lie in front of everything else.
  if (auto window = world_.programWindowAt(point)) {
    posted.hit = "own window " + std::to_string(*window);
    std::function<void()> deliver;
    if (isMouseDown(type)) {
      deliver = [windows = windows_, number = *window, type, point, modifierFlags] {
        if (windows != nullptr) {
          windows->deliverMouseDown(number, type, point, modifierFlags);
        }
      };
    }
    dispatchLocal(LocalEvent{type, window, location, 0, modifierFlags}, std::move(deliver));
    record(std::move(posted));
    return true;
  }
  const MenuBarHit hit = world_.hitTest(point);
  if (hit.kind == MenuBarHit::Kind::hostedItem) {
    // The program's own item: its local monitors see the event, its button the mouse-up.
    posted.hit = "own item";
    std::optional<std::uint32_t> itemWindow;
    if (auto placed = world_.placedHostedItem(hit.hostedItem)) {
      itemWindow = placed->windowID;
    }
    std::function<void()> deliver;
    if (type == EventType::leftMouseUp || type == EventType::rightMouseUp) {
      deliver = [bar = statusBar_, id = hit.hostedItem, event = Event{type, 1, modifierFlags}] {
        if (bar != nullptr) {
          bar->deliverClick(id, event);
        }
      };
    }
    dispatchLocal(LocalEvent{type, itemWindow, location, 0, modifierFlags}, std::move(deliver));
    record(std::move(posted));
    return true;
  }
  notifyMonitors(MonitoredEvent{type, location, modifierFlags});
  const bool up = type == EventType::leftMouseUp || type == EventType::rightMouseUp;
  if (up) {
    const bool right = type == EventType::rightMouseUp;
    switch (hit.kind) {
      case MenuBarHit::Kind::item:
        posted.hit = hit.item->ownerBundleID + " item";
        world_.openItemMenu(*hit.item, "click", right, modifierFlags);
        break;
      case MenuBarHit::Kind::chevron: {
        posted.hit = "chevron";
        PlacedMenuExtra overflow;
        overflow.ownerBundleID = "overflow";
        world_.openItemMenu(overflow, "click", right, modifierFlags);
        break;
      }
      case MenuBarHit::Kind::hostedItem:
      case MenuBarHit::Kind::nothing:
        posted.hit = "nothing";
        break;
    }
  }
  record(std::move(posted));
  return true;
}

std::pair<std::size_t, std::size_t> SimEvents::liveMonitors() const {
  std::lock_guard lock(mutex_);
  auto alive = [](const auto& list) {
    return static_cast<std::size_t>(
        std::count_if(list.begin(), list.end(), [](const auto& m) { return m.alive->load(); }));
  };
  return {alive(monitors_), alive(localMonitors_)};
}

void SimEvents::record(Posted posted) {
  std::lock_guard lock(mutex_);
  posted_.push_back(std::move(posted));
}

std::vector<SimEvents::Posted> SimEvents::posted() const {
  std::lock_guard lock(mutex_);
  return posted_;
}
class SimWindows::ProgramWindow final : public Window {
 public:
  ProgramWindow(World& world, std::uint32_t number) : world_(world), number_(number) {}
  ProgramWindow(const ProgramWindow&) = delete;
  ProgramWindow& operator=(const ProgramWindow&) = delete;
  ~ProgramWindow() override { world_.removeProgramWindow(number_); }

  std::uint32_t number() const override { return number_; }
  CocoaRect frame() const override { return frame_; }
  void setFrame(const CocoaRect& frame) override {
    frame_ = frame;
    world_.setProgramWindowFrame(number_, toGlobal(frame, firstScreenMaxY(world_)));
  }
  void orderFront(bool makeKey) override {
    world_.orderProgramWindow(number_, true);
    if (makeKey) {
      world_.setKeyWindow(number_);
    }
  }
  void orderOut() override { world_.orderProgramWindow(number_, false); }
  bool isVisible() const override { return world_.programWindowOrderedIn(number_); }
  bool isKey() const override { return world_.keyWindow() == number_; }
  bool occlusionVisible() const override { return isVisible() && !world_.programWindowsCovered(); }
  bool isOnActiveSpace() const override { return true; }
  void setKeyDownHandler(std::function<void(int)> handler) override {
    keyDown_ = std::move(handler);
  }
  void setMouseDownHandler(std::function<void(EventType, CocoaPoint, unsigned)> handler) override {
    mouseDown_ = std::move(handler);
  }

  bool mouseDown(EventType type, GlobalPoint point, unsigned flags) const {
    if (!mouseDown_) {
      return false;
    }
    const CocoaPoint at = toCocoa(point, firstScreenMaxY(world_));
    mouseDown_(type, CocoaPoint{at.x - frame_.minX(), at.y - frame_.minY()}, flags);
    return true;
  }
  bool keyDown(int keyCode) const {
    if (!keyDown_) {
      return false;
    }
    keyDown_(keyCode);
    return true;
  }

 private:
  World& world_;
  std::uint32_t number_;
  CocoaRect frame_;
  std::function<void(int)> keyDown_;
  std::function<void(EventType, CocoaPoint, unsigned)> mouseDown_;
};

std::shared_ptr<Window> SimWindows::makeWindow(const WindowSpec& spec) {
  const std::uint32_t number = world_.addProgramWindow(spec.title, spec.level);
  auto window = std::make_shared<ProgramWindow>(world_, number);
  std::erase_if(live_, [](const auto& entry) { return entry.second.expired(); });
  live_[number] = window;
  return window;
}

bool SimWindows::deliverMouseDown(std::uint32_t number, EventType type, GlobalPoint point,
                                  unsigned modifierFlags) {
  auto it = live_.find(number);
  auto window = it == live_.end() ? nullptr : it->second.lock();
  return window != nullptr && window->mouseDown(type, point, modifierFlags);
}

bool SimWindows::deliverKeyDown(std::uint32_t number, int keyCode) {
  auto it = live_.find(number);
  auto window = it == live_.end() ? nullptr : it->second.lock();
  return window != nullptr && window->keyDown(keyCode);
}

std::vector<std::shared_ptr<Window>> SimWindows::windows() const {
  std::vector<std::shared_ptr<Window>> out;
  for (const auto& w : world_.windows()) {
    auto it = live_.find(w.id);
    if (it != live_.end()) {
      if (auto window = it->second.lock()) {
        out.push_back(window);
      }
    }
  }
  return out;
}

}  // namespace lumarin::sim
