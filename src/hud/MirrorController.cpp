#include "hud/MirrorController.h"

#include <cmath>

#include "base/WeakBind.h"
#include "diagnostics/DebugLog.h"
#include "hud/ControlCenterWatcher.h"
#include "hud/HUDLayoutBus.h"
#include "hud/HUDTiles.h"
#include "hud/MirrorHUDController.h"
#include "platform/ScreenCapture.h"
#include "platform/Screens.h"
#include "platform/Windows.h"

namespace lumarin {

namespace {

std::string yesNo(bool value) { return value ? "true" : "false"; }

}  // namespace

MirrorController::MirrorController(Dependencies dependencies) : deps_(std::move(dependencies)) {
  startedAt_ = deps_.scheduler.clock().monotonicNow();
}

void MirrorController::start(const Observable<bool>& followsControlCenter) {
  deps_.hud->setOnVisibilityChanged(
      weakBind(weak_from_this(),
               [](MirrorController& self, bool visible) { self.visibilityChanged(visible); }));
  deps_.model->setOnTilesChanged(weakBind(weak_from_this(), [](MirrorController& self) {
    if (self.deps_.hud->isVisible()) {
      self.deps_.hud->layout();
    }
  }));
  if (deps_.ccWatcher) {
    deps_.ccWatcher->setOnChange(weakBind(
        weak_from_this(), [](MirrorController& self, bool open, std::optional<GlobalRect> rect) {
          self.controlCenterChanged(open, rect);
        }));
  }
  if (deps_.bus != nullptr) {
    deps_.bus->start();
    deps_.bus->setOnPeerChange(weakBind(
        weak_from_this(),
        [](MirrorController& self, const HUDLayoutBus::PeerState&) { self.peerChanged(); }));
  }
  if (deps_.ccWatcher) {
    cancellables_.push_back(followsControlCenter.bind(weakBind(
        weak_from_this(),
        [](MirrorController& self, bool follows) { self.followsControlCenterChanged(follows); })));
  }
  // Screens change on whichever thread the system uses; the refresh is asked on the main queue.
  std::weak_ptr<MirrorController> weak = weak_from_this();
  Queue& main = deps_.scheduler.mainQueue();
  cancellables_.push_back(deps_.screens.subscribeParametersChanged([weak, &main] {
    main.post([weak] {
      if (auto self = weak.lock()) {
        self->screenParametersDidChange();
      }
    });
  }));
}

void MirrorController::followsControlCenterChanged(bool follows) {
  if (follows) {
    deps_.ccWatcher->start();
    return;
  }
  deps_.ccWatcher->stop();
  if (deps_.hud->isVisible() && deps_.hud->linkedToControlCenter()) {
    deps_.hud->hide("follow-off");
  }
}

void MirrorController::toggleHUD(const std::string& trigger) {
  if (deps_.hud->isVisible()) {
    deps_.hud->hide("toggle");
    return;
  }
  if (showPending_) {
    // Asked again before the first refresh ended: the second press takes the first back.
    ++showRequest_;
    showPending_ = false;
    deps_.debugLog.log("hud: show cancelled before the first refresh ended");
    return;
  }
  showHUD(false, std::nullopt, trigger);
}

void MirrorController::showHUD(bool linked, const std::optional<CocoaRect>& avoiding,
                               const std::string& trigger) {
  const Duration startedAt = deps_.scheduler.clock().monotonicNow();
  if (!deps_.model->tiles()->empty()) {
    showTrigger_ = trigger;
    deps_.hud->show(linked, avoiding);
    deps_.model->refresh();
    reportHUDOpen(trigger, startedAt);
    return;
  }
  deps_.debugLog.log("hud: show requested (linkedCC=" + yesNo(linked) +
                     ") tiles=0 → refresh first (refreshing=" + yesNo(deps_.model->refreshing()) +
                     ")");
  // Only the newest request waiting for the refresh shows the HUD.
  const std::uint64_t request = ++showRequest_;
  showPending_ = true;
  deps_.model->refresh(weakBind(
      weak_from_this(), [linked, avoiding, trigger, startedAt, request](MirrorController& self) {
        if (request != self.showRequest_ || self.deps_.hud->isVisible()) {
          return;  // taken back, replaced, or shown meanwhile
        }
        self.showPending_ = false;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            self.deps_.scheduler.clock().monotonicNow() - startedAt)
                            .count();
        const std::size_t tiles = self.deps_.model->tiles()->size();
        if (!linked || (self.deps_.ccWatcher && self.deps_.ccWatcher->isOpen())) {
          self.deps_.debugLog.log("hud: refresh done in " + std::to_string(ms) +
                                  "ms → show (tiles=" + std::to_string(tiles) + ")");
          self.showTrigger_ = trigger;
          self.deps_.hud->show(linked, avoiding);
          self.reportHUDOpen(trigger, startedAt);
        } else {
          self.deps_.debugLog.log("hud: show skipped — CC closed during refresh (" +
                                  std::to_string(ms) + "ms, tiles=" + std::to_string(tiles) + ")");
        }
      }));
}

