#include <gtest/gtest.h>

#include "base/Iso8601.h"

namespace lumarin {
namespace {

using std::chrono::system_clock;

TEST(Iso8601Test, FormatsUtcWithWholeSeconds) {
  const auto t =
      system_clock::time_point(std::chrono::seconds(1772366405)) + std::chrono::milliseconds(999);
  EXPECT_EQ(iso8601::formatUtc(t), "2026-03-01T12:00:05Z");
  EXPECT_EQ(iso8601::formatUtc(system_clock::time_point{}), "1970-01-01T00:00:00Z");
  EXPECT_EQ(iso8601::formatUtc(system_clock::time_point(std::chrono::seconds(951782400))),
            "2000-02-29T00:00:00Z");
  // Before 1970 the second is still floored, not truncated towards zero.
  EXPECT_EQ(iso8601::formatUtc(system_clock::time_point(std::chrono::milliseconds(-1))),
            "1969-12-31T23:59:59Z");
}

TEST(Iso8601Test, ParsesWhatItFormatsAndRefusesTheRest) {
  const auto t = iso8601::parse("2026-03-01T12:00:05Z");
  ASSERT_TRUE(t);
  EXPECT_EQ(iso8601::formatUtc(*t), "2026-03-01T12:00:05Z");
  EXPECT_EQ(iso8601::parse("2026-03-01T13:00:05+01:00"), t);
  EXPECT_EQ(iso8601::parse("2026-03-01T12:00:05.250Z"), *t + std::chrono::milliseconds(250));
  for (const char* bad :
       {"2026-03-01 12:00:05Z", "2026-02-29T00:00:00Z", "2026-13-01T00:00:00Z",
        "2026-03-01T12:00:05", "2026-03-01T12:00:05Zjunk", "2026-03-01T12:00:05.Z"}) {
    EXPECT_FALSE(iso8601::parse(bad)) << bad;
  }
}

}  // namespace
}  // namespace lumarin
