#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/Scheduler.h"
#include "platform/TrayItems.h"

namespace lumarin {

class SystemLog;

// Every app's tray items through the StatusNotifierItem protocol. A host of the session's
// watcher (`org.kde.StatusNotifierWatcher`); while no one runs a watcher, the watcher itself,
// so apps register with it. A tray host that later queues for the watcher's name gets it
// handed over: the name is released and each item registered under a bus name is registered
// again with the new owner on its app's behalf (apps on other toolkits register themselves).
//
// Each item's properties are read once, asynchronously and with a timeout (an app that never
// answers holds nothing up and is listed once it answers), and read again after each of its
// change signals, at most once per frame. Nothing polls. Malformed properties are ignored one
// by one; pictures larger than `kMaxTrayPixmapSide` pixels a side are not taken.
//
// Main queue: the Qt event loop's thread.
class SniTrayHost final : public TrayItems {
 public:
  static constexpr std::size_t kMaxItems = 512;

  struct Options {
    // A D-Bus address; empty: the session bus.
    std::string busAddress;
    // The picture size in pixels a tile wants (pixmaps nearest at or above it are taken).
    int tilePixels = 44;
    // How long a call to an app may take before it counts as unanswered.
    int callTimeoutMs = 1000;
    // How long an item's change signals gather before its properties are read again.
    Duration coalescing = std::chrono::milliseconds(16);
    // Whether to become the watcher when the session has none.
    bool mayBeWatcher = true;
  };

  SniTrayHost(Scheduler& scheduler, SystemLog& log, Options options);
  ~SniTrayHost() override;
  SniTrayHost(const SniTrayHost&) = delete;
  SniTrayHost& operator=(const SniTrayHost&) = delete;

  // Goes on the bus. A second call does nothing.
  void start();
  // Whether this process is the session's watcher now.
  bool isWatcher() const;

  const Observable<std::vector<TrayItem>>& items() const override;
  void activate(const std::string& key, int x, int y, Done done) override;
  void secondaryActivate(const std::string& key, int x, int y, Done done) override;
  void contextMenu(const std::string& key, int x, int y, Done done) override;
  void scroll(const std::string& key, int delta, const std::string& orientation,
              Done done) override;
  void readMenu(const std::string& key, std::function<void(std::optional<Menu>)> done) override;
  void menuEvent(const std::string& key, const MenuItem& entry, const std::string& event) override;

 private:
  class Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace lumarin
