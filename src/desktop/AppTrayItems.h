#pragma once

#include <functional>
#include <string>
#include <vector>

namespace lumarin {

class Workspace;

// The tray items of other apps, as a single click on an app's item reaches them: the item
// the app registered with the tray's watcher, found by the process that owns its bus name,
// and its `Activate` called as the host would on a left click.
//
// Calls other processes on the session bus and waits (at most `kCallTimeoutMs` for each
// call), so it runs on a background queue, never on the main thread. Thread-safe.
class AppTrayItems {
 public:
  static constexpr int kCallTimeoutMs = 250;

  explicit AppTrayItems(const Workspace& workspace) : workspace_(workspace) {}
  AppTrayItems(const AppTrayItems&) = delete;
  AppTrayItems& operator=(const AppTrayItems&) = delete;

  // Activates the tray item of the app (desktop file ID) at a point of the screen; false when
  // the app runs no process that registered an item, or its item refused (an item that is
  // only a menu answers `Activate` with an error).
  bool activate(const std::string& appID, int x, int y) const;

  // The registered items, as "service/path" (a bare service stands for
  // "/StatusNotifierItem"), in the watcher's order; empty without a watcher.
  static std::vector<std::string> registeredItems();

 private:
  const Workspace& workspace_;
};

}  // namespace lumarin
