#include <gtest/gtest.h>

#include <set>

#include "base/Uuid.h"

namespace lumarin {
namespace {

TEST(UuidTest, RandomIsVersion4WithCanonicalUpperCaseText) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const Uuid id = Uuid::random();
    EXPECT_EQ(id.version(), 4);
    EXPECT_EQ(id.bytes()[8] & 0xC0, 0x80);
    const std::string text = id.toString();
    ASSERT_EQ(text.size(), 36u);
    for (char c : text) {
      EXPECT_FALSE(c >= 'a' && c <= 'f') << text;
    }
    EXPECT_EQ(Uuid::parse(text), id);
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 200u);
}

TEST(UuidTest, ParsingIsStrict) {
  const auto lower = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
  ASSERT_TRUE(lower);
  EXPECT_EQ(lower->toString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  for (const char* bad :
       {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}",
        " E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5G",
        "E621E1F8-C36C-495A-93FC0-C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5F0"}) {
    EXPECT_FALSE(Uuid::parse(bad)) << bad;
  }
}

}  // namespace
}  // namespace lumarin
