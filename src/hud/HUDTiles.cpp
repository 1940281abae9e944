#include "hud/HUDTiles.h"

#include <algorithm>

namespace lumarin {

namespace {

void collectEntries(const Menu& menu, const std::string& tileID, const std::string& idPrefix,
                    const std::string& titlePrefix, std::size_t limit,
                    std::vector<HUDTiles::MenuEntry>& out) {
  for (std::size_t i = 0; i < menu.items.size() && out.size() < limit; ++i) {
    const MenuItem& item = menu.items[i];
    if (item.isSeparator || !item.enabled || item.title.empty()) {
      continue;
    }
    const std::string id = idPrefix + std::to_string(i);
    const std::string title = titlePrefix + " › " + item.title;
    if (item.submenu) {
      collectEntries(*item.submenu, tileID, id + ".", title, limit, out);
      continue;
    }
    HUDTiles::MenuEntry entry;
    entry.id = tileID;
    entry.id += "›";
    entry.id += id;
    entry.tileID = tileID;
    entry.title = title;
    entry.label = item.title;
    entry.item = item;
    out.push_back(std::move(entry));
  }
}

}  // namespace

std::vector<HUDTiles::MenuEntry> HUDTiles::entriesOf(const Menu& menu, const std::string& tileID,
                                                     std::size_t limit) {
  std::vector<MenuEntry> out;
  collectEntries(menu, tileID, "", "", limit, out);
  return out;
}

bool HUDTiles::sameEntries(const std::vector<MenuEntry>& a, const std::vector<MenuEntry>& b) {
  return std::equal(
      a.begin(), a.end(), b.begin(), b.end(),
      [](const MenuEntry& x, const MenuEntry& y) { return x.id == y.id && x.title == y.title; });
}

std::vector<HUDTiles::MenuEntry> HUDTiles::titledEntries(
    const std::vector<Tile>& tiles,
    const std::function<const std::vector<MenuEntry>*(const std::string&)>& menuOf) {
  std::vector<MenuEntry> out;
  for (const auto& tile : tiles) {
    const auto* menu = menuOf(tile.id);
    if (menu == nullptr) {
      continue;
    }
    for (const auto& entry : *menu) {
      out.push_back(entry);
      out.back().title = tile.title + entry.title;
    }
  }
  return out;
}

}  // namespace lumarin
