#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/Signal.h"
#include "model/DockItem.h"

namespace lumarin {

class Clock;
class BadgeSource;

// What the Dock monitor published over a run, per watched app: each change of its badge or
// running state with the (virtual) time it arrived on the main thread. Feeds the run report.
// Main thread.
class BadgeHistory {
 public:
  struct Entry {
    double at = 0;  // seconds since the history started
    bool inDock = false;
    bool isRunning = false;
    std::optional<BadgeValue> badge;
    std::string sender;  // empty where badges have no sender (the Dock)
    bool operator==(const Entry&) const = default;
  };

  BadgeHistory(const BadgeSource& monitor, const Clock& clock);

  void setWatched(std::set<std::string> ids);
  const std::map<std::string, std::vector<Entry>>& entries() const { return entries_; }
  // {"com.apple.mail": [{"at": 0.0, "inDock": true, "running": true, "label": "3", "count": 3},
  // ...]}
  std::string toJson() const;

 private:
  void record(const std::map<std::string, DockItem>& items);

  const Clock& clock_;
  double start_ = 0;
  std::set<std::string> watched_;
  std::map<std::string, std::vector<Entry>> entries_;
  std::map<std::string, DockItem> last_;
  Subscription subscription_;
};

}  // namespace lumarin
