#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Events.h"
#include "platform/Windows.h"

namespace lumarin {
class Scheduler;
}  // namespace lumarin

namespace lumarin::sim {

class World;
class SimStatusBar;
class SimWindows;

// The simulated Mac's input: the current event, the double-click interval, posted mouse events
// and the user's own clicks and keys. A mouse event goes to what lies under the point: one of
// the program's windows or items (the program's local monitors see it first), another app's
// item (its menu opens, and the program's global monitors see it), the chevron, or nothing.
// Keys go to the program's key window, if it has one.
class SimEvents final : public Events {
 public:
  struct Posted {
    double at = 0;
    EventType type = EventType::leftMouseUp;
    GlobalPoint point;
    unsigned flags = 0;
    std::string hit;  // what the event reached
  };

  explicit SimEvents(World& world) : world_(world) {}
  // The program's items and windows are reached through its main queue, like any input an
  // app receives.
  void attach(SimStatusBar* statusBar, SimWindows* windows, Scheduler* scheduler) {
    statusBar_ = statusBar;
    windows_ = windows;
    scheduler_ = scheduler;
  }

  std::optional<Event> currentEvent() const override { return current_; }
  double doubleClickInterval() const override { return interval_; }
  std::optional<GlobalPoint> mouseLocation() const override;
  bool postMouseEvent(EventType type, GlobalPoint point, unsigned modifierFlags) override;
  Subscription addGlobalMonitor(unsigned mask,
                                std::function<void(const MonitoredEvent&)> handler) override;
  Subscription addLocalMonitor(unsigned mask,
                               std::function<bool(const LocalEvent&)> handler) override;
  // The user's own input: a click at a global point (down and up), the modifier keys, and a
  // key press (false when the program has no key window to receive it).
  void userClick(GlobalPoint point, bool right);
  void userFlagsChanged(unsigned flags);
  bool userKeyDown(int keyCode, unsigned modifierFlags);

  void setCurrentEvent(std::optional<Event> event) { current_ = event; }
  void setDoubleClickInterval(double seconds) { interval_ = seconds; }
  std::vector<Posted> posted() const;
  // Monitors still installed (global, local).
  std::pair<std::size_t, std::size_t> liveMonitors() const;

 private:
  template <typename Handler>
  struct Monitor {
    unsigned mask = 0;
    Handler handler;
    std::shared_ptr<std::atomic<bool>> alive;  // cleared on the main queue, read anywhere
  };
  using GlobalMonitor = Monitor<std::function<void(const MonitoredEvent&)>>;
  using LocalMonitor = Monitor<std::function<bool(const LocalEvent&)>>;

  void notifyMonitors(const MonitoredEvent& event);
  // On the main queue: the local monitors in order, then `deliver` unless one swallowed it.
  void dispatchLocal(const LocalEvent& event, std::function<void()> deliver);
  void record(Posted posted);

  World& world_;
  SimStatusBar* statusBar_ = nullptr;
  SimWindows* windows_ = nullptr;
  Scheduler* scheduler_ = nullptr;
  double interval_ = 0.5;
  std::optional<Event> current_;

  mutable std::mutex mutex_;
  std::vector<Posted> posted_;
  std::vector<GlobalMonitor> monitors_;
  std::vector<LocalMonitor> localMonitors_;
};

// The program's windows on the simulated Mac: each is a window of the world's window server,
// owned by the program's process, in front of the other apps' windows while ordered in.
class SimWindows final : public Windows {
 public:
  explicit SimWindows(World& world) : world_(world) {}
  std::shared_ptr<Window> makeWindow(const WindowSpec& spec) override;

  // Input for a window: a mouse-down at a global point, a key-down. False when the window is
  // gone or has no handler.
  bool deliverMouseDown(std::uint32_t number, EventType type, GlobalPoint point,
                        unsigned modifierFlags);
  bool deliverKeyDown(std::uint32_t number, int keyCode);
  // The program's live windows, front to back as the window server orders them.
  std::vector<std::shared_ptr<Window>> windows() const;

 private:
  class ProgramWindow;
  World& world_;
  std::map<std::uint32_t, std::weak_ptr<ProgramWindow>> live_;
};

}  // namespace lumarin::sim
