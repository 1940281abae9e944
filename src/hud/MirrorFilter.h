#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumarin {

// Type-to-filter matching for the HUD, by the collation of the user's language: case, accents,
// width and kana differences do not count (a primary-strength comparison), so "uber" finds
// "Über", "strasse" finds "Straße" and "めも" finds "メモリ". Texts are cut into words as the
// language cuts them, identifiers also at their dots, dashes and underscores.
//
// A query finds a text when its words, in order, each start at the start of one of the text's
// words ("iga mem" finds "iGauge Meters — Memory"; a word may run on into the next ones, as
// scripts without spaces need), or when a query of one word is made of the initials of the
// text's words in order ("im" finds it too). An empty query finds everything.
class MirrorFilter {
 public:
  // A text cut into words and turned into collation weights once, for many queries.
  struct Prepared {
    std::vector<std::uint32_t> weights;   // the words' primary weights, one after the other
    std::vector<std::size_t> wordStarts;  // where each word starts in `weights`
    bool empty() const { return weights.empty(); }
  };

  // A language code of the program's ("en", "de", "tr", "ja", "zh-Hans", …).
  explicit MirrorFilter(const std::string& languageCode);
  ~MirrorFilter();
  MirrorFilter(const MirrorFilter&) = delete;
  MirrorFilter& operator=(const MirrorFilter&) = delete;

  Prepared prepare(std::string_view utf8) const;
  // The query's words, each prepared; spaces separate them.
  std::vector<Prepared> prepareQuery(std::string_view utf8) const;

  static bool matches(const std::vector<Prepared>& query, const Prepared& text);
  // Convenience for one query and one text.
  bool matches(std::string_view query, std::string_view text) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lumarin
