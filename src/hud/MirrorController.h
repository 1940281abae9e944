#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "base/Observable.h"
#include "base/Properties.h"
#include "base/Signal.h"
#include "platform/Scheduler.h"

namespace lumarin {

class ControlCenterWatcher;
class DebugLog;
class HUDLayoutBus;
class HUDTiles;
class MirrorHUDController;
class ScreenCapture;
class Screens;

// The menu bar HUD's glue: turns the hot key, the menu entry and Control Center's opening and
// closing into showing and hiding the HUD, refreshes the tiles every second while it is
// visible, follows the setting that links the HUD to Control Center, listens to the sibling
// app's HUD layout and reports each opening. Main queue. Create with std::make_shared.
class MirrorController : public std::enable_shared_from_this<MirrorController> {
 public:
  static constexpr double kRefreshInterval = 1.0;
  static constexpr double kPelliorWait = 0.25;
  static constexpr double kPeerFreshness = 10;

  // One showing or hiding, for the run's report.
  struct Record {
    double at = 0;       // seconds since the controller started
    bool shown = false;  // false: hidden
    std::string why;     // the trigger of a show, the reason of a hide
    bool linked = false;
    CocoaRect frame;
    std::uint32_t screen = 0;  // the display the panel is on, 0 when none
    std::size_t tiles = 0;
  };

  // Without a Control Center watcher the HUD only opens when asked; without a bus no layout
  // is exchanged; without screen capture the statistics say it is not granted.
  struct Dependencies {
    std::shared_ptr<HUDTiles> model;
    std::shared_ptr<MirrorHUDController> hud;
    std::shared_ptr<ControlCenterWatcher> ccWatcher;
    HUDLayoutBus* bus;
    Scheduler& scheduler;
    Screens& screens;
    ScreenCapture* screenCapture;
    const DebugLog& debugLog;
    // Records a statistics event ("hud.open" with its properties).
    std::function<void(const std::string&, const Properties&)> recordEvent;
    // Told of each showing and hiding (for a run's report); may be empty.
    std::function<void(const Record&)> recordShow = {};
  };

  explicit MirrorController(Dependencies dependencies);
  MirrorController(const MirrorController&) = delete;
  MirrorController& operator=(const MirrorController&) = delete;

  // Wiring, once: `followsControlCenter` is the setting linking the HUD to Control Center.
  void start(const Observable<bool>& followsControlCenter);
  void toggleHUD(const std::string& trigger);
  void showHUD(bool linkedToControlCenter, const std::optional<CocoaRect>& avoiding,
               const std::string& trigger);
  // The watcher's callback; `rect` in global points.
  void controlCenterChanged(bool open, const std::optional<GlobalRect>& rect);
  void updateTimer();
  void screenParametersDidChange();
  void reportHUDOpen(const std::string& trigger, Duration startedAt);

  // The panel's window number while it is visible.
  std::optional<std::uint32_t> hudWindowNumber() const;
  MirrorHUDController& hud() const { return *deps_.hud; }
  HUDTiles& model() const { return *deps_.model; }
  bool hasTimer() const { return timer_ != nullptr; }
  bool waitingForPellior() const { return pendingCCShow_.has_value(); }
  bool waitingForRefresh() const { return showPending_; }

 private:
  void peerChanged();
  void followsControlCenterChanged(bool follows);
  void visibilityChanged(bool visible);
  std::optional<CocoaRect> toCocoaRect(const std::optional<GlobalRect>& rect) const;

  Dependencies deps_;
  std::shared_ptr<RepeatingTimer> timer_;
  std::vector<Subscription> cancellables_;
  std::optional<TaskHandle> pendingCCShow_;
  std::uint64_t showRequest_ = 0;  // the newest show waiting for the first refresh
  bool showPending_ = false;
  std::string showTrigger_;
  Duration startedAt_{};
};

}  // namespace lumarin
