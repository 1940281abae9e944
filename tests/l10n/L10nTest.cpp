#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <regex>
#include <string>

#include "l10n/FrameworkLanguage.h"
#include "l10n/L10n.h"
#include "l10n/LocalizationTables.h"
#include "platform/FrameworkLocalization.h"
#include "platform/host/QtFrameworkLocalization.h"
#include "platform/sim/SimUserDefaults.h"

namespace lumarin {
namespace {

std::vector<std::string> placeholders(const std::string& text) {
  static const std::regex pattern("%[@d]");
  std::vector<std::string> out;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
       it != std::sregex_iterator(); ++it) {
    out.push_back(it->str());
  }
  return out;
}

// Each language's table is parsed on its first use only, so a run in one language never holds
// the other thirteen. The tables live as long as the process, so the check runs in a fresh
// copy of this test program.
TEST(LocalizationTablesDeathTest, EachTableIsParsedOnItsFirstUseOnly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::string wrong;
        // Notes every language whose state differs from `loaded`.
        const auto expectLoaded = [&wrong](const char* when,
                                           std::initializer_list<AppLanguage> loaded) {
          for (AppLanguage language : kAllLanguages) {
            const bool expected = std::find(loaded.begin(), loaded.end(), language) != loaded.end();
            if (LocalizationTables::isLoaded(language) != expected) {
              wrong += std::string(when) + ": " + std::string(languageCode(language)) +
                       (expected ? " not loaded; " : " loaded; ");
            }
          }
        };
        expectLoaded("at start", {});
        if (LocalizationTables::table(AppLanguage::de).empty()) {
          wrong += "the German table is empty; ";
        }
        expectLoaded("after German", {AppLanguage::de});
        if (LocalizationTables::keys().empty()) {
          wrong += "no keys; ";
        }
        expectLoaded("after the keys", {AppLanguage::de, AppLanguage::en});
        std::fputs(wrong.c_str(), stderr);
        std::exit(wrong.empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(LocalizationTablesTest, EveryLanguageHasExactlyTheEnglishKeysAndPlaceholders) {
  const auto& english = LocalizationTables::table(AppLanguage::en);
  ASSERT_GE(english.size(), 136u);
  EXPECT_EQ(LocalizationTables::keys().size(), english.size());
  for (AppLanguage language : kAllLanguages) {
    const auto& table = LocalizationTables::table(language);
    const std::string code(languageCode(language));
    EXPECT_EQ(table.size(), english.size()) << code;
    for (const auto& [key, text] : english) {
      auto it = table.find(key);
      ASSERT_NE(it, table.end()) << code << " lacks " << key;
      EXPECT_EQ(placeholders(it->second), placeholders(text)) << code << " " << key;
      EXPECT_FALSE(it->second.empty()) << code << " " << key;
      if (language != AppLanguage::en) {
        // Line breaks are part of the layout of the texts that have them.
        EXPECT_EQ(std::count(it->second.begin(), it->second.end(), '\n'),
                  std::count(text.begin(), text.end(), '\n'))
            << code << " " << key;
      }
    }
  }
  EXPECT_EQ(english.at("menu.quit"), "Quit Lumarin");
  EXPECT_EQ(
      english.at("apps.emptyBody"),
      "Click “Add App” above to show an app’s icon\nand its notification badge in the menu bar.");
}

TEST(AppLanguageTest, CodesAreExactAndCaseSensitive) {
  EXPECT_EQ(languageFromCode("zh-Hans"), AppLanguage::zhHans);
  EXPECT_FALSE(languageFromCode("zh-hans"));
  EXPECT_FALSE(languageFromCode("pt"));
  EXPECT_EQ(languageCode(AppLanguage::ptBR), "pt-BR");
  EXPECT_EQ(languageDisplayName(AppLanguage::ja), "日本語");
  EXPECT_EQ(kAllLanguages.front(), AppLanguage::en);
  EXPECT_EQ(kAllLanguages.back(), AppLanguage::tr);
}

TEST(AppLanguageTest, SystemPreferencesPickTheFirstMatchingEntry) {
  const std::vector<std::pair<std::vector<std::string>, AppLanguage>> cases = {
      {{"en-GB", "ja-JP"}, AppLanguage::en},
      {{"zh-TW"}, AppLanguage::zhHant},
      {{"zh-Hans-CN"}, AppLanguage::zhHans},
      {{"zh-HK"}, AppLanguage::zhHant},
      {{"zh-MO"}, AppLanguage::zhHant},
      {{"zh-Hant"}, AppLanguage::zhHant},
      {{"pt-PT"}, AppLanguage::ptBR},
      {{"sv-SE", "de-DE"}, AppLanguage::de},
      {{"sv-SE"}, AppLanguage::en},
      {{}, AppLanguage::en},
      {{"TR"}, AppLanguage::tr},
  };
  for (const auto& [preferred, expected] : cases) {
    EXPECT_EQ(languageForPreferences(preferred), expected)
        << (preferred.empty() ? "(empty)" : preferred[0]);
  }
}

class RecordingLocalization final : public FrameworkLocalization {
 public:
  void useLanguage(const std::optional<std::string>& code) override { calls.push_back(code); }
  std::vector<std::optional<std::string>> calls;
};

class L10nTest : public ::testing::Test {
 protected:
  SimUserDefaults defaults_;
  FrameworkLanguage framework_;
  RecordingLocalization localization_;
};

TEST_F(L10nTest, StoredCodeWinsAndUnknownCodesFallBackToTheSystem) {
  defaults_.setGlobal("AppleLanguages", StringArray{"ja-JP"});
  defaults_.set("languageCode", std::string("fr"));
  {
    L10n l10n(defaults_, framework_, &localization_);
    EXPECT_EQ(*l10n.language(), AppLanguage::fr);
    EXPECT_EQ(l10n.string("menu.quit"), "Quitter Lumarin");
    EXPECT_EQ(defaults_.stringArray("AppleLanguages"), StringArray{"fr"});
    EXPECT_EQ(framework_.code(), "fr");
  }
  defaults_.set("languageCode", std::string("zh-hans"));  // wrong case: unknown
  L10n l10n(defaults_, framework_, &localization_);
  EXPECT_EQ(*l10n.language(), AppLanguage::ja);
  EXPECT_FALSE(defaults_.contains("AppleLanguages"));
  EXPECT_FALSE(framework_.code());
  EXPECT_EQ(defaults_.string("languageCode"), "zh-hans");  // left as it was
  EXPECT_EQ(localization_.calls.back(), std::nullopt);
}

TEST_F(L10nTest, LookupFallsBackToEnglishThenTheKey) {
  L10n l10n(defaults_, framework_, nullptr, [] { return StringArray{"de-DE"}; });
  EXPECT_EQ(*l10n.language(), AppLanguage::de);  // no global list: the process's languages
  EXPECT_EQ(l10n.string("no.such.key"), "no.such.key");
  EXPECT_EQ(l10n.format("item.tooltip", {"3"}), "3 Mitteilungen");
  EXPECT_EQ(fillPlaceholders("%@ of %d (100%%) %@", {"a", "2"}), "a of 2 (100%) %@");
}

TEST_F(L10nTest, ApplySwitchesAtOnceAndAbsentRestoresTheSystemDefault) {
  defaults_.setGlobal("AppleLanguages", StringArray{"sv-SE", "it-IT"});
  L10n l10n(defaults_, framework_, &localization_);
  std::vector<AppLanguage> seen;
  auto token = l10n.language().observe([&](AppLanguage language) { seen.push_back(language); });
  l10n.apply("ko");
  EXPECT_EQ(l10n.string("common.cancel"), "취소");
  EXPECT_EQ(defaults_.stringArray("AppleLanguages"), StringArray{"ko"});
  l10n.apply(std::nullopt);
  EXPECT_EQ(*l10n.language(), AppLanguage::it);
  EXPECT_FALSE(defaults_.contains("AppleLanguages"));
  EXPECT_FALSE(framework_.code());
  EXPECT_EQ(seen, (std::vector<AppLanguage>{AppLanguage::ko, AppLanguage::it}));
  EXPECT_EQ(localization_.calls.back(), std::nullopt);
}

TEST_F(L10nTest, PickerListsSystemDefaultThenTheLanguagesInTheirOwnNames) {
  L10n l10n(defaults_, framework_, nullptr);
  const auto options = l10n.pickerOptions();
  ASSERT_EQ(options.size(), 15u);
  EXPECT_EQ(options[0], (std::pair<std::string, std::string>{"", "System default"}));
  EXPECT_EQ(options[4], (std::pair<std::string, std::string>{"zh-Hans", "简体中文"}));
}

TEST(QtFrameworkLocalizationTest, CatalogueNamesFollowQtsLocaleNames) {
  EXPECT_EQ(QtFrameworkLocalization::catalogueCandidates("zh-Hans"),
            (std::vector<std::string>{"zh_CN", "zh"}));
  EXPECT_EQ(QtFrameworkLocalization::catalogueCandidates("pt-BR"),
            (std::vector<std::string>{"pt_BR", "pt"}));
  EXPECT_EQ(QtFrameworkLocalization::catalogueCandidates("ja"), (std::vector<std::string>{"ja"}));
  EXPECT_TRUE(QtFrameworkLocalization::catalogueCandidates("en").empty());
}

}  // namespace
}  // namespace lumarin
