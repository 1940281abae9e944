#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumarin {

// The fourteen interface languages, in the order of the language picker and the tables.
enum class AppLanguage { en, ja, ko, zhHans, zhHant, de, fr, es, ptBR, ru, it, nl, pl, tr };

inline constexpr std::array<AppLanguage, 14> kAllLanguages = {
    AppLanguage::en, AppLanguage::ja, AppLanguage::ko, AppLanguage::zhHans, AppLanguage::zhHant,
    AppLanguage::de, AppLanguage::fr, AppLanguage::es, AppLanguage::ptBR,   AppLanguage::ru,
    AppLanguage::it, AppLanguage::nl, AppLanguage::pl, AppLanguage::tr};

// "en", "zh-Hans", "pt-BR", ... (the raw value and identifier).
std::string_view languageCode(AppLanguage language);
// The language's name in itself ("日本語", "Português (Brasil)").
std::string_view languageDisplayName(AppLanguage language);
// Exact, case-sensitive match of one of the fourteen codes.
std::optional<AppLanguage> languageFromCode(std::string_view code);

// The language a list of preferred languages selects ("en-GB", "ja-JP" gives English: the
// first entry that matches decides; unknown entries are skipped; nothing matching gives
// English).
AppLanguage languageForPreferences(const std::vector<std::string>& preferred);

}  // namespace lumarin
