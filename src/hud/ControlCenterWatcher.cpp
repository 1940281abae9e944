#include "hud/ControlCenterWatcher.h"

#include <cmath>

#include "diagnostics/DebugLog.h"
#include "menubar/MenuBarGeometry.h"
#include "platform/Accessibility.h"
#include "platform/Events.h"
#include "platform/Screens.h"
#include "platform/WindowServer.h"
#include "platform/Workspace.h"

namespace lumarin {

namespace {

constexpr const char* kControlCenter = "com.apple.controlcenter";
constexpr unsigned kFunctionKey = 1u << 23;

std::string whole(double v) {
  return std::isfinite(v) ? std::to_string(static_cast<long long>(std::floor(v))) : "nan";
}

// Appended piece by piece: GCC 12 at -O3 misreads prepending a literal to a temporary string
// as an overlapping copy (-Wrestrict).
std::string describe(const ControlCenterWatcher::CCWindow& w) {
  std::string out = "l";
  out += std::to_string(w.layer);
  out += ':';
  out += whole(w.rect.width());
  out += 'x';
  out += whole(w.rect.height());
  out += '@';
  out += whole(w.rect.minX());
  out += ',';
  out += whole(w.rect.minY());
  return out;
}

std::string join(const std::vector<ControlCenterWatcher::CCWindow>& windows, bool skipItems) {
  std::string out;
  for (const auto& w : windows) {
    if (skipItems && w.layer == 25) {
      continue;
    }
    if (!out.empty()) {
      out += ' ';
    }
    out += describe(w);
  }
  return out;
}

}  // namespace

ControlCenterWatcher::ControlCenterWatcher(Dependencies dependencies)
    : deps_(dependencies), queue_(deps_.scheduler.makeSerialQueue(kQueueLabel, QoS::utility)) {}

Duration ControlCenterWatcher::now() const { return deps_.scheduler.clock().monotonicNow(); }

void ControlCenterWatcher::start() {
  if (timer_) {
    return;
  }
  std::weak_ptr<ControlCenterWatcher> weak = weak_from_this();
  timer_ = queue_->scheduleRepeating(seconds(kFastInterval), seconds(kLeeway), [weak] {
    if (auto self = weak.lock()) {
      self->poll();
    }
  });
  timer_->rearm(Duration::zero(), seconds(kFastInterval), seconds(kLeeway));
  scheduledFast_ = true;
  deps_.debugLog.log("ccwatch: start");
  deps_.scheduler.mainQueue().post([weak] {
    if (auto self = weak.lock()) {
      self->installEventMonitors();
    }
  });
}

void ControlCenterWatcher::stop() {
  if (timer_) {
    timer_->cancel();
    timer_.reset();
  }
  isOpen_ = false;
  {
    std::lock_guard lock(rectMutex_);
    panelRect_.reset();
  }
  scheduledFast_ = true;
  std::weak_ptr<ControlCenterWatcher> weak = weak_from_this();
  deps_.scheduler.mainQueue().post([weak] {
    if (auto self = weak.lock()) {
      self->eventMonitors_.clear();
    }
  });
  deps_.debugLog.log("ccwatch: stop");
}

void ControlCenterWatcher::installEventMonitors() {
  if (!eventMonitors_.empty() || !timer_) {
    return;
  }
  std::weak_ptr<ControlCenterWatcher> weak = weak_from_this();
  const Screens& screens = deps_.screens;
  eventMonitors_.push_back(deps_.events.addGlobalMonitor(
      eventMask(EventType::leftMouseDown) | eventMask(EventType::rightMouseDown),
      [weak, &screens](const MonitoredEvent& event) {
        auto self = weak.lock();
        if (!self) {
          return;
        }
        // A click in the top 40 points of a screen, where the menu bar is.
        for (const auto& screen : screens.screens()) {
          const auto& f = screen.frame;
          if (event.location.y > f.maxY() - 40 && f.minX() <= event.location.x &&
              event.location.x <= f.maxX()) {
            self->noteUserActivity();
            return;
          }
        }
      }));
  eventMonitors_.push_back(deps_.events.addGlobalMonitor(
      eventMask(EventType::flagsChanged), [weak](const MonitoredEvent& event) {
        auto self = weak.lock();
        if (self && (event.modifierFlags & kFunctionKey) != 0) {
          self->noteUserActivity();
        }
      }));
}

void ControlCenterWatcher::noteUserActivity() {
  std::weak_ptr<ControlCenterWatcher> weak = weak_from_this();
  queue_->post([weak] {
    auto self = weak.lock();
    if (!self || !self->timer_) {
      return;
    }
    self->fastUntil_ = self->now() + seconds(kFastWindow);
    self->reschedule(true);
    self->poll();
  });
}

void ControlCenterWatcher::reschedule(bool fast) {
  if (fast == scheduledFast_ || !timer_) {
    return;
  }
  scheduledFast_ = fast;
  const double interval = fast ? kFastInterval : kSlowInterval;
  timer_->rearm(seconds(interval), seconds(interval), seconds(kLeeway));
}

ControlCenterWatcher::Kind ControlCenterWatcher::classify(
    const CCWindow& window, const std::vector<MenuBarScreen>& screens) {
  const GlobalRect& r = window.rect;
  if (r.width() < 100 || r.height() < 100) {
    return Kind::ignored;
  }
  for (const auto& s : screens) {
    if (r.width() >= 0.9 * s.frame.width() && r.height() >= 0.9 * s.frame.height()) {
      return Kind::ignored;  // a full-screen layer
    }
  }
  if (window.layer == 22) {
    return Kind::panel;
  }
  if (window.layer == 23) {
    return Kind::menu;
  }
  if (window.layer != 101) {
    return Kind::ignored;
  }
  std::vector<double> tops;
  for (const auto& s : screens) {
    if (s.frame.minX() <= r.midX() && r.midX() <= s.frame.maxX()) {
      tops.push_back(s.frame.minY());
      break;
    }
  }
  if (tops.empty()) {
    for (const auto& s : screens) {
      tops.push_back(s.frame.minY());
    }
  }
  for (const double top : tops) {
    if (std::abs(r.minY() - top) <= 2) {
      return Kind::panel;
    }
  }
  return Kind::menu;
}

std::optional<std::string> ControlCenterWatcher::axPanelTitle(int pid) {
  Accessibility& ax = deps_.accessibility;
  const AXElement app = ax.createApplication(pid);
  ax.setMessagingTimeout(app, kPanelTitleTimeout);
  const auto windows = ax.elementsAttribute(app, "AXWindows");
  if (!windows || windows->empty()) {
    return std::nullopt;
  }
  // The window's element comes without its application's timeout: a Control Center that
  // stops answering between the two calls would otherwise hold the poll for six seconds.
  ax.setMessagingTimeout(windows->front(), kPanelTitleTimeout);
  return ax.stringAttribute(windows->front(), "AXTitle").value_or("(untitled)");
}

std::string ControlCenterWatcher::screensSummary() const {
  std::string out;
  for (const auto& s : menuBarScreens(deps_.screens)) {
    if (!out.empty()) {
      out += '|';
    }
    out += whole(s.frame.width());
    out += 'x';
    out += whole(s.frame.height());
    out += '@';
    out += whole(s.frame.minX());
    out += ',';
    out += whole(s.frame.minY());
  }
  return out;
}

void ControlCenterWatcher::poll() {
  ++pollCount_;
  const Duration t = now();
  if (ccPID_ != 0 && pollsSincePIDCheck_ < kPIDCheckPolls) {
    ++pollsSincePIDCheck_;
  } else {
    pollsSincePIDCheck_ = 0;
    int pid = 0;
    for (const auto& app : deps_.workspace.runningApplications()) {
      if (app.bundleIdentifier == kControlCenter) {
        pid = app.pid;
        break;
      }
    }
    if (pid != ccPID_) {
      deps_.debugLog.log("ccwatch: CC pid " + std::to_string(ccPID_) + " → " + std::to_string(pid) +
                         (pid == 0 ? " (not running?)" : ""));
      ccPID_ = pid;
    }
    ++pollsSincePIDCheck_;
    if (ccPID_ == 0) {
      return;
    }
  }

  const auto list = deps_.windowServer.windowList(WindowListOption::onScreenOnly);
  if (!list) {
    if (!lastNilListLog_ || t - *lastNilListLog_ >= seconds(5)) {
      lastNilListLog_ = t;
      deps_.debugLog.log(std::string("ccwatch: CGWindowListCopyWindowInfo returned nil (isOpen=") +
                         (isOpen_ ? "true" : "false") + ")");
    }
    return;
  }
  std::vector<CCWindow> windows;
  for (const auto& entry : *list) {
    if (entry.ownerPID != ccPID_ || !entry.layer || !entry.bounds) {
      continue;
    }
    windows.push_back(CCWindow{*entry.layer, *entry.bounds});
  }
  const auto screens = menuBarScreens(deps_.screens);
  std::optional<GlobalRect> candidate;
  bool anyMenu = false;
  for (const auto& w : windows) {
    const Kind kind = classify(w, screens);
    if (kind == Kind::panel && !candidate) {
      candidate = w.rect;
    }
    anyMenu = anyMenu || kind == Kind::menu;
  }
  const bool open = candidate.has_value();
  const std::string summary = join(windows, true);
  if (summary != lastCandidatesSummary_) {
    lastCandidatesSummary_ = summary;
    deps_.debugLog.log("ccwatch: cc-windows(non-menubar) [" +
                       (summary.empty() ? std::string("none") : summary) +
                       "] → open=" + (open ? "true" : "false"));
  }
  const bool inFastWindow = fastUntil_ && t < *fastUntil_;
  if (open) {
    reschedule(true);
    if (isOpen_) {
      return;
    }
  } else {
    if (!anyMenu) {
      const Duration every = inFastWindow ? seconds(1) : seconds(10);
      if (!lastAXCrossCheck_ || t - *lastAXCrossCheck_ >= every) {
        lastAXCrossCheck_ = t;
        if (auto title = axPanelTitle(ccPID_)) {
          if (!lastMissLog_ || t - *lastMissLog_ >= seconds(5)) {
            lastMissLog_ = t;
            deps_.debugLog.log("ccwatch: MISS? AX shows CC window '" + *title +
                               "' but CG detection=closed. cc-windows(all)=[" +
                               join(windows, false) + "] screens=" + screensSummary());
          }
        }
      }
    }
    reschedule(inFastWindow);
    if (!isOpen_) {
      return;
    }
  }
  isOpen_ = open;
  const std::optional<GlobalRect> rect = open ? candidate : std::nullopt;
  {
    std::lock_guard lock(rectMutex_);
    panelRect_ = rect;
  }
  deps_.debugLog.log(std::string("ccwatch: ") + (open ? "open" : "close") + " rect=" +
                     (open ? whole(candidate->width()) + "x" + whole(candidate->height()) + "@(" +
                                 whole(candidate->minX()) + "," + whole(candidate->minY()) + ")"
                           : std::string("-")) +
                     " screens=" + screensSummary());
  std::weak_ptr<ControlCenterWatcher> weak = weak_from_this();
  deps_.scheduler.mainQueue().post([weak, open, rect] {
    auto self = weak.lock();
    if (self && self->onChange_) {
      self->onChange_(open, rect);
    }
  });
}

}  // namespace lumarin
