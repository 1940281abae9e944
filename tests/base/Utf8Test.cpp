#include <gtest/gtest.h>

#include "base/Utf8.h"

namespace lumarin {
namespace {

TEST(Utf8Test, LengthsAndCutsCountScalarValues) {
  const std::string text = "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80";  // a é 日 😀
  EXPECT_EQ(utf8::length(text), 4u);
  EXPECT_EQ(utf8::prefix(text, 2), "a\xC3\xA9");
  EXPECT_EQ(utf8::suffix(text, 1), "\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8::suffix(text, 3), "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8::suffix(text, 10), text);
  EXPECT_EQ(utf8::prefix(text, 0), "");
}

TEST(Utf8Test, MalformedBytesCountOneEachAndNeverSplitACut) {
  // A truncated three-byte sequence, a lone continuation byte, an overlong encoding and an
  // encoded surrogate: each bad byte is one replacement character.
  EXPECT_EQ(utf8::decode("\xE6\x97"), (std::vector<char32_t>{0xFFFD, 0xFFFD}));
  EXPECT_EQ(utf8::decode("\x80z"), (std::vector<char32_t>{0xFFFD, U'z'}));
  EXPECT_EQ(utf8::decode("\xC0\xAF"), (std::vector<char32_t>{0xFFFD, 0xFFFD}));
  EXPECT_EQ(utf8::decode("\xED\xA0\x80").size(), 3u);
  EXPECT_FALSE(utf8::isValid("\xE6\x97"));
  EXPECT_TRUE(utf8::isValid("ok \xEF\xBF\xBD"));
  EXPECT_EQ(utf8::encode({0x65E5, 0xD800}), "\xE6\x97\xA5\xEF\xBF\xBD");
}

TEST(Utf8Test, TrimRemovesUnicodeWhiteSpaceAndLineBreaksOnly) {
  EXPECT_EQ(utf8::trimWhitespaceAndNewlines(" \t\n Mail \r\n"), "Mail");
  // No-break space, ideographic space and the line separator count; the zero-width space
  // does not (it is not white space).
  EXPECT_EQ(utf8::trimWhitespaceAndNewlines("\xC2\xA0\xE3\x80\x80x y\xE2\x80\xA8"), "x y");
  EXPECT_EQ(utf8::trimWhitespaceAndNewlines("\xE2\x80\x8Bx"), "\xE2\x80\x8Bx");
  EXPECT_EQ(utf8::trimWhitespaceAndNewlines(" \n "), "");
}

}  // namespace
}  // namespace lumarin
