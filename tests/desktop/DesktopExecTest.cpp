#include <gtest/gtest.h>

#include "platform/desktop/DesktopExec.h"

namespace lumarin {
namespace {

using Args = std::vector<std::string>;

const DesktopExecContext kContext{"Chat App", "chat-icon", "/usr/share/applications/chat.desktop"};

std::optional<Args> expand(std::string_view exec) { return expandDesktopExec(exec, kContext); }

TEST(DesktopExecTest, RemovesFileAndURLCodesWhenLaunchedWithoutFiles) {
  EXPECT_EQ(expand("chat %U"), (Args{"chat"}));
  EXPECT_EQ(expand("chat -- %f"), (Args{"chat", "--"}));
  EXPECT_EQ(expand("chat %F %u"), (Args{"chat"}));
  EXPECT_EQ(expand("chat --open=%u"), (Args{"chat", "--open="}));
}

TEST(DesktopExecTest, ExpandsIconNameAndEntryPath) {
  EXPECT_EQ(expand("chat %i --title %c %k"),
            (Args{"chat", "--icon", "chat-icon", "--title", "Chat App",
                  "/usr/share/applications/chat.desktop"}));
  // No Icon: %i leaves no empty "--icon" behind.
  EXPECT_EQ(expandDesktopExec("chat %i x", {"Chat", "", "/p"}), (Args{"chat", "x"}));
}

TEST(DesktopExecTest, KeepsALiteralPercentAndDropsDeprecatedCodes) {
  EXPECT_EQ(expand("chat --progress=50%% %d %D %n %N %v %m"), (Args{"chat", "--progress=50%"}));
  EXPECT_EQ(expand("chat 100%"), (Args{"chat", "100%"}));  // a trailing lone % stays
}

TEST(DesktopExecTest, HonoursQuotingAndItsEscapes) {
  EXPECT_EQ(expand(R"("/opt/My App/bin/chat" --name "a \"b\" \$HOME \\ \`x\`")"),
            (Args{"/opt/My App/bin/chat", "--name", R"(a "b" $HOME \ `x`)"}));
  // Codes inside quotes are the program's own text.
  EXPECT_EQ(expand(R"(chat "%U")"), (Args{"chat", "%U"}));
  EXPECT_EQ(expand(R"(chat "")"), (Args{"chat", ""}));
  EXPECT_EQ(expand("  chat\t  -x  "), (Args{"chat", "-x"}));
}

TEST(DesktopExecTest, RefusesLinesWithNoProgramOrAnOpenQuote) {
  EXPECT_FALSE(expand(""));
  EXPECT_FALSE(expand("   "));
  EXPECT_FALSE(expand("%U"));
  EXPECT_FALSE(expand(R"("/opt/chat --x)"));
  EXPECT_FALSE(expand(R"("")"));
}

}  // namespace
}  // namespace lumarin
