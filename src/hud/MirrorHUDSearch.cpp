#include "hud/MirrorHUDSearch.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>

#include "hud/MirrorHUDLayout.h"

namespace lumarin {

MirrorHUDSearch::MirrorHUDSearch(const std::string& languageCode) : filter_(languageCode) {}

void MirrorHUDSearch::setTiles(const std::vector<HUDTiles::Tile>& tiles,
                               const std::map<std::string, HUDTiles::Target>& targets) {
  tiles_ = tiles;
  std::map<std::string, std::vector<MirrorFilter::Prepared>> texts;
  for (const auto& tile : tiles_) {
    if (auto known = texts_.find(tile.id); known != texts_.end()) {
      texts[tile.id] = std::move(known->second);
      continue;
    }
    std::vector<MirrorFilter::Prepared> prepared{filter_.prepare(tile.title)};
    if (auto target = targets.find(tile.id); target != targets.end()) {
      if (const auto* item = std::get_if<ExternalStatusItem>(&target->second)) {
        if (item->windowTitle) {
          prepared.push_back(filter_.prepare(*item->windowTitle));
        }
        if (item->bundleID) {
          prepared.push_back(filter_.prepare(*item->bundleID));
        }
      } else if (const auto* tray = std::get_if<HUDTiles::TrayTarget>(&target->second);
                 tray != nullptr && !tray->appID.empty()) {
        prepared.push_back(filter_.prepare(tray->appID));
      }
    }
    texts[tile.id] = std::move(prepared);
  }
  texts_ = std::move(texts);
  refilter(false);
}

void MirrorHUDSearch::setMenuEntries(const std::vector<HUDTiles::MenuEntry>& entries) {
  entries_ = entries;
  std::map<std::string, std::pair<MirrorFilter::Prepared, MirrorFilter::Prepared>> texts;
  for (const auto& entry : entries_) {
    if (auto known = entryTexts_.find(entry.id); known != entryTexts_.end()) {
      texts[entry.id] = std::move(known->second);
      continue;
    }
    texts[entry.id] = {filter_.prepare(entry.label), filter_.prepare(entry.title)};
  }
  entryTexts_ = std::move(texts);
  refilter(false);
}

const HUDTiles::MenuEntry* MirrorHUDSearch::focusedEntry() const {
  if (!focused_) {
    return nullptr;
  }
  for (const auto* entry : visibleEntries_) {
    if (entry->id == *focused_) {
      return entry;
    }
  }
  return nullptr;
}

void MirrorHUDSearch::type(std::string_view text) {
  if (text.empty()) {
    return;
  }
  text_ += text;
  query_ = filter_.prepareQuery(text_);
  refilter(true);
}

void MirrorHUDSearch::backspace() {
  if (text_.empty()) {
    return;
  }
  const icu::UnicodeString text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text_.data(), static_cast<int32_t>(text_.size())));
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> characters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  int32_t cut = text.length() - 1;
  if (U_SUCCESS(status) && characters) {
    characters->setText(text);
    cut = std::max(characters->preceding(text.length()), 0);
  }
  std::string kept;
  text.tempSubString(0, cut).toUTF8String(kept);
  text_ = std::move(kept);
  query_ = filter_.prepareQuery(text_);
  refilter(true);
}

bool MirrorHUDSearch::clear() {
  if (text_.empty()) {
    return false;
  }
  text_.clear();
  query_.clear();
  refilter(true);
  return true;
}

void MirrorHUDSearch::reset() {
  text_.clear();
  query_.clear();
  focused_.reset();
  refilter(true);
}

void MirrorHUDSearch::refilter(bool focusFirst) {
  visible_.clear();
  for (const auto& tile : tiles_) {
    const auto& texts = texts_[tile.id];
    if (std::any_of(texts.begin(), texts.end(), [this](const MirrorFilter::Prepared& text) {
          return MirrorFilter::matches(query_, text);
        })) {
      visible_.push_back(tile);
    }
  }
  visibleEntries_.clear();
  if (filtering()) {
    for (const auto& entry : entries_) {
      if (visibleEntries_.size() == kMaxShownEntries) {
        break;
      }
      const auto& [label, title] = entryTexts_[entry.id];
      if (MirrorFilter::matches(query_, label) ||
          (query_.size() > 1 && MirrorFilter::matches(query_, title))) {
        visibleEntries_.push_back(&entry);
      }
    }
  }
  const bool stillShown =
      focused_ &&
      (std::any_of(visible_.begin(), visible_.end(),
                   [this](const HUDTiles::Tile& tile) { return tile.id == *focused_; }) ||
       focusedEntry() != nullptr);
  if (!focusFirst && stillShown) {
    return;
  }
  focused_.reset();
  if (filtering()) {
    focused_ = nthInReadingOrder(1);
    if (!focused_ && !visibleEntries_.empty()) {
      focused_ = visibleEntries_.front()->id;
    }
  }
}

