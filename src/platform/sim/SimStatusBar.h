#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Json.h"
#include "base/Result.h"
#include "platform/StatusBar.h"
#include "platform/sim/SimEvents.h"

namespace lumarin {
class Scheduler;
class UserDefaults;
}  // namespace lumarin

namespace lumarin::sim {

class World;
class SimStatusItem;

class SimStatusBar;

// NSStatusBar on the simulated Mac. Items are placed among the other processes' items by the
// position the system keeps in the program's defaults; their buttons are drawn into the
// world's menu bar. Menus shown at an item are recorded and stay open until the scripted user
// chooses an entry or dismisses them. Main queue.
class SimStatusBar final : public StatusBar {
 public:
  // One menu as it was shown: when, at which item, its entries, and how it ended.
  struct ShownMenu {
    double at = 0;
    std::string owner;  // the item's autosave name
    Menu menu;
    std::string outcome = "open";  // "chose", "closed"
    std::vector<std::string> chosenPath;
  };

  SimStatusBar(World& world, Scheduler& scheduler, UserDefaults& defaults, SimEvents& events);
  SimStatusBar(const SimStatusBar&) = delete;
  SimStatusBar& operator=(const SimStatusBar&) = delete;
  ~SimStatusBar() override;

  std::shared_ptr<StatusItem> makeStatusItem(double length) override;
  void removeStatusItem(const std::shared_ptr<StatusItem>& item) override;
  double thickness() const override { return kThickness; }
  // The Mac's status bar sends secondary clicks to the item; the program pops its menu up.
  bool presentsContextMenus() const override { return false; }

  // --- the scripted user ---
  // Clicks an item: "own" is the program's first item, otherwise the item whose autosave name
  // ends in "." + `name` (an app's bundle identifier) or equals it. Two clicks arrive as a
  // click and a double click. False when no such item is drawn in the menu bar.
  bool click(const std::string& name, bool right, int clicks, unsigned modifiers);
  // The item with this window number; null when none has it.
  std::shared_ptr<StatusItem> itemWithWindow(std::uint32_t number) const;
  // Chooses the entry at `path` (titles, through submenus) of the open menu. False when no
  // menu is open or the entry does not exist or is disabled; the menu then stays open.
  bool choose(const std::vector<std::string>& path);
  bool dismissMenu();
  // Told of each menu as it opens (the simulator window shows it as a real menu, which then
  // chooses or dismisses through the two calls above).
  void setMenuPresenter(std::function<void(const std::string& owner, const Menu& menu)> presenter) {
    presenter_ = std::move(presenter);
  }
  // A mouse-up reaching the program's item `hostedItem` (from a posted event).
  bool deliverClick(int hostedItem, const Event& event);

  std::vector<std::shared_ptr<StatusItem>> items() const override;
  const std::vector<ShownMenu>& shownMenus() const { return shown_; }
  bool menuOpen() const { return openMenu_.has_value(); }
  json::OrderedJson statusItemsJson() const;
  // Each item's button image as "<autosave name>.png".
  Status writePictures(const std::filesystem::path& directory, double scale) const;
  json::OrderedJson menusJson() const;

  // Used by the items.
  void showMenu(const std::string& owner, const Menu& menu, MenuHandlers handlers);
  World& world() { return world_; }
  UserDefaults& defaults() { return defaults_; }
  SimEvents& events() { return events_; }

  static constexpr double kThickness = 22;

 private:
  struct OpenMenu {
    std::size_t record = 0;
    Menu menu;
    MenuHandlers handlers;
  };
  void closeOpenMenu(const std::string& outcome);
  void deliver(SimStatusItem& item, const Event& event);
  std::shared_ptr<SimStatusItem> find(const std::string& name) const;

  World& world_;
  Scheduler& scheduler_;
  UserDefaults& defaults_;
  SimEvents& events_;
  std::vector<std::shared_ptr<SimStatusItem>> items_;
  std::vector<ShownMenu> shown_;
  std::optional<OpenMenu> openMenu_;
  std::function<void(const std::string&, const Menu&)> presenter_;
};

}  // namespace lumarin::sim
