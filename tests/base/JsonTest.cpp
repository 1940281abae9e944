#include <gtest/gtest.h>

#include "base/Json.h"

namespace lumarin {
namespace {

TEST(JsonTest, ParseErrorsCarryPositionWithoutThrowing) {
  auto bad = json::parse("{\"a\": 1,}");
  ASSERT_FALSE(bad);
  EXPECT_NE(bad.error().message.find("line 1"), std::string::npos) << bad.error().message;
  EXPECT_FALSE(json::parse(""));
  // Found by fuzzing: a number too large for a double throws out_of_range, not parse_error.
  EXPECT_FALSE(json::parse("9E621"));
  EXPECT_FALSE(json::parse("[-55555555E555]"));
  EXPECT_TRUE(json::parse("[1, 2]"));
}

TEST(JsonTest, TypedReadsNeverThrowOnWrongKinds) {
  const auto doc = json::parse(R"({"s": "x", "b": true, "i": 7, "big": 18446744073709551615,
                                   "f": 1.5, "n": null})")
                       .value();
  EXPECT_EQ(json::stringAt(doc, "s"), "x");
  EXPECT_FALSE(json::stringAt(doc, "b"));
  EXPECT_FALSE(json::stringAt(doc, "n"));
  EXPECT_EQ(json::boolAt(doc, "b"), true);
  EXPECT_FALSE(json::boolAt(doc, "i"));
  EXPECT_EQ(json::integerAt(doc, "i"), 7);
  EXPECT_FALSE(json::integerAt(doc, "big"));
  EXPECT_FALSE(json::integerAt(doc, "f"));
  EXPECT_EQ(json::numberAt(doc, "i"), 7.0);
  EXPECT_FALSE(json::stringAt(json::Json::array(), "s"));
}

TEST(JsonTest, PathsNameMembersAndIndices) {
  EXPECT_EQ(json::pathMember("", "world"), "$.world");
  EXPECT_EQ(json::pathIndex(json::pathMember("$", "apps"), 2), "$.apps[2]");
  EXPECT_EQ(json::pathMember("$", "bundle id"), "$[\"bundle id\"]");
  EXPECT_EQ(json::dump(json::Json("\xFF")), "\"\xEF\xBF\xBD\"");
}

}  // namespace
}  // namespace lumarin
