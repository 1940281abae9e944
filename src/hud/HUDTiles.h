#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/Image.h"
#include "base/Observable.h"
#include "menubar/ExternalStatusItem.h"
#include "platform/Menu.h"

namespace lumarin {

// What the HUD shows and where its clicks go, whatever the platform finds the items with: the
// menu bar items of every process on the Mac, the tray items of every app on a freedesktop
// desktop. The panel, its view, its keyboard and the run's report only see this. Main queue.
class HUDTiles {
 public:
  struct Tile {
    std::string id;  // "<pid>#<index>", "own#<window number>", or a tray item's key
    std::string title;
    std::shared_ptr<const Image> image;
    bool isTemplate = false;
    double width = 18;
    // Not compared: where the picture came from ("captured", "cached", "appIcon", "ownGlyph",
    // "pixmap", "iconName", "" without picture) and what the tile stands for ("item",
    // "extra", "own", "tray").
    std::string source;
    std::string kind;
    // The platform's own bar does not show the item (a tray item the host hides).
    bool hiddenByHost = false;

    // Ids, titles, widths and the host's hiding equal, and the very same picture.
    bool operator==(const Tile& other) const {
      return id == other.id && title == other.title && width == other.width &&
             image == other.image && hiddenByHost == other.hiddenByHost;
    }
  };

  struct OwnTarget {
    std::uint32_t windowNumber = 0;
    bool operator==(const OwnTarget&) const = default;
  };
  // A tray item of a freedesktop desktop, by its key, with the app's id for it.
  struct TrayTarget {
    std::string key;
    std::string appID;
    bool operator==(const TrayTarget&) const = default;
  };
  using Target = std::variant<ExternalStatusItem, OwnTarget, TrayTarget>;

  // An entry of a tile's menu, read without opening the menu: what the keyboard's filter also
  // finds, and what a Return on it performs.
  struct MenuEntry {
    std::string id;      // "<tile id>›<position path>", unique while the menu stands
    std::string tileID;  // the tile whose menu holds it
    std::string title;   // the tile's title, the submenus' and the entry's: "Chat › Away"
    std::string label;   // the entry's own title
    MenuItem item;
  };

  virtual ~HUDTiles() = default;

  // Brings the tiles up to date; `completion` (main queue) once they are. Returns at once.
  virtual void refresh(std::function<void()> completion = {}) = 0;
  virtual const Observable<std::vector<Tile>>& tiles() const = 0;
  // The platform withholds the items until the user grants access (the permission row).
  virtual const Observable<bool>& accessibilityMissing() const = 0;
  virtual const std::map<std::string, Target>& targetsByID() const = 0;
  virtual void setOnTilesChanged(std::function<void()> callback) = 0;
  virtual bool refreshing() const = 0;
  // How the last refresh found the items, for the log and the report.
  virtual const std::string& lastMode() const = 0;

  // The tiles' menus that can be read without opening them: `readMenus` reads those not read
  // yet or changed since (lazily, answers arrive later), `menuEntries` holds what is known, in
  // tile order, and the callback tells of each change. Platforms without such menus have none.
  virtual void readMenus() {}
  virtual const std::vector<MenuEntry>& menuEntries() const {
    static const std::vector<MenuEntry> none;
    return none;
  }
  virtual void setOnMenusChanged(const std::function<void()>& /*callback*/) {}

  // A menu's entries that can be performed (enabled, titled, not separators; a submenu's
  // entries instead of the submenu), at most `limit`, in menu order. Their titles start below
  // the tile's (" › Sub › Entry"): the tile's title goes in front when they are listed.
  static std::vector<MenuEntry> entriesOf(const Menu& menu, const std::string& tileID,
                                          std::size_t limit);
  // Same entries, by id and title, in the same order (what a change is told by).
  static bool sameEntries(const std::vector<MenuEntry>& a, const std::vector<MenuEntry>& b);
  // Entries of the given tiles' menus (`menuOf` a tile id: its entries as `entriesOf` makes
  // them, or null) with the tiles' titles in front, in tile order.
  static std::vector<MenuEntry> titledEntries(
      const std::vector<Tile>& tiles,
      const std::function<const std::vector<MenuEntry>*(const std::string&)>& menuOf);
};

// The program's own items' menus, for the HUD to search and to perform entries of without
// opening them. Main queue.
class OwnItemMenus {
 public:
  virtual ~OwnItemMenus() = default;
  // The menu of the own item whose button's window has this number, as it would open now;
  // none for other numbers.
  virtual std::optional<Menu> menuFor(std::uint32_t windowNumber) = 0;
  // Runs the entry as the menu does when the user chooses it.
  virtual void perform(std::uint32_t windowNumber, const MenuItem& entry) = 0;
};

// Where a click on a tile goes: to the real item, by whatever path the platform has. Main
// queue; returns at once.
class HUDClickSink {
 public:
  // Every attempt: the "mirror.click" properties plus the tile it came from.
  struct Report {
    std::string tile;
    bool ok = false;
    std::string path;  // how it went: "ax", "skylight", "activate", "menu", … or "none"
    std::string targetApp;
    bool notchHidden = false;  // the item is out of sight in the platform's own bar
  };

  virtual ~HUDClickSink() = default;
  virtual void forward(const HUDTiles::Target& target, bool right, unsigned modifiers) = 0;
  // The middle button and the wheel, where the platform's items take them.
  virtual void middleClick(const HUDTiles::Target& /*target*/) {}
  virtual void scroll(const HUDTiles::Target& /*target*/, int /*delta*/, bool /*horizontal*/) {}
  // Performs an entry of a tile's menu without showing the menu.
  virtual void perform(const HUDTiles::Target& /*target*/, const HUDTiles::MenuEntry& /*entry*/) {}
};

}  // namespace lumarin
