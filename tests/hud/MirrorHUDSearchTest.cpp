#include <gtest/gtest.h>

#include <algorithm>

#include "hud/MirrorHUDSearch.h"

namespace lumarin {
namespace {

// Tiles t0…t(n-1) titled as given, each an item of an app "com.example.<title>".
struct Tiles {
  std::vector<MirrorModel::Tile> tiles;
  std::map<std::string, MirrorModel::Target> targets;
};

Tiles makeTiles(const std::vector<std::pair<std::string, std::string>>& titles) {
  Tiles out;
  for (std::size_t i = 0; i < titles.size(); ++i) {
    MirrorModel::Tile tile;
    tile.id = "t" + std::to_string(i);
    tile.title = titles[i].first;
    ExternalStatusItem item;
    item.pid = 100 + static_cast<int>(i);
    item.appName = titles[i].first;
    item.windowTitle = titles[i].second;
    item.bundleID = "com.example.app" + std::to_string(i);
    out.tiles.push_back(tile);
    out.targets[tile.id] = item;
  }
  return out;
}

TEST(MirrorHUDSearchTest, FocusMovesInReadingOrderAcrossRightAlignedRows) {
  // Eleven tiles in eight columns: the top row holds t3…t10, the row below t0…t2.
  std::vector<std::pair<std::string, std::string>> titles(11, {"App", ""});
  const auto tiles = makeTiles(titles);
  MirrorHUDSearch search("en");
  search.setTiles(tiles.tiles, tiles.targets);
  EXPECT_FALSE(search.focusedID());  // nothing focused before a key
  EXPECT_EQ(search.nthInReadingOrder(1), "t3");
  EXPECT_EQ(search.nthInReadingOrder(9), "t0");
  EXPECT_FALSE(search.nthInReadingOrder(12));
  EXPECT_FALSE(search.nthInReadingOrder(0));
  using M = MirrorHUDSearch::Move;
  const auto after = [&](M move) {
    search.move(move);
    return search.focusedID().value_or("none");
  };
  EXPECT_EQ(after(M::right), "t3");  // the first move focuses the first tile
  EXPECT_EQ(after(M::end), "t2");
  EXPECT_EQ(after(M::right), "t2");  // stays at the end
  EXPECT_EQ(after(M::up), "t10");    // both at the right end of their rows
  EXPECT_EQ(after(M::left), "t9");
  EXPECT_EQ(after(M::down), "t1");  // second from the right
  EXPECT_EQ(after(M::up), "t9");
  EXPECT_EQ(after(M::home), "t3");
  EXPECT_EQ(after(M::down), "t0");  // past the shorter row's left end: its first tile
  EXPECT_EQ(after(M::down), "t0");
  EXPECT_EQ(after(M::left), "t10");  // back to the end of the row above
  EXPECT_EQ(after(M::right), "t0");
  EXPECT_EQ(after(M::up), "t8");  // the row below stands under the top row's right end
  EXPECT_EQ(after(M::up), "t8");
}

TEST(MirrorHUDSearchTest, TypingFiltersFocusesTheFirstMatchAndARefreshKeepsBoth) {
  auto tiles = makeTiles(
      {{"Alpha", "Memory"}, {"Alpha", "Disk"}, {"Beta", "Weather"}, {"Gamma Monitor", "CPU"}});
  MirrorHUDSearch search("en");
  search.setTiles(tiles.tiles, tiles.targets);
  search.type("m");
  // "Memory" (item title), "Gamma Monitor" (a later word), in the model's order.
  EXPECT_EQ(search.visibleIDs(), (std::vector<std::string>{"t0", "t3"}));
  EXPECT_EQ(search.focusedID(), search.nthInReadingOrder(1));
  search.move(MirrorHUDSearch::Move::right);
  const auto focused = search.focusedID();
  ASSERT_TRUE(focused);
  // A refresh that keeps the focused tile keeps the filter and the focus…
  std::swap(tiles.tiles[0], tiles.tiles[2]);
  search.setTiles(tiles.tiles, tiles.targets);
  EXPECT_EQ(search.text(), "m");
  EXPECT_EQ(search.focusedID(), focused);
  // …and one that drops it focuses the first match.
  tiles.tiles.erase(std::find_if(tiles.tiles.begin(), tiles.tiles.end(),
                                 [&](const auto& tile) { return tile.id == *focused; }));
  search.setTiles(tiles.tiles, tiles.targets);
  ASSERT_EQ(search.visible().size(), 1u);
  EXPECT_EQ(search.focusedID(), search.visible()[0].id);
  // The identifier counts too; nothing matching leaves nothing and no focus.
  search.backspace();
  search.type("app1");
  EXPECT_EQ(search.visibleIDs(), (std::vector<std::string>{"t1"}));
  search.type("x");
  EXPECT_TRUE(search.visible().empty());
  EXPECT_FALSE(search.focusedID());
  // Escape empties the filter once; the second time there is nothing to clear.
  EXPECT_TRUE(search.clear());
  EXPECT_EQ(search.visible().size(), tiles.tiles.size());
  EXPECT_FALSE(search.focusedID());
  EXPECT_FALSE(search.clear());
}

TEST(MirrorHUDSearchTest, BackspaceTakesAWholeCharacterOff) {
  const auto tiles = makeTiles({{"Café", ""}});
  MirrorHUDSearch search("fr");
  search.setTiles(tiles.tiles, tiles.targets);
  search.type("cafe\xcc\x81");  // "e" with a combining acute accent
  EXPECT_EQ(search.visible().size(), 1u);
  search.backspace();
  EXPECT_EQ(search.text(), "caf");
  search.type("\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd");  // a thumb with a skin tone
  search.backspace();
  EXPECT_EQ(search.text(), "caf");
  search.backspace();
  search.backspace();
  search.backspace();
  search.backspace();  // on an empty filter: nothing
  EXPECT_EQ(search.text(), "");
  EXPECT_FALSE(search.filtering());
}

}  // namespace
}  // namespace lumarin

