#include "l10n/AppLanguage.h"

#include <algorithm>
#include <cctype>

namespace lumarin {

namespace {

struct LanguageRow {
  AppLanguage language;
  std::string_view code;
  std::string_view displayName;
};

constexpr std::array<LanguageRow, 14> kRows = {{
    {AppLanguage::en, "en", "English"},
    {AppLanguage::ja, "ja", "日本語"},
    {AppLanguage::ko, "ko", "한국어"},
    {AppLanguage::zhHans, "zh-Hans", "简体中文"},
    {AppLanguage::zhHant, "zh-Hant", "繁體中文"},
    {AppLanguage::de, "de", "Deutsch"},
    {AppLanguage::fr, "fr", "Français"},
    {AppLanguage::es, "es", "Español"},
    {AppLanguage::ptBR, "pt-BR", "Português (Brasil)"},
    {AppLanguage::ru, "ru", "Русский"},
    {AppLanguage::it, "it", "Italiano"},
    {AppLanguage::nl, "nl", "Nederlands"},
    {AppLanguage::pl, "pl", "Polski"},
    {AppLanguage::tr, "tr", "Türkçe"},
}};

const LanguageRow& row(AppLanguage language) { return kRows[static_cast<std::size_t>(language)]; }

std::optional<AppLanguage> match(std::string entry) {
  std::transform(entry.begin(), entry.end(), entry.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  auto starts = [&](std::string_view prefix) { return entry.rfind(prefix, 0) == 0; };
  auto has = [&](std::string_view part) { return entry.find(part) != std::string::npos; };
  if (starts("ja")) {
    return AppLanguage::ja;
  }
  if (starts("ko")) {
    return AppLanguage::ko;
  }
  if (starts("zh")) {
    return has("hant") || has("tw") || has("hk") || has("mo") ? AppLanguage::zhHant
                                                              : AppLanguage::zhHans;
  }
  static constexpr std::pair<std::string_view, AppLanguage> kPrefixes[] = {
      {"de", AppLanguage::de},   {"fr", AppLanguage::fr}, {"es", AppLanguage::es},
      {"pt", AppLanguage::ptBR}, {"ru", AppLanguage::ru}, {"it", AppLanguage::it},
      {"nl", AppLanguage::nl},   {"pl", AppLanguage::pl}, {"tr", AppLanguage::tr},
      {"en", AppLanguage::en}};
  for (const auto& [prefix, language] : kPrefixes) {
    if (starts(prefix)) {
      return language;
    }
  }
  return std::nullopt;
}

}  // namespace

std::string_view languageCode(AppLanguage language) { return row(language).code; }

std::string_view languageDisplayName(AppLanguage language) { return row(language).displayName; }

std::optional<AppLanguage> languageFromCode(std::string_view code) {
  for (const auto& r : kRows) {
    if (r.code == code) {
      return r.language;
    }
  }
  return std::nullopt;
}

AppLanguage languageForPreferences(const std::vector<std::string>& preferred) {
  for (const auto& entry : preferred) {
    if (auto language = match(entry)) {
      return *language;
    }
  }
  return AppLanguage::en;
}

}  // namespace lumarin
