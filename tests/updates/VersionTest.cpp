#include <gtest/gtest.h>

#include "updates/Version.h"

namespace lumarin {
namespace {

int order(std::string_view a, std::string_view b) {
  const auto c = compareVersions(a, b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

TEST(VersionTest, NumbersCompareByValueNotByText) {
  EXPECT_EQ(order("1.10", "1.9"), 1);
  EXPECT_EQ(order("1.9", "1.10"), -1);
  EXPECT_EQ(order("2", "10"), -1);
  EXPECT_EQ(order("1.02", "1.2"), 0);
  EXPECT_EQ(order("100", "99"), 1);
  // Longer than any integer type: still by value.
  EXPECT_EQ(order("1.123456789012345678901234567890", "1.123456789012345678901234567889"), 1);
}

TEST(VersionTest, TrailingZerosChangeNothingAndMoreNumbersAreNewer) {
  EXPECT_EQ(order("2.0", "2.0.0"), 0);
  EXPECT_EQ(order("2", "2.0.0.0"), 0);
  EXPECT_EQ(order("2.0.1", "2.0"), 1);
  EXPECT_EQ(order("2.0", "2.0.1"), -1);
}

TEST(VersionTest, PreReleasesComeBeforeTheirReleaseAndInOrder) {
  EXPECT_EQ(order("1.0b1", "1.0"), -1);
  EXPECT_EQ(order("1.0-rc1", "1.0"), -1);
  EXPECT_EQ(order("1.0", "1.0b1"), 1);
  EXPECT_EQ(order("1.0b2", "1.0b1"), 1);
  EXPECT_EQ(order("1.0b10", "1.0b9"), 1);
  EXPECT_EQ(order("1.0rc1", "1.0b5"), 1);  // words by their bytes: "rc" after "b"
  EXPECT_EQ(order("1.0.1", "1.0b1"), 1);
}

TEST(VersionTest, SeparatorsOnlySeparateAndEmptyIsOldest) {
  EXPECT_EQ(order("1-2_3+4", "1.2.3.4"), 0);
  EXPECT_EQ(order("", "0"), 0);
  EXPECT_EQ(order("", "1"), -1);
  EXPECT_EQ(order("...", ""), 0);
  EXPECT_EQ(order("1..2", "1.2"), 0);
}

TEST(VersionTest, BuildNumbers) {
  EXPECT_EQ(order("101", "100"), 1);
  EXPECT_EQ(order("100", "100"), 0);
  EXPECT_EQ(order("2024.03.1", "2024.3.1"), 0);
}

}  // namespace
}  // namespace lumarin