namespace lumarin {
namespace {

HUDTiles::MenuEntry menuEntry(const std::string& tile, const std::string& tileTitle,
                              const std::string& label, int n) {
  HUDTiles::MenuEntry entry;
  entry.id = tile + "›" + std::to_string(n);
  entry.tileID = tile;
  entry.label = label;
  entry.title = tileTitle + " › " + label;
  return entry;
}

TEST(MirrorHUDSearchTest, MenuEntriesAreFoundUnderTheTilesAndTheFocusRunsIntoThem) {
  const auto tiles = makeTiles({{"Slack", ""}, {"Chat", ""}, {"Mail", ""}});
  MirrorHUDSearch search("en");
  search.setTiles(tiles.tiles, tiles.targets);
  search.setMenuEntries({menuEntry("t0", "Slack", "Set yourself away", 0),
                         menuEntry("t0", "Slack", "Sleep notifications", 1),
                         menuEntry("t2", "Mail", "Slow down", 0)});
  const auto shown = [&search] {
    std::vector<std::string> ids;
    for (const auto* entry : search.visibleEntries()) {
      ids.push_back(entry->id);
    }
    return ids;
  };
  // No filter, no entries.
  EXPECT_TRUE(search.visibleEntries().empty());
  // An entry's own title is what one word finds: "away" finds no tile, so its entry is focused.
  search.type("away");
  EXPECT_TRUE(search.visibleIDs().empty());
  EXPECT_EQ(shown(), (std::vector<std::string>{"t0›0"}));
  EXPECT_EQ(search.focusedID(), "t0›0");
  ASSERT_NE(search.focusedEntry(), nullptr);
  EXPECT_EQ(search.focusedEntry()->title, "Slack › Set yourself away");
  // "sl" finds the tile and the entries whose titles start so, the tile first; "slack" alone
  // does not list every entry of Slack's menu.
  search.clear();
  search.type("sl");
  EXPECT_EQ(search.visibleIDs(), (std::vector<std::string>{"t0"}));
  EXPECT_EQ(shown(), (std::vector<std::string>{"t0›1", "t2›0"}));
  EXPECT_EQ(search.focusedID(), "t0");
  using M = MirrorHUDSearch::Move;
  search.move(M::down);  // from the grid's bottom row into the entries
  EXPECT_EQ(search.focusedID(), "t0›1");
  search.move(M::down);
  EXPECT_EQ(search.focusedID(), "t2›0");
  search.move(M::down);  // the last stays
  EXPECT_EQ(search.focusedID(), "t2›0");
  search.move(M::home);
  EXPECT_EQ(search.focusedID(), "t0");
  search.move(M::end);
  EXPECT_EQ(search.focusedID(), "t2›0");
  search.move(M::up);
  search.move(M::up);  // from the first entry back into the grid
  EXPECT_EQ(search.focusedID(), "t0");
  // Several words may span the tile's title and the entry's.
  search.clear();
  search.type("slack away");
  EXPECT_EQ(shown(), (std::vector<std::string>{"t0›0"}));
  // Menus read again keep the focus on an entry that still matches.
  search.clear();
  search.type("sl");
  search.move(M::end);
  search.setMenuEntries({menuEntry("t2", "Mail", "Slow down", 0)});
  EXPECT_EQ(search.focusedID(), "t2›0");
}

}  // namespace
}  // namespace lumarin
