#include "l10n/LocalizationTables.h"

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

struct Tables {
  std::array<LocalizationTables::Table, 14> tables;
  std::vector<std::string> keys;
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

const Tables& tables() {
  static const Tables built = [] {
    Tables t;
    for (AppLanguage language : kAllLanguages) {
      // The tables are checked by the test suite; a broken one would only fall back to English.
      auto parsed = json::parseOrdered(source(language));
      if (!parsed || !parsed->is_object()) {
        continue;
      }
      for (const auto& [key, text] : parsed->items()) {
        if (!text.is_string()) {
          continue;
        }
        t.tables[static_cast<std::size_t>(language)].emplace(key, text.get<std::string>());
        if (language == AppLanguage::en) {
          t.keys.push_back(key);
        }
      }
    }
    return t;
  }();
  return built;
}

}  // namespace

const LocalizationTables::Table& LocalizationTables::table(AppLanguage language) {
  return tables().tables[static_cast<std::size_t>(language)];
}

const std::vector<std::string>& LocalizationTables::keys() { return tables().keys; }

}  // namespace lumarin
