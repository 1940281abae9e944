#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/StyledText.h"
#include "platform/StatusBar.h"

namespace lumarin {

class DesktopEvents;
class Scheduler;
class SystemLog;

// The program's status items on a freedesktop desktop: each item is a StatusNotifierItem
// that the session's tray host (whoever owns `org.kde.StatusNotifierWatcher`) shows in its
// panel, with its menus exported as `com.canonical.dbusmenu`.
//
// Every item has a bus connection of its own and owns the name
// `org.kde.StatusNotifierItem-<pid>-<n>`, with the item at `/StatusNotifierItem` and its menu
// at `/MenuBar`. It registers by that name, which every watcher accepts from anyone, so an
// item can also be handed to a new watcher by a third party. Items register again whenever
// the watcher's name gets a new owner (a restarted panel); without a watcher they wait for
// one, and the bar says so once in the system log.
//
// What a tray cannot mean: a button's window (none: `window()` is absent and its title is
// only remembered), its layers (kept so callers read back what they set, never drawn), its
// bounds (the square of the bar's thickness: the host chooses the size it draws). The title
// is not drawn either; it is the item's `Title` and, for hosts that show one, its label.
//
// Clicks: the host's `Activate` is a left mouse-up (two within the desktop's double-click
// interval make a double click), `SecondaryActivate` (a middle click) counts as a left one,
// `ContextMenu` is a right mouse-up. Items with a menu attached (`setMenu`) say `ItemIsMenu`
// and the host opens the menu itself; a context menu set on an item (`setContextMenu`) is the
// menu the host shows on a secondary click. Menus the program pops up itself go to the menu
// presenter; without one they close at once with nothing chosen.
//
// Main queue; the bar and its items must be used on the thread of the Qt event loop.
class SniStatusBar final : public StatusBar {
 public:
  struct Options {
    // A D-Bus address for the items' connections; empty: the session bus.
    std::string busAddress;
    // The colour template images are painted in; absent: the desktop palette's
    // (`templateInk`).
    std::optional<RgbColor> templateInk;
    // How long changes gather before the item tells the host (one frame).
    Duration coalescing = std::chrono::milliseconds(16);
  };

  // What the bar knows of one item, for the report and for tests.
  struct ItemState {
    std::string autosaveName;
    std::string service;      // the item's bus name
    std::string objectPath;   // the item's object
    std::string menuPath;     // its dbusmenu object
    std::string status;       // "Active", "Passive"
    bool connected = false;   // its connection and name are on the bus
    bool registered = false;  // the current watcher accepted it
  };

  // Pops a menu up for an item ("owner": its autosave name) near the pointer and reports
  // through the handlers, like a menu the bar would show itself.
  using MenuPresenter =
      std::function<void(const std::string& owner, const Menu& menu, MenuHandlers handlers)>;

  SniStatusBar(Scheduler& scheduler, DesktopEvents& events, SystemLog& log, Options options);
  SniStatusBar(Scheduler& scheduler, DesktopEvents& events, SystemLog& log);
  SniStatusBar(const SniStatusBar&) = delete;
  SniStatusBar& operator=(const SniStatusBar&) = delete;
  ~SniStatusBar() override;

  std::shared_ptr<StatusItem> makeStatusItem(double length) override;
  void removeStatusItem(const std::shared_ptr<StatusItem>& item) override;
  double thickness() const override { return kThickness; }
  bool presentsContextMenus() const override { return true; }
  std::vector<std::shared_ptr<StatusItem>> items() const override;

  void setMenuPresenter(MenuPresenter presenter);
  std::vector<ItemState> itemStates() const;
  // The state of one of this bar's items; absent for an item of another bar.
  std::optional<ItemState> stateOf(const StatusItem& item) const;

  // The length of a square item, and the point size the program draws item images for.
  static constexpr double kThickness = 22;

 private:
  class Shared;
  class Item;
  std::shared_ptr<Shared> shared_;
  std::vector<std::shared_ptr<Item>> items_;
};

}  // namespace lumarin
