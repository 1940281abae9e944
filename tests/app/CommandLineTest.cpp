#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace lumarin {
namespace {

TEST(CommandLineTest, ReadsEveryOptionInBothSpellings) {
  auto options = parseCommandLine({"--headless", "--virtual-time", "--run-for", "60"});
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->headless);
  EXPECT_TRUE(options->virtualTime);
  EXPECT_EQ(options->runFor, 60.0);
  EXPECT_EQ(parseCommandLine({"--run-for=0.5"})->runFor, 0.5);
  EXPECT_FALSE(parseCommandLine({})->runFor);
  // A link, given to the option or alone (as the desktop's URL handler passes it).
  EXPECT_EQ(parseCommandLine({"--open-url", "lumarin://auth?code=a"})->openURL,
            "lumarin://auth?code=a");
  EXPECT_EQ(parseCommandLine({"LUMARIN://auth?x"})->openURL, "LUMARIN://auth?x");
}

TEST(CommandLineTest, RefusesUnknownOptionsAndBadValuesWithStatus2) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--verbose"},
                                                                {"headless"},
                                                                {"--run-for"},
                                                                {"--run-for", "soon"},
                                                                {"--run-for", "-1"},
                                                                {"--run-for", "inf"},
                                                                {"--run-for", "nan"},
                                                                {"--run-for", "5s"},
                                                                {"--headless=yes"},
                                                                {"--open-url"},
                                                                {"--open-url="},
                                                                {"lumarin:"},
                                                                {"https://example.com/"},
                                                                {"lumarin://a", "lumarin://b"}}) {
    auto result = parseCommandLine(args);
    ASSERT_FALSE(result) << args[0];
    EXPECT_EQ(result.error().code, 2);
    EXPECT_FALSE(result.error().message.empty());
  }
}

TEST(CommandLineTest, DesktopTakesTheRunOptionsButNotTheSimulatedMacs) {
  auto options = parseCommandLine(
      {"--desktop", "--run-for", "3", "--report", "r.json", "--snapshot", "shots", "--story"});
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->desktop);
  EXPECT_EQ(options->runFor, 3.0);
  EXPECT_EQ(options->report, "r.json");
  EXPECT_FALSE(parseCommandLine({})->desktop);
  // Whatever the order, an option of the simulated Mac is refused with the reason.
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--desktop", "--scenario", "s.json"},
                                             {"--virtual-time", "--desktop"},
                                             {"--desktop", "--headless"},
                                             {"--desktop=1"}}) {
    auto result = parseCommandLine(args);
    ASSERT_FALSE(result) << args[0];
    EXPECT_EQ(result.error().code, 2);
  }
  EXPECT_NE(parseCommandLine({"--headless", "--desktop"}).error().message.find("--headless"),
            std::string::npos);
}

}  // namespace
}  // namespace lumarin
