#include <gtest/gtest.h>

#include <limits>

#include "desktop/LauncherEntryParser.h"

namespace lumarin {
namespace {

LauncherEntryUpdate parsed(std::string_view uri, const LauncherProperties& properties) {
  auto result = parseLauncherEntryUpdate(uri, properties);
  EXPECT_TRUE(std::holds_alternative<LauncherEntryUpdate>(result)) << uri;
  return std::holds_alternative<LauncherEntryUpdate>(result) ? std::get<LauncherEntryUpdate>(result)
                                                             : LauncherEntryUpdate{};
}

LauncherEntryError refused(std::string_view uri) {
  auto result = parseLauncherEntryUpdate(uri, {});
  EXPECT_TRUE(std::holds_alternative<LauncherEntryError>(result)) << uri;
  return std::holds_alternative<LauncherEntryError>(result) ? std::get<LauncherEntryError>(result)
                                                            : LauncherEntryError::EmptyID;
}

TEST(LauncherEntryParserTest, KeepsTheDesktopFileIDWithItsSuffix) {
  EXPECT_EQ(parsed("application://org.telegram.desktop.desktop", {}).appID,
            "org.telegram.desktop.desktop");
  EXPECT_EQ(parsed("application://kde-dolphin.desktop", {}).appID, "kde-dolphin.desktop");
}

TEST(LauncherEntryParserTest, RefusesURIsThatNameNoDesktopFile) {
  EXPECT_EQ(refused("file:///usr/share/applications/a.desktop"),
            LauncherEntryError::NotApplicationURI);
  EXPECT_EQ(refused("application://firefox"), LauncherEntryError::NotDesktopFile);
  EXPECT_EQ(refused("application://.desktop"), LauncherEntryError::EmptyID);
  EXPECT_EQ(refused("application://../x.desktop/.desktop"), LauncherEntryError::NotDesktopFile);
  EXPECT_EQ(refused("application://a\nb.desktop"), LauncherEntryError::NotDesktopFile);
  EXPECT_EQ(refused(""), LauncherEntryError::NotApplicationURI);
}

TEST(LauncherEntryParserTest, RefusesBytesThatAreNotText) {
  EXPECT_EQ(refused("application://a\xFF.desktop"), LauncherEntryError::NotUTF8);
  EXPECT_EQ(refused("application://a\xC0\xAF.desktop"),
            LauncherEntryError::NotUTF8);  // overlong '/'
  EXPECT_EQ(refused("application://a\xED\xA0\x80.desktop"),
            LauncherEntryError::NotUTF8);                                      // surrogate
  EXPECT_EQ(refused("application://a\xE2\x82"), LauncherEntryError::NotUTF8);  // cut short
  EXPECT_EQ(parsed("application://caf\xC3\xA9.desktop", {}).appID, "caf\xC3\xA9.desktop");
}

TEST(LauncherEntryParserTest, RefusesHugeURIsButNotOneAtTheLimit) {
  const std::string huge = "application://" + std::string(500 * 1024, 'a') + ".desktop";
  EXPECT_EQ(refused(huge), LauncherEntryError::TooLong);
  const std::string prefix = "application://", suffix = ".desktop";
  const std::string atLimit =
      prefix + std::string(kMaxLauncherURIBytes - prefix.size() - suffix.size(), 'a') + suffix;
  EXPECT_EQ(parsed(atLimit, {}).appID.size(), kMaxLauncherURIBytes - prefix.size());
  EXPECT_EQ(refused(atLimit + "x"), LauncherEntryError::TooLong);
}

TEST(LauncherEntryParserTest, ReadsCountsOfEitherSignednessAndClampsThem) {
  const auto uri = "application://a.desktop";
  EXPECT_EQ(parsed(uri, {{"count", std::int64_t{7}}}).count, std::optional<std::int64_t>{7});
  EXPECT_EQ(parsed(uri, {{"count", std::uint64_t{3}}}).count, std::optional<std::int64_t>{3});
  EXPECT_EQ(parsed(uri, {{"count", std::numeric_limits<std::int64_t>::max()}}).count,
            std::optional<std::int64_t>{kMaxLauncherCount});
  EXPECT_EQ(parsed(uri, {{"count", std::numeric_limits<std::uint64_t>::max()}}).count,
            std::optional<std::int64_t>{kMaxLauncherCount});
  // A negative count clears the count: present, but empty.
  const auto cleared = parsed(uri, {{"count", std::int64_t{-1}}}).count;
  ASSERT_TRUE(cleared.has_value());
  EXPECT_FALSE(cleared->has_value());
  EXPECT_FALSE(
      parsed(uri, {{"count", std::numeric_limits<std::int64_t>::min()}}).count->has_value());
}

TEST(LauncherEntryParserTest, IgnoresPropertiesOfTheWrongTypeOrUnknownName) {
  const auto update = parsed("application://a.desktop", {{"count", std::string("5")},
                                                         {"count-visible", std::int64_t{1}},
                                                         {"urgent", 1.0},
                                                         {"progress", std::string("half")},
                                                         {"quicklist", std::string("/menu")},
                                                         {"", std::monostate{}}});
  EXPECT_FALSE(update.count.has_value());
  EXPECT_FALSE(update.countVisible.has_value());
  EXPECT_FALSE(update.urgent.has_value());
  EXPECT_FALSE(update.progress.has_value());
}

TEST(LauncherEntryParserTest, ClampsProgressAndDropsNonNumbers) {
  const auto uri = "application://a.desktop";
  EXPECT_EQ(parsed(uri, {{"progress", 1.5}}).progress, 1.0);
  EXPECT_EQ(parsed(uri, {{"progress", -2.0}}).progress, 0.0);
  EXPECT_FALSE(parsed(uri, {{"progress", std::numeric_limits<double>::quiet_NaN()}}).progress);
}

TEST(LauncherEntryStateTest, ShowsTheCountOnlyWhileVisibleAndAboveZero) {
  LauncherEntryState state;
  EXPECT_FALSE(state.apply(parsed("application://a.desktop", {{"count", std::int64_t{4}}})));
  EXPECT_FALSE(state.badge());
  EXPECT_TRUE(state.apply(parsed("application://a.desktop", {{"count-visible", true}})));
  EXPECT_EQ(state.badge(), (BadgeValue{"4", 4}));
  // A later update that repeats the count changes nothing worth publishing.
  EXPECT_FALSE(state.apply(parsed("application://a.desktop", {{"count", std::int64_t{4}}})));
  EXPECT_TRUE(state.apply(parsed("application://a.desktop", {{"count", std::int64_t{0}}})));
  EXPECT_FALSE(state.badge());
}

TEST(LauncherEntryStateTest, UrgentShowsADotUnlessACountIsVisible) {
  LauncherEntryState state;
  EXPECT_TRUE(state.apply(parsed("application://a.desktop", {{"urgent", true}})));
  EXPECT_EQ(state.badge(), (BadgeValue{"\xE2\x80\xA2", std::nullopt}));
  state.apply(
      parsed("application://a.desktop", {{"count", std::int64_t{2}}, {"count-visible", true}}));
  EXPECT_EQ(state.badge(), (BadgeValue{"2", 2}));
  // Clearing the count falls back to the dot while urgent is still set.
  EXPECT_TRUE(state.apply(parsed("application://a.desktop", {{"count", std::int64_t{-1}}})));
  EXPECT_EQ(state.badge()->label, "\xE2\x80\xA2");
  EXPECT_TRUE(state.apply(parsed("application://a.desktop", {{"urgent", false}})));
  EXPECT_FALSE(state.badge());
}

}  // namespace
}  // namespace lumarin