std::vector<std::string> MirrorHUDSearch::focusOrder() const {
  std::vector<std::string> order;
  for (const std::size_t position : readingOrder()) {
    order.push_back(visible_[position].id);
  }
  for (const auto* entry : visibleEntries_) {
    order.push_back(entry->id);
  }
  return order;
}

void MirrorHUDSearch::moveAmongAll(Move move) {
  const auto order = focusOrder();
  if (order.empty()) {
    return;
  }
  auto at = focused_ ? std::find(order.begin(), order.end(), *focused_) : order.end();
  if (at == order.end() || move == Move::home) {
    focused_ = move == Move::end ? order.back() : order.front();
    return;
  }
  switch (move) {
    case Move::left:
    case Move::up:
      focused_ = at == order.begin() ? *at : *(at - 1);
      break;
    case Move::right:
    case Move::down:
      focused_ = at + 1 == order.end() ? *at : *(at + 1);
      break;
    case Move::end:
      focused_ = order.back();
      break;
    case Move::home:
      break;
  }
}

std::vector<std::size_t> MirrorHUDSearch::readingOrder() const {
  std::vector<std::size_t> order;
  const auto rows =
      MirrorHUDLayout::rows(visible_.size(), MirrorHUDLayout::columns(visible_.size()));
  for (const auto& row : rows) {
    order.insert(order.end(), row.begin(), row.end());
  }
  return order;
}

std::vector<std::string> MirrorHUDSearch::visibleIDs() const {
  std::vector<std::string> ids;
  ids.reserve(visible_.size());
  for (const auto& tile : visible_) {
    ids.push_back(tile.id);
  }
  return ids;
}

std::optional<std::string> MirrorHUDSearch::nthInReadingOrder(std::size_t n) const {
  const auto order = readingOrder();
  if (n == 0 || n > order.size()) {
    return std::nullopt;
  }
  return visible_[order[n - 1]].id;
}

void MirrorHUDSearch::move(Move move) {
  // Among the entries, from the grid's end into them, and to either end: one list.
  const bool onEntry = focusedEntry() != nullptr;
  const auto order = readingOrder();
  const bool atGridEnd = !order.empty() && focused_ && visible_[order.back()].id == *focused_;
  const bool onBottomRow = [&] {
    if (!focused_ || visible_.empty()) {
      return false;
    }
    const auto rows =
        MirrorHUDLayout::rows(visible_.size(), MirrorHUDLayout::columns(visible_.size()));
    return std::any_of(rows.back().begin(), rows.back().end(),
                       [&](std::size_t position) { return visible_[position].id == *focused_; });
  }();
  if (visible_.empty() || onEntry || move == Move::end ||
      (!visibleEntries_.empty() &&
       ((move == Move::right && atGridEnd) || (move == Move::down && onBottomRow)))) {
    if (onEntry && move == Move::up && focusedEntry() == visibleEntries_.front() &&
        !order.empty()) {
      focused_ = visible_[order.back()].id;  // back up into the grid
      return;
    }
    if (move == Move::down && onBottomRow && !onEntry) {
      focused_ = visibleEntries_.front()->id;
      return;
    }
    moveAmongAll(move);
    return;
  }
  const auto rows =
      MirrorHUDLayout::rows(visible_.size(), MirrorHUDLayout::columns(visible_.size()));
  // Where the focus is: its row and its place in the row.
  std::optional<std::pair<std::size_t, std::size_t>> at;
  for (std::size_t r = 0; r < rows.size() && !at; ++r) {
    for (std::size_t k = 0; k < rows[r].size(); ++k) {
      if (focused_ && visible_[rows[r][k]].id == *focused_) {
        at = {r, k};
        break;
      }
    }
  }
  const auto focusPosition = [&](std::size_t position) { focused_ = visible_[position].id; };
  if (!at || move == Move::home) {
    focusPosition(move == Move::end ? order.back() : order.front());
    return;
  }
  const auto [r, k] = *at;
  switch (move) {
    case Move::left:
      focusPosition(k > 0 ? rows[r][k - 1] : (r > 0 ? rows[r - 1].back() : rows[r][k]));
      break;
    case Move::right:
      focusPosition(k + 1 < rows[r].size()
                        ? rows[r][k + 1]
                        : (r + 1 < rows.size() ? rows[r + 1].front() : rows[r][k]));
      break;
    case Move::up:
    case Move::down: {
      if ((move == Move::up && r == 0) || (move == Move::down && r + 1 == rows.size())) {
        break;
      }
      // Rows are right-aligned: the tile at the same distance from the right end, or the
      // row's first when it is shorter.
      const std::size_t fromRight = rows[r].size() - 1 - k;
      const auto& target = rows[move == Move::up ? r - 1 : r + 1];
      focusPosition(target[fromRight < target.size() ? target.size() - 1 - fromRight : 0]);
      break;
    }
    case Move::end:
      focusPosition(order.back());
      break;
    case Move::home:
      break;
  }
}

}  // namespace lumarin
