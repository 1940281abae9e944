#include <gtest/gtest.h>

#include "onboarding/OnboardingCompletion.h"
#include "onboarding/OnboardingKitEnv.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimUserDefaults.h"

namespace lumarin {
namespace {

TEST(OnboardingKitEnvTest, ForcedOnlyByExactlyOne) {
  SimProcessInfo process;
  EXPECT_FALSE(OnboardingKitEnv::forced(process));
  process.env["KESTOVA_ONBOARDING"] = "yes";
  EXPECT_FALSE(OnboardingKitEnv::forced(process));
  process.env["KESTOVA_ONBOARDING"] = " 1";
  EXPECT_FALSE(OnboardingKitEnv::forced(process));
  process.env["KESTOVA_ONBOARDING"] = "1";
  EXPECT_TRUE(OnboardingKitEnv::forced(process));
}

TEST(OnboardingKitEnvTest, LegacyNamesForceAndPinToo) {
  SimProcessInfo process;
  process.env["OLD_ONBOARDING"] = "1";
  process.env["OLD_PAGE"] = "2";
  EXPECT_TRUE(OnboardingKitEnv::forced(process, {"OLD_ONBOARDING"}));
  EXPECT_EQ(OnboardingKitEnv::pinnedPage(process, {"OLD_PAGE"}), 2);
  // The program's own name comes first; one that does not parse passes to the next.
  process.env["KESTOVA_ONBOARDING_PAGE"] = "abc";
  EXPECT_EQ(OnboardingKitEnv::pinnedPage(process, {"OLD_PAGE"}), 2);
  process.env["KESTOVA_ONBOARDING_PAGE"] = "1";
  EXPECT_EQ(OnboardingKitEnv::pinnedPage(process, {"OLD_PAGE"}), 1);
}

TEST(OnboardingKitEnvTest, PageParsesWholeDecimalsWithOptionalPlus) {
  EXPECT_EQ(OnboardingKitEnv::parseDecimal("9"), 9);
  EXPECT_EQ(OnboardingKitEnv::parseDecimal("+3"), 3);
  EXPECT_EQ(OnboardingKitEnv::parseDecimal("-1"), -1);
  EXPECT_EQ(OnboardingKitEnv::parseDecimal("007"), 7);
  for (const char* bad :
       {"", "+", "abc", "3a", " 3", "3 ", "+-3", "1.5", "0x2", "99999999999999999999"}) {
    EXPECT_EQ(OnboardingKitEnv::parseDecimal(bad), std::nullopt) << bad;
  }
}

TEST(OnboardingCompletionTest, CopiesTheFirstLegacyValueOnlyWhenTheKeyIsAbsent) {
  SimUserDefaults defaults;
  EXPECT_FALSE(OnboardingCompletion::migrate({"hasCompletedOnboarding"}, defaults));
  EXPECT_FALSE(defaults.contains("onboardingCompleted"));

  defaults.set("older", std::string("YES"));
  defaults.set("hasCompletedOnboarding", false);
  EXPECT_TRUE(
      OnboardingCompletion::migrate({"missing", "older", "hasCompletedOnboarding"}, defaults));
  EXPECT_EQ(defaults.boolean("onboardingCompleted"), true);
  EXPECT_TRUE(defaults.contains("older"));  // left in place

  defaults.set("onboardingCompleted", false);
  EXPECT_FALSE(OnboardingCompletion::migrate({"older"}, defaults));
  EXPECT_EQ(defaults.boolean("onboardingCompleted"), false);
}

}  // namespace
}  // namespace lumarin
