#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Image.h"
#include "menubar/ExternalStatusItem.h"
#include "platform/Scheduler.h"

namespace lumarin {

class ControlCenterExtras;
class MenuBarAgentLayout;
class MenuBarOverflow;
class Screens;
class StatusItemCapture;
class StatusItemScanner;

// Runs the menu bar discovery the HUD's refresh will run (scan, Control Center extras, agent
// layout, placement) on a background queue at a fixed interval, and keeps each result for the
// run report and the snapshot. Create with std::make_shared; its tasks hold it weakly.
class MenuBarProbe : public std::enable_shared_from_this<MenuBarProbe> {
 public:
  struct Result {
    double at = 0;
    std::string note;
    std::vector<ExternalStatusItem> items;
    std::string pipeline;                 // "items" or "band"
    std::map<std::string, Image> glyphs;  // by item id
  };

  MenuBarProbe(Scheduler& scheduler, StatusItemScanner& scanner, ControlCenterExtras& extras,
               MenuBarAgentLayout& agent, MenuBarOverflow& overflow, const Screens& screens,
               std::shared_ptr<StatusItemCapture> capture, std::function<bool()> itemWindowsUsable);

  // First run after `firstDelay`, then every `interval`.
  void start(Duration firstDelay, Duration interval);
  // One discovery on the calling thread (without captures).
  Result discover();
  // A discovery, then the captures the HUD would take: per item window when some item window
  // is usable (1 < width ≤ 200), else from the menu bar strip. `done` gets the whole result.
  void discoverAndCapture(const std::function<void(Result)>& done);

  std::vector<Result> results() const;
  // [{"at": 1.0, "note": "...", "items": [{"id", "owner", "bundleID", "frame", "windowID",
  // "title", "drawn"}]}]
  std::string toJson() const;

 private:
  Scheduler& scheduler_;
  StatusItemScanner& scanner_;
  ControlCenterExtras& extras_;
  MenuBarAgentLayout& agent_;
  MenuBarOverflow& overflow_;
  const Screens& screens_;
  std::shared_ptr<StatusItemCapture> capture_;
  std::function<bool()> itemWindowsUsable_;
  double start_ = 0;
  std::shared_ptr<Queue> queue_;
  std::shared_ptr<RepeatingTimer> timer_;
  mutable std::mutex mutex_;
  std::vector<Result> results_;
};

}  // namespace lumarin
