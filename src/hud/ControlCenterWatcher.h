#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "base/Signal.h"
#include "platform/Scheduler.h"

namespace lumarin {

class Accessibility;
class DebugLog;
class Events;
class Screens;
class WindowServer;
class Workspace;
struct MenuBarScreen;

// Tells when Control Center's panel opens and closes: polls the on-screen window list for
// Control Center's windows on its own queue, once a second while nothing happens and every
// 250 ms while the panel is open or for 3 s after a click near the top of a screen or a press
// of the function key. Changes reach `onChange` on the main queue. Create with
// std::make_shared; `start` and `stop` on the main queue.
class ControlCenterWatcher : public std::enable_shared_from_this<ControlCenterWatcher> {
 public:
  static constexpr const char* kQueueLabel = "com.kestova.Lumarin.ccwatch";
  static constexpr double kFastInterval = 0.25;
  static constexpr double kSlowInterval = 1.0;
  static constexpr double kLeeway = 0.05;
  static constexpr double kFastWindow = 3.0;
  static constexpr int kPIDCheckPolls = 40;
  // Every element the panel-title read asks, in seconds.
  static constexpr double kPanelTitleTimeout = 0.2;

  struct CCWindow {
    int layer = 0;
    GlobalRect rect;
    bool operator==(const CCWindow&) const = default;
  };
  enum class Kind { panel, menu, ignored };

  struct Dependencies {
    Scheduler& scheduler;
    WindowServer& windowServer;
    const Screens& screens;
    Workspace& workspace;
    Accessibility& accessibility;
    Events& events;
    const DebugLog& debugLog;
  };

  explicit ControlCenterWatcher(Dependencies dependencies);
  ControlCenterWatcher(const ControlCenterWatcher&) = delete;
  ControlCenterWatcher& operator=(const ControlCenterWatcher&) = delete;

  void start();
  void stop();
  void setOnChange(std::function<void(bool open, std::optional<GlobalRect> rect)> callback) {
    onChange_ = std::move(callback);
  }
  // Written on the watcher's queue; the main queue may read the previous poll's value.
  bool isOpen() const { return isOpen_; }
  std::optional<GlobalRect> panelRect() const {
    std::lock_guard lock(rectMutex_);
    return panelRect_;
  }
  bool pollsFast() const { return scheduledFast_; }
  int pollCount() const { return pollCount_; }

  static Kind classify(const CCWindow& window, const std::vector<MenuBarScreen>& screens);

 private:
  void poll();
  void reschedule(bool fast);
  void noteUserActivity();
  void installEventMonitors();
  std::optional<std::string> axPanelTitle(int pid);
  std::string screensSummary() const;
  Duration now() const;

  Dependencies deps_;
  std::shared_ptr<Queue> queue_;
  std::function<void(bool, std::optional<GlobalRect>)> onChange_;
  std::atomic<bool> isOpen_{false};
  mutable std::mutex rectMutex_;  // the rectangle is read on the main queue
  std::optional<GlobalRect> panelRect_;
  std::shared_ptr<RepeatingTimer> timer_;
  int ccPID_ = 0;
  int pollsSincePIDCheck_ = 0;
  std::optional<Duration> fastUntil_;  // absent: the distant past
  bool scheduledFast_ = true;
  std::vector<Subscription> eventMonitors_;  // main queue
  int pollCount_ = 0;
  std::optional<Duration> lastNilListLog_;
  std::optional<Duration> lastMissLog_;
  std::optional<Duration> lastAXCrossCheck_;
  std::string lastCandidatesSummary_;
};

}  // namespace lumarin
