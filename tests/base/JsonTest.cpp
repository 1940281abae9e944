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

// A document nested past the limit never becomes a tree: the recursive copy, comparison and
// writing of one 300,000 levels deep would overflow the stack.
TEST(JsonTest, NestingPastTheLimitIsRefusedBeforeParsing) {
  auto nested = [](int depth, char open, char close) {
    return std::string(static_cast<std::size_t>(depth), open) +
           std::string(static_cast<std::size_t>(depth), close);
  };
  EXPECT_TRUE(json::parse(nested(json::kMaxDepth, '[', ']')));
  const auto deep = json::parse(nested(json::kMaxDepth + 1, '[', ']'));
  ASSERT_FALSE(deep);
  EXPECT_EQ(deep.error().code, json::kTooDeepError);
  EXPECT_EQ(deep.error().message, "nested deeper than 64 levels at byte 64");
  EXPECT_FALSE(json::parseOrdered(nested(300000, '[', ']')));
  EXPECT_FALSE(json::parse("{\"a\":" + nested(300000, '[', ']') + "}"));
  // Objects count as arrays do, and a caller may allow more.
  std::string objects;
  for (int i = 0; i < 70; ++i) {
    objects += "{\"k\":";
  }
  objects += "1" + std::string(70, '}');
  EXPECT_FALSE(json::parse(objects));
  EXPECT_TRUE(json::parse(objects, 70));

  // Brackets inside strings, escaped quotes included, are text.
  EXPECT_FALSE(json::tooDeepAt(R"(["[[[[", "\"[[[[", "]]]]"])", 2));
  EXPECT_EQ(json::tooDeepAt(R"([["\\", [1]]])", 2), 8u);
  // Stray closers buy no depth: "]]]][[[" is as deep as "[[[".
  EXPECT_EQ(json::tooDeepAt("]]]][[[", 2), 6u);
  // Broken text is still the parser's to refuse.
  EXPECT_FALSE(json::tooDeepAt("[[", 2));
  EXPECT_FALSE(json::parse("[["));
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
