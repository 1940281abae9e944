#include "l10n/LocalizationTables.h"

#include <array>
#include <atomic>
#include <mutex>

#include "base/Json.h"

namespace lumarin {

// Generated from resources/l10n/<code>.json.
std::string_view l10nTable_en();
std::string_view l10nTable_ja();
std::string_view l10nTable_ko();
std::string_view l10nTable_zh_Hans();
std::string_view l10nTable_zh_Hant();
std::string_view l10nTable_de();
std::string_view l10nTable_fr();
std::string_view l10nTable_es();
std::string_view l10nTable_pt_BR();
std::string_view l10nTable_ru();
std::string_view l10nTable_it();
std::string_view l10nTable_nl();
std::string_view l10nTable_pl();
std::string_view l10nTable_tr();

namespace {

// One table per language, parsed on its first use: a run in one language never holds the
// other thirteen, and a language switch costs one parse.
struct Slot {
  std::once_flag once;
  LocalizationTables::Table table;
  std::atomic<bool> loaded{false};
};

std::string_view source(AppLanguage language) {
  switch (language) {
    case AppLanguage::en:
      return l10nTable_en();
    case AppLanguage::ja:
      return l10nTable_ja();
    case AppLanguage::ko:
      return l10nTable_ko();
    case AppLanguage::zhHans:
      return l10nTable_zh_Hans();
    case AppLanguage::zhHant:
      return l10nTable_zh_Hant();
    case AppLanguage::de:
      return l10nTable_de();
    case AppLanguage::fr:
      return l10nTable_fr();
    case AppLanguage::es:
      return l10nTable_es();
    case AppLanguage::ptBR:
      return l10nTable_pt_BR();
    case AppLanguage::ru:
      return l10nTable_ru();
    case AppLanguage::it:
      return l10nTable_it();
    case AppLanguage::nl:
      return l10nTable_nl();
    case AppLanguage::pl:
      return l10nTable_pl();
    case AppLanguage::tr:
      return l10nTable_tr();
  }
  return {};
}

std::array<Slot, kAllLanguages.size()>& slots() {
  static std::array<Slot, kAllLanguages.size()> all;
  return all;
}

std::vector<std::string>& englishKeys() {
  static std::vector<std::string> keys;
  return keys;
}

void parse(AppLanguage language, LocalizationTables::Table& table, std::vector<std::string>* keys) {
  // The tables are checked by the test suite; a broken one would only fall back to English.
  auto parsed = json::parseOrdered(source(language));
  if (!parsed || !parsed->is_object()) {
    return;
  }
  table.reserve(parsed->size());
  for (const auto& [key, text] : parsed->items()) {
    if (!text.is_string()) {
      continue;
    }
    table.emplace(key, text.get<std::string>());
    if (keys != nullptr) {
      keys->push_back(key);
    }
  }
}

Slot& slot(AppLanguage language) { return slots()[static_cast<std::size_t>(language)]; }

}  // namespace

const LocalizationTables::Table& LocalizationTables::table(AppLanguage language) {
  Slot& s = slot(language);
  std::call_once(s.once, [&] {
    parse(language, s.table, language == AppLanguage::en ? &englishKeys() : nullptr);
    s.loaded.store(true, std::memory_order_release);
  });
  return s.table;
}

const std::vector<std::string>& LocalizationTables::keys() {
  (void)table(AppLanguage::en);
  return englishKeys();
}

bool LocalizationTables::isLoaded(AppLanguage language) {
  return slot(language).loaded.load(std::memory_order_acquire);
}

}  // namespace lumarin
