#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "badges/BadgeSource.h"
#include "base/Observable.h"
#include "model/DockItem.h"
#include "platform/Accessibility.h"
#include "platform/Scheduler.h"

namespace lumarin {

class Workspace;

// Reads the badges that applications show on their Dock tiles through the Dock's
// accessibility tree and publishes every application tile as a map from bundle identifier to
// DockItem. A full read walks the whole Dock (at most every 30 seconds, and at once after a
// launch, a quit or a change of the watched set); the 1-second tick reads only the watched
// tiles' two attributes.
//
// Threads: `items` and `isReading` belong to the main queue; every read and all the fields
// below the lock comment run on the serial queue "jp.kestova.lumarin.dockpoll". Create it
// with std::make_shared; callbacks hold it weakly.
class DockBadgeMonitor : public BadgeSource,
                         public std::enable_shared_from_this<DockBadgeMonitor> {
 public:
  static constexpr const char* kQueueLabel = "jp.kestova.lumarin.dockpoll";
  static constexpr double kFullReadAge = 30.0;

  DockBadgeMonitor(Accessibility& accessibility, Workspace& workspace, Scheduler& scheduler);
  DockBadgeMonitor(const DockBadgeMonitor&) = delete;
  DockBadgeMonitor& operator=(const DockBadgeMonitor&) = delete;

  // Starts the 1-second timer (first tick at once) and the launch/quit observations. A second
  // call does nothing. Main queue.
  void start() override;
  // Replaces the watched bundle identifiers; a different set triggers a full read. Any thread.
  void setWatched(std::set<std::string> ids) override;
  // A full read on the calling thread, in Dock order; empty when the Dock cannot be read.
  // Changes none of the monitor's state.
  std::vector<DockItem> snapshotDockItems() override;

  const Observable<std::map<std::string, DockItem>>& items() const override { return items_; }
  const Observable<bool>& isReading() const override { return isReading_; }

  // The label parser: no badge for an absent or empty label; a count when the label holds
  // nothing but numerals and the separators ",", "." and " ", and it fits a signed 64-bit
  // integer.
  static std::optional<BadgeValue> parseBadge(const std::optional<std::string>& label);

 private:
  using Reading = std::vector<std::pair<DockItem, AXElement>>;
  std::optional<Reading> readDock();
  std::optional<std::string> bundleIDFor(const std::string& url);
  void fullPoll();
  void poll();
  void publishOnMain(std::map<std::string, DockItem> items, bool replace);

  Accessibility& ax_;
  Workspace& workspace_;
  Scheduler& scheduler_;
  std::shared_ptr<Queue> queue_;

  // Main queue.
  Observable<std::map<std::string, DockItem>> items_;
  Observable<bool> isReading_{false};
  Subscription launchObservation_;
  Subscription quitObservation_;

  // The dock-poll queue.
  std::shared_ptr<RepeatingTimer> timer_;
  std::set<std::string> watchedIDs_;
  std::map<std::string, AXElement> elementByID_;
  std::set<std::string> absentWatched_;
  std::map<std::string, DockItem> lastItemsQueue_;
  std::optional<Duration> lastFullRead_;  // absent: the distant past

  // Any thread, under cacheLock_ (held only for the lookup or the insertion).
  std::mutex cacheLock_;
  std::map<std::string, std::string> bundleIDCache_;
};

}  // namespace lumarin
