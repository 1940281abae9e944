#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "base/Observable.h"
#include "base/Signal.h"
#include "hud/HUDTiles.h"
#include "platform/Menu.h"
#include "platform/TrayItems.h"

namespace lumarin {

class DebugLog;
class Scheduler;

// The HUD's tiles on a freedesktop desktop: one per tray item of every app, in the tray's
// order, also the items the tray hides (marked so). The tray items are kept fresh by their
// own signals, so a refresh reads nothing: the tiles follow the items as they change and
// nothing polls. The items' exported menus are read when asked (`readMenus`, the HUD opening
// or the keyboard filtering), kept until the item tells its menu changed, and listed as
// entries. Main queue. Create with std::make_shared: menus arriving after it went are dropped.
class TrayTileModel final : public HUDTiles, public std::enable_shared_from_this<TrayTileModel> {
 public:
  static constexpr double kTileWidth = 22;
  // Entries kept per item's menu: the rest of a longer menu is left out of the search.
  static constexpr std::size_t kMaxEntriesPerMenu = 500;

  TrayTileModel(TrayItems& items, Scheduler& scheduler, const DebugLog& log);
  TrayTileModel(const TrayTileModel&) = delete;
  TrayTileModel& operator=(const TrayTileModel&) = delete;

  void refresh(std::function<void()> completion = {}) override;
  const Observable<std::vector<Tile>>& tiles() const override { return tiles_; }
  const Observable<bool>& accessibilityMissing() const override { return missing_; }
  const std::map<std::string, Target>& targetsByID() const override { return targets_; }
  void setOnTilesChanged(std::function<void()> callback) override {
    onTilesChanged_ = std::move(callback);
  }
  bool refreshing() const override { return false; }
  const std::string& lastMode() const override { return mode_; }
  void readMenus() override;
  const std::vector<MenuEntry>& menuEntries() const override { return entries_; }
  void setOnMenusChanged(const std::function<void()>& callback) override {
    onMenusChanged_ = callback;
  }

  // A tile for a tray item: the item's key as its id, its title, its picture.
  static Tile tileFor(const TrayItem& item);

 private:
  struct MenuCache {
    std::uint64_t revision = 0;
    bool read = false;
    bool reading = false;
    std::vector<MenuEntry> entries;
  };
  void itemsChanged(const std::vector<TrayItem>& items);
  void menuRead(const std::string& key, std::uint64_t revision, const std::optional<Menu>& menu);
  // The entries of every cached menu, in tile order; tells when they changed.
  void gatherEntries();

  TrayItems& items_;
  Scheduler& scheduler_;
  const DebugLog& log_;
  Observable<std::vector<Tile>> tiles_;
  Observable<bool> missing_{false};
  std::map<std::string, Target> targets_;
  std::function<void()> onTilesChanged_;
  std::string mode_ = "tray";
  std::map<std::string, MenuCache> menus_;
  std::vector<MenuEntry> entries_;
  std::function<void()> onMenusChanged_;
  Subscription subscription_;
};

// Where a click on a tray tile goes, the way a tray passes it on:
// - left: `Activate` at the pointer; for an item that is only a menu (it says so, or its app
//   answers `Activate` with an error) its exported menu ("menu", "activate-menu");
// - right: its exported menu, drawn by the program as a real menu at the pointer ("menu"),
//   else the app's own `ContextMenu` ("contextMenu"); while a drawn menu is open, the app
//   hears its submenus open and close, and a change the app signals is read and shown in it;
// - middle: `SecondaryActivate`; the wheel: `Scroll`.
// An exported menu that cannot be read or is empty falls back to `ContextMenu`. Every attempt
// is reported with its path once the app answered. Main queue. Create with std::make_shared:
// answers arriving after it went are dropped.
class TrayClickForwarder final : public HUDClickSink,
                                 public std::enable_shared_from_this<TrayClickForwarder> {
 public:
  struct Dependencies {
    TrayItems& items;
    const DebugLog& log;
    // Where the pointer is, in the screen's pixels (where a menu or an app's window goes).
    std::function<std::optional<GlobalPoint>()> pointer;
    // Shows an item's menu at a screen point; `owner` names the item. Returns what replaces
    // the shown menu's entries while it is open.
    std::function<std::function<void(const Menu&)>(const std::string& owner, const Menu& menu,
                                                   MenuHandlers handlers, GlobalPoint at)>
        presentMenu;
  };

  explicit TrayClickForwarder(Dependencies dependencies);

  void forward(const HUDTiles::Target& target, bool right, unsigned modifiers) override;
  void middleClick(const HUDTiles::Target& target) override;
  void scroll(const HUDTiles::Target& target, int delta, bool horizontal) override;
  // The entry's "clicked", as the app's menu would send it ("menu-entry").
  void perform(const HUDTiles::Target& target, const HUDTiles::MenuEntry& entry) override;

  // Told every attempt (the statistics event and the run's report).
  void setReporter(std::function<void(const Report&)> reporter) { reporter_ = std::move(reporter); }

 private:
  std::optional<TrayItem> itemFor(const HUDTiles::Target& target) const;
  GlobalPoint where() const;
  void showMenu(const TrayItem& item, const std::string& path);
  void contextMenu(const TrayItem& item, const std::string& path);
  void report(const TrayItem& item, bool ok, const std::string& path,
              const std::string& error = {});

  // A drawn menu while it is open: its item, how to update it, what follows the item's menu.
  struct OpenMenu {
    std::string key;
    std::uint64_t revision = 0;
    bool reading = false;
    std::function<void(const Menu&)> update;
    Subscription watch;
  };
  void followMenu(const std::shared_ptr<OpenMenu>& open);

  Dependencies deps_;
  std::function<void(const Report&)> reporter_;
  std::shared_ptr<OpenMenu> open_;
};

}  // namespace lumarin
