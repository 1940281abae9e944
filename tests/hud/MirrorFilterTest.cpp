#include <gtest/gtest.h>

#include "hud/MirrorFilter.h"

namespace lumarin {
namespace {

TEST(MirrorFilterTest, WordPrefixesInOrderAndInitialsInEnglish) {
  const MirrorFilter filter("en");
  const std::string item = "iGauge Meters — Memory";
  EXPECT_TRUE(filter.matches("", item));
  EXPECT_TRUE(filter.matches("   ", item));
  EXPECT_TRUE(filter.matches("iga", item));
  EXPECT_TRUE(filter.matches("IGAUGE", item));
  EXPECT_TRUE(filter.matches("iga mem", item));
  EXPECT_TRUE(filter.matches("mem", item));
  EXPECT_TRUE(filter.matches("im", item));  // initials: i(Gauge) M(eters) / M(emory)
  EXPECT_TRUE(filter.matches("imm", item));
  EXPECT_FALSE(filter.matches("mem iga", item));  // out of order
  EXPECT_FALSE(filter.matches("gau", item));      // inside a word, not at its start
  EXPECT_FALSE(filter.matches("mi", item));       // initials out of order
  EXPECT_FALSE(filter.matches("imx", item));
  EXPECT_FALSE(filter.matches("memory meters", item));
  // A word of the query may run on into the next words.
  EXPECT_TRUE(filter.matches("igaugemet", item));
  // Identifiers split at their dots.
  EXPECT_TRUE(filter.matches("example", "com.example.igauge"));
  EXPECT_TRUE(filter.matches("com igauge", "com.example.igauge"));
  EXPECT_FALSE(filter.matches("gauge", "com.example.igauge"));
  // One letter never counts as initials of later words.
  EXPECT_FALSE(filter.matches("m", "iGauge"));
}

TEST(MirrorFilterTest, CaseAccentsAndSharpSInGerman) {
  const MirrorFilter filter("de");
  EXPECT_TRUE(filter.matches("uber", "Über Lumarin"));
  EXPECT_TRUE(filter.matches("ÜBER", "über"));
  EXPECT_TRUE(filter.matches("strasse", "Straße der Einheit"));
  EXPECT_TRUE(filter.matches("straß", "STRASSE"));
  EXPECT_TRUE(filter.matches("ein", "Straße der Einheit"));
  EXPECT_TRUE(filter.matches("cafe", "Café"));
  EXPECT_FALSE(filter.matches("ober", "Über"));
}

TEST(MirrorFilterTest, KanaAndWidthInJapanese) {
  const MirrorFilter filter("ja");
  EXPECT_TRUE(filter.matches("メモ", "メモリ"));
  EXPECT_TRUE(filter.matches("めも", "メモリ"));            // hiragana finds katakana
  EXPECT_TRUE(filter.matches("ﾒﾓﾘ", "メモリ"));             // half-width too
  EXPECT_TRUE(filter.matches("メモリ使", "メモリ使用量"));  // no spaces between words
  EXPECT_TRUE(filter.matches("wi", "Wi‑Fi 接続"));
  EXPECT_FALSE(filter.matches("モリ", "メモリ"));
}

TEST(MirrorFilterTest, DottedAndDotlessIInTurkish) {
  const MirrorFilter turkish("tr");
  // Turkish pairs I with ı and İ with i.
  EXPECT_TRUE(turkish.matches("ış", "IŞIK"));
  EXPECT_TRUE(turkish.matches("ist", "İstanbul"));
  EXPECT_TRUE(turkish.matches("İST", "istanbul"));
  EXPECT_FALSE(turkish.matches("is", "IŞIK"));
  EXPECT_FALSE(turkish.matches("ıs", "İstanbul"));
  // Elsewhere a capital I is an i.
  const MirrorFilter english("en");
  EXPECT_TRUE(english.matches("is", "ISIK"));
}

TEST(MirrorFilterTest, VowelMarksInArabic) {
  const MirrorFilter filter("ar");
  EXPECT_TRUE(filter.matches("مرحبا", "مَرْحَبًا بالعالم"));
  EXPECT_TRUE(filter.matches("مر بال", "مَرْحَبًا بالعالم"));
  EXPECT_TRUE(filter.matches("بال", "مَرْحَبًا بالعالم"));
  EXPECT_FALSE(filter.matches("حبا", "مرحبا"));
}

TEST(MirrorFilterTest, PreparedTextsServeManyQueriesAndOddInputIsHarmless) {
  const MirrorFilter filter("zh-Hans");
  const auto text = filter.prepare("电池 Battery 100%");
  EXPECT_TRUE(MirrorFilter::matches(filter.prepareQuery("电"), text));
  EXPECT_TRUE(MirrorFilter::matches(filter.prepareQuery("bat"), text));
  EXPECT_TRUE(MirrorFilter::matches(filter.prepareQuery("10"), text));
  EXPECT_FALSE(MirrorFilter::matches(filter.prepareQuery("池"), text));
  // Punctuation alone is no query, nor are bytes that are not UTF-8 (no words in either); an
  // unknown language falls back to the common collation.
  EXPECT_TRUE(filter.matches("—", "anything"));
  EXPECT_TRUE(filter.matches("\xff\xfe", "anything"));
  EXPECT_FALSE(filter.matches("any \xff\xfe x", "anything"));
  const MirrorFilter unknown("xx-nonsense");
  EXPECT_TRUE(unknown.matches("wif", "Wi-Fi"));
  EXPECT_TRUE(filter.prepare("").empty());
}

}  // namespace
}  // namespace lumarin