void MirrorController::reportHUDOpen(const std::string& trigger, Duration startedAt) {
  if (!deps_.recordEvent) {
    return;
  }
  bool notch = false;
  for (const auto& screen : deps_.screens.screens()) {
    notch = notch || screen.safeAreaTopInset > 0;
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deps_.scheduler.clock().monotonicNow() - startedAt)
                      .count();
  deps_.recordEvent("hud.open",
                    Properties{{"trigger", trigger},
                               {"items", static_cast<std::int64_t>(deps_.model->tiles()->size())},
                               {"notchHidden", notch},
                               {"ms", static_cast<std::int64_t>(ms)},
                               {"captureGranted", deps_.screenCapture != nullptr &&
                                                      deps_.screenCapture->preflightAccess()}});
}

std::optional<CocoaRect> MirrorController::toCocoaRect(
    const std::optional<GlobalRect>& rect) const {
  if (!rect) {
    return std::nullopt;
  }
  const auto screens = deps_.screens.screens();
  return toCocoa(*rect, screens.empty() ? 0 : screens.front().frame.maxY());
}

void MirrorController::controlCenterChanged(bool open, const std::optional<GlobalRect>& rect) {
  MirrorHUDController& hud = *deps_.hud;
  if (!open) {
    if (pendingCCShow_) {
      pendingCCShow_->cancel();
      pendingCCShow_.reset();
      deps_.debugLog.log("hud: cc-closed while waiting for pellior — show cancelled");
      return;
    }
    if (hud.isVisible() && hud.linkedToControlCenter()) {
      hud.hide("cc-closed");
      return;
    }
    deps_.debugLog.log("hud: cc-close with no linked HUD (visible=" + yesNo(hud.isVisible()) +
                       ", linkedCC=" + yesNo(hud.linkedToControlCenter()) + ")");
    return;
  }
  if (hud.isVisible()) {
    deps_.debugLog.log("hud: cc-open ignored — HUD already visible (linkedCC=" +
                       yesNo(hud.linkedToControlCenter()) + ", frame=" + hud.frameDescription() +
                       ")");
    return;
  }
  const auto avoid = toCocoaRect(rect);
  if (deps_.bus != nullptr && deps_.bus->heardFromPellior() &&
      !deps_.bus->freshVisiblePeer(kPeerFreshness)) {
    deps_.debugLog.log("hud: cc-open — waiting ≤250ms for pellior layout");
    if (pendingCCShow_) {
      pendingCCShow_->cancel();
    }
    pendingCCShow_ = deps_.scheduler.mainQueue().postAfter(
        seconds(kPelliorWait), weakBind(weak_from_this(), [avoid](MirrorController& self) {
          self.pendingCCShow_.reset();
          if (self.deps_.ccWatcher->isOpen() && !self.deps_.hud->isVisible()) {
            self.showHUD(true, avoid, "cc");
          }
        }));
    return;
  }
  showHUD(true, avoid, "cc");
}

void MirrorController::peerChanged() {
  const auto& peer = deps_.bus->pellior();
  if (!peer) {
    return;
  }
  MirrorHUDController& hud = *deps_.hud;
  if (peer->visible && pendingCCShow_) {
    pendingCCShow_->cancel();
    pendingCCShow_.reset();
    if (deps_.ccWatcher && deps_.ccWatcher->isOpen() && !hud.isVisible()) {
      showHUD(true, toCocoaRect(deps_.ccWatcher->panelRect()), "cc");
    }
    return;
  }
  if (hud.isVisible() && hud.linkedToControlCenter()) {
    hud.setPeerFrame(peer->visible ? std::optional<CocoaRect>(peer->frame) : std::nullopt);
    hud.layout();
  }
}

void MirrorController::updateTimer() {
  if (deps_.hud->isVisible()) {
    if (!timer_) {
      std::weak_ptr<HUDTiles> model = deps_.model;
      timer_ = deps_.scheduler.mainQueue().scheduleRepeating(seconds(kRefreshInterval),
                                                             Duration::zero(), [model] {
                                                               if (auto strong = model.lock()) {
                                                                 strong->refresh();
                                                               }
                                                             });
    }
    return;
  }
  if (timer_) {
    timer_->cancel();
    timer_.reset();
  }
}

void MirrorController::visibilityChanged(bool visible) {
  updateTimer();
  MirrorHUDController& hud = *deps_.hud;
  Record record;
  record.at = toSeconds(deps_.scheduler.clock().monotonicNow() - startedAt_);
  record.shown = visible;
  record.why = visible ? showTrigger_ : hud.lastHideReason();
  record.linked = visible && hud.linkedToControlCenter();
  if (hud.panel() != nullptr) {
    record.frame = hud.panel()->window().frame();
    for (const auto& screen : deps_.screens.screens()) {
      if (screen.frame.intersects(record.frame)) {
        record.screen = screen.displayID;
        break;
      }
    }
  }
  record.tiles = deps_.model->tiles()->size();
  if (deps_.recordShow) {
    deps_.recordShow(record);
  }
}

void MirrorController::screenParametersDidChange() {
  if (deps_.hud->isVisible()) {
    deps_.model->refresh();
  }
}

std::optional<std::uint32_t> MirrorController::hudWindowNumber() const {
  if (!deps_.hud->isVisible()) {
    return std::nullopt;
  }
  return deps_.hud->panel()->window().number();
}

}  // namespace lumarin
