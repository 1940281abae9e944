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
  const bool stillShown =
      focused_ && std::any_of(visible_.begin(), visible_.end(),
                              [this](const HUDTiles::Tile& tile) { return tile.id == *focused_; });
  if (!focusFirst && stillShown) {
    return;
  }
  focused_.reset();
  if (filtering()) {
    focused_ = nthInReadingOrder(1);
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
  if (visible_.empty()) {
    return;
  }
  const auto rows =
      MirrorHUDLayout::rows(visible_.size(), MirrorHUDLayout::columns(visible_.size()));
  const auto order = readingOrder();
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
