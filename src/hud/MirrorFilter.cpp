#include "hud/MirrorFilter.h"

#include <unicode/brkiter.h>
#include <unicode/coleitr.h>
#include <unicode/locid.h>
#include <unicode/tblcoll.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>

namespace lumarin {

struct MirrorFilter::Impl {
  std::unique_ptr<icu::RuleBasedCollator> collator;
  std::unique_ptr<icu::CollationElementIterator> elements;
  std::unique_ptr<icu::BreakIterator> words;
};

namespace {

icu::Locale localeFor(const std::string& languageCode) {
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale locale = icu::Locale::forLanguageTag(languageCode, status);
  if (U_FAILURE(status) || locale.isBogus()) {
    return icu::Locale::getRoot();
  }
  return locale;
}

// Identifiers ("com.example.app", "menu_extra") are words joined by marks the word rules keep
// inside a word; they separate words here.
bool joinsIdentifierWords(UChar32 c) { return c == '.' || c == '_' || c == '/' || c == ':'; }

}  // namespace

MirrorFilter::MirrorFilter(const std::string& languageCode) : impl_(std::make_unique<Impl>()) {
  const icu::Locale locale = localeFor(languageCode);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
  if (U_FAILURE(status) || !collator) {
    status = U_ZERO_ERROR;
    collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
  }
  // Every collator ICU makes is rule based; the weights come from its element iterator.
  impl_->collator.reset(dynamic_cast<icu::RuleBasedCollator*>(collator.release()));
  if (impl_->collator) {
    impl_->collator->setStrength(icu::Collator::PRIMARY);
    impl_->elements.reset(impl_->collator->createCollationElementIterator(icu::UnicodeString()));
  }
  status = U_ZERO_ERROR;
  impl_->words.reset(icu::BreakIterator::createWordInstance(locale, status));
  if (U_FAILURE(status)) {
    impl_->words.reset();
  }
}

MirrorFilter::~MirrorFilter() = default;

MirrorFilter::Prepared MirrorFilter::prepare(std::string_view utf8) const {
  Prepared out;
  if (!impl_->elements) {
    return out;
  }
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  for (int32_t i = 0; i < text.length(); ++i) {
    if (joinsIdentifierWords(text.charAt(i))) {
      text.setCharAt(i, u' ');
    }
  }
  auto appendWord = [&](const icu::UnicodeString& word) {
    UErrorCode status = U_ZERO_ERROR;
    impl_->elements->setText(word, status);
    if (U_FAILURE(status)) {
      return;
    }
    const std::size_t start = out.weights.size();
    for (int32_t order = impl_->elements->next(status);
         U_SUCCESS(status) && order != icu::CollationElementIterator::NULLORDER;
         order = impl_->elements->next(status)) {
      // Accents, case and other ignorables have no primary weight.
      const auto primary =
          static_cast<std::uint32_t>(icu::CollationElementIterator::primaryOrder(order));
      if (primary != 0) {
        out.weights.push_back(primary);
      }
    }
    if (out.weights.size() > start) {
      out.wordStarts.push_back(start);
    }
  };
  if (!impl_->words) {
    appendWord(text);
    return out;
  }
  impl_->words->setText(text);
  int32_t start = impl_->words->first();
  for (int32_t end = impl_->words->next(); end != icu::BreakIterator::DONE;
       start = end, end = impl_->words->next()) {
    // Spaces and punctuation between words are no words.
    if (impl_->words->getRuleStatus() >= UBRK_WORD_NONE_LIMIT) {
      appendWord(text.tempSubStringBetween(start, end));
    }
  }
  return out;
}

std::vector<MirrorFilter::Prepared> MirrorFilter::prepareQuery(std::string_view utf8) const {
  const icu::UnicodeString text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  std::vector<Prepared> out;
  int32_t i = 0;
  while (i < text.length()) {
    while (i < text.length() && u_isUWhiteSpace(text.char32At(i))) {
      i = text.moveIndex32(i, 1);
    }
    int32_t end = i;
    while (end < text.length() && !u_isUWhiteSpace(text.char32At(end))) {
      end = text.moveIndex32(end, 1);
    }
    if (end > i) {
      std::string part;
      text.tempSubStringBetween(i, end).toUTF8String(part);
      Prepared word = prepare(part);
      if (!word.empty()) {
        // A query word is one run of weights, even where it holds several words ("i-stat").
        word.wordStarts = {0};
        out.push_back(std::move(word));
      }
    }
    i = end;
  }
  return out;
}

bool MirrorFilter::matches(const std::vector<Prepared>& query, const Prepared& text) {
  if (query.empty()) {
    return true;
  }
  const auto& weights = text.weights;
  const auto& starts = text.wordStarts;
  auto startsAt = [&](const Prepared& word, std::size_t at) {
    return weights.size() - at >= word.weights.size() &&
           std::equal(word.weights.begin(), word.weights.end(),
                      weights.begin() + static_cast<std::ptrdiff_t>(at));
  };
  // Each query word at the start of a word, in order; the next one after where it ended.
  std::size_t fromWord = 0;
  bool inOrder = true;
  for (const auto& word : query) {
    bool found = false;
    for (std::size_t w = fromWord; w < starts.size(); ++w) {
      if (startsAt(word, starts[w])) {
        const std::size_t end = starts[w] + word.weights.size();
        fromWord = static_cast<std::size_t>(std::lower_bound(starts.begin(), starts.end(), end) -
                                            starts.begin());
        found = true;
        break;
      }
    }
    if (!found) {
      inOrder = false;
      break;
    }
  }
  if (inOrder) {
    return true;
  }
  // One query word as the words' initials, in order.
  if (query.size() != 1 || query.front().weights.size() < 2) {
    return false;
  }
  std::size_t next = 0;
  for (const std::size_t start : starts) {
    if (next < query.front().weights.size() && weights[start] == query.front().weights[next]) {
      ++next;
    }
  }
  return next == query.front().weights.size();
}

bool MirrorFilter::matches(std::string_view query, std::string_view text) const {
  return matches(prepareQuery(query), prepare(text));
}

}  // namespace lumarin
