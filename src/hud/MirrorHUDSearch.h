#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hud/HUDTiles.h"
#include "hud/MirrorFilter.h"

namespace lumarin {

// The HUD from the keyboard while it is the key panel: the filter typed so far, the tiles it
// leaves (in the model's order, so the grid keeps its rules), the menu entries it finds (listed
// under the grid while filtering: an entry's own title matches, or, for a query of several
// words, its whole title with the tile's), and the focus. Focus moves in reading order, rows
// as the grid draws them (the top row holds the last tiles, each row right-aligned), then down
// the entries. While filtering the first match is focused. Main queue.
class MirrorHUDSearch {
 public:
  enum class Move { left, right, up, down, home, end };
  static constexpr std::size_t kMaxShownEntries = 8;

  explicit MirrorHUDSearch(const std::string& languageCode);

  // The model published: filter again; the focus stays on its tile while that still shows.
  void setTiles(const std::vector<HUDTiles::Tile>& tiles,
                const std::map<std::string, HUDTiles::Target>& targets);
  // The tiles' menus were read or changed: filter again, the focus kept as for tiles.
  void setMenuEntries(const std::vector<HUDTiles::MenuEntry>& entries);
  // Typed text is appended to the filter; Backspace takes its last character (a whole
  // grapheme) off. Both refocus the first match.
  void type(std::string_view text);
  void backspace();
  // Empties the filter; false when it was empty already.
  bool clear();
  // No filter and no focus: a new opening.
  void reset();
  void move(Move move);

  const std::string& text() const { return text_; }
  bool filtering() const { return !text_.empty(); }
  // The visible tiles, in the model's order.
  const std::vector<HUDTiles::Tile>& visible() const { return visible_; }
  std::vector<std::string> visibleIDs() const;
  // The focused tile's or entry's id.
  const std::optional<std::string>& focusedID() const { return focused_; }
  // The entries the filter finds, at most `kMaxShownEntries`, in the tiles' order.
  const std::vector<const HUDTiles::MenuEntry*>& visibleEntries() const { return visibleEntries_; }
  // The focused entry; none while a tile (or nothing) is focused.
  const HUDTiles::MenuEntry* focusedEntry() const;
  // The id of the n-th visible tile in reading order, counted from 1.
  std::optional<std::string> nthInReadingOrder(std::size_t n) const;

 private:
  void refilter(bool focusFirst);
  // Visible positions (into `visible_`) in reading order.
  std::vector<std::size_t> readingOrder() const;
  // Every focusable id in order: the tiles in reading order, then the entries.
  std::vector<std::string> focusOrder() const;
  void moveAmongAll(Move move);

  MirrorFilter filter_;
  std::string text_;
  std::vector<MirrorFilter::Prepared> query_;
  std::vector<HUDTiles::Tile> tiles_;
  // Per tile id: its title, the item's own title and its app's identifier, prepared.
  std::map<std::string, std::vector<MirrorFilter::Prepared>> texts_;
  std::vector<HUDTiles::Tile> visible_;
  std::vector<HUDTiles::MenuEntry> entries_;
  // Per entry id: its own title and its whole title, prepared.
  std::map<std::string, std::pair<MirrorFilter::Prepared, MirrorFilter::Prepared>> entryTexts_;
  std::vector<const HUDTiles::MenuEntry*> visibleEntries_;
  std::optional<std::string> focused_;
};

}  // namespace lumarin
