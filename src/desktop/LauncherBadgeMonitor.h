#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "badges/BadgeSource.h"
#include "base/Observable.h"
#include "desktop/LauncherEntryParser.h"
#include "model/DockItem.h"
#include "platform/Scheduler.h"

namespace lumarin {

class Workspace;

// The badges of a freedesktop desktop, told by the apps themselves through the launcher
// protocol: `com.canonical.Unity.LauncherEntry.Update(s app_uri, a{sv} properties)` from any
// sender on the session bus. Owns `com.canonical.Unity` as launchers do (apps using the
// launcher library say nothing until someone does, then send their full state), merges each
// sender's partial updates per app, and forgets a sender's badges when it leaves the bus.
//
// Publishes every app a connected sender told of, keyed by desktop file ID, with the sender's
// bus name; an app two senders speak for shows the badge of the one that changed it last.
// Event-driven: nothing runs while no signal arrives. Changes are coalesced: the map is
// published at most once per frame (`kFrame` after the first change), and only when it differs.
//
// Main queue (the bus delivers its signals there). Create it with std::make_shared.
class LauncherBadgeMonitor : public BadgeSource,
                             public std::enable_shared_from_this<LauncherBadgeMonitor> {
 public:
  static constexpr const char* kLauncherName = "com.canonical.Unity";
  static constexpr Duration kFrame = std::chrono::milliseconds(16);
  // Bounds on what senders can make it keep: apps per sender, and senders.
  static constexpr std::size_t kMaxAppsPerSender = 256;
  static constexpr std::size_t kMaxSenders = 1024;

  struct Dependencies {
    Scheduler& scheduler;
    // Running apps come first in "Add App"; names of the apps the senders speak for.
    Workspace& workspace;
    // The installed apps, after the running ones in "Add App" (bundleID and name set).
    std::function<std::vector<DockItem>()> installedApps;
    // Lines for the debug log (optional).
    std::function<void(std::string_view)> log;
    // False: no bus; the tests feed `receive` and `senderLeft` themselves.
    bool useSessionBus = true;
    // Another bus than the session's (a test's private one); empty: the session bus.
    std::string busAddress;
  };

  explicit LauncherBadgeMonitor(Dependencies deps);
  ~LauncherBadgeMonitor() override;
  LauncherBadgeMonitor(const LauncherBadgeMonitor&) = delete;
  LauncherBadgeMonitor& operator=(const LauncherBadgeMonitor&) = delete;

  // Listens on the session bus and asks for `com.canonical.Unity` (queued behind a launcher
  // that holds it). A second call does nothing.
  void start() override;
  void setWatched(std::set<std::string> ids) override;
  // This user's running apps (launch order), then the installed ones, each once.
  std::vector<DockItem> snapshotDockItems() override;
  const Observable<std::map<std::string, DockItem>>& items() const override { return items_; }
  const Observable<bool>& isReading() const override { return isReading_; }

  // One `Update` from `sender` (a unique bus name). Malformed ones are dropped. Main queue.
  void receive(const std::string& sender, std::string_view uri,
               const LauncherProperties& properties);
  // `sender` left the bus: its badges go. Main queue.
  void senderLeft(const std::string& sender);
  // Whether this connection owns `com.canonical.Unity` (false without the bus).
  bool ownsLauncherName() const;
  // Updates taken and dropped since the start (for the tests and the debug log).
  std::size_t updatesTaken() const { return taken_; }
  std::size_t updatesDropped() const { return dropped_; }

 private:
  struct Bus;
  struct AppState {
    LauncherEntryState state;
    std::uint64_t changedAt = 0;  // the order of the last change
  };
  void changed();
  void publish();
  std::map<std::string, DockItem> current() const;
  std::string nameOf(const std::string& id);

  Dependencies deps_;
  std::unique_ptr<Bus> bus_;
  Observable<std::map<std::string, DockItem>> items_;
  Observable<bool> isReading_{false};
  // sender → app → state
  std::map<std::string, std::map<std::string, AppState>> senders_;
  std::map<std::string, std::string> names_;
  std::uint64_t sequence_ = 0;
  bool publishPending_ = false;
  bool started_ = false;
  std::size_t taken_ = 0;
  std::size_t dropped_ = 0;
  std::set<std::string> refusedSenders_;  // each said once in the log
};

}  // namespace lumarin
