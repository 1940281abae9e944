#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "app/GlobalHotKey.h"
#include "support/DesktopFixture.h"

namespace lumarin {
namespace {

class GlobalHotKeyTest : public test::DesktopFixture {
 protected:
  void SetUp() override {
    load(R"({"input": {"takenHotKeys": [
      {"keyCode": 46, "modifiers": ["control", "option", "command"]}]}})");
    hotKey_->setStatisticsHook([this](const std::string& name, const Properties& properties) {
      events_.push_back(name + " " +
                        std::to_string(std::get<std::int64_t>(properties.at("status"))));
    });
  }

  bool press(std::uint32_t keyCode, std::uint32_t modifiers) {
    const bool reached = mac_.hotKeys.press(keyCode, modifiers);
    scheduler_.runUntilIdle();
    return reached;
  }

  std::shared_ptr<GlobalHotKey> hotKey_ = std::make_shared<GlobalHotKey>(mac_.hotKeys, log_);
  std::vector<std::string> events_;
};

TEST_F(GlobalHotKeyTest, RegistersReplacesAndDispatchesByIdentifier) {
  int first = 0;
  int second = 0;
  hotKey_->registerHotKey(1, 43, 6400, [&] { ++first; });
  hotKey_->registerHotKey(1, 43, 6400, [&] { ++second; });  // replaces, no "taken" clash
  EXPECT_TRUE(press(43, 6400));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  EXPECT_FALSE(press(43, 0x100));  // another combination reaches nobody
  // A press whose identifier has no entry is swallowed.
  EXPECT_EQ(hotKey_->dispatch(HotKeyID{GlobalHotKey::kSignature, 7}), 0);
  EXPECT_EQ(hotKey_->dispatch(std::nullopt), 0);
  hotKey_->unregisterHotKey(1);
  EXPECT_FALSE(press(43, 6400));
  EXPECT_EQ(second, 1);
}

TEST_F(GlobalHotKeyTest, ConvenienceFormCallsOnTriggerOnlyWhenSet) {
  hotKey_->registerHotKey(43, 6400);
  EXPECT_TRUE(press(43, 6400));  // nothing set: nothing happens
  int triggered = 0;
  hotKey_->setOnTrigger([&] { ++triggered; });
  EXPECT_TRUE(press(43, 6400));
  EXPECT_EQ(triggered, 1);
}

TEST_F(GlobalHotKeyTest, TakenShortcutIsLoggedAndReportedAndTheOtherStillWorks) {
  hotKey_->registerHotKey(2, 46, 6400, [] {});
  EXPECT_FALSE(hotKey_->isRegistered(2));
  EXPECT_EQ(logLines("hotkey: register id=2 failed status=-9878").size(), 1u);
  EXPECT_EQ(events_, (std::vector<std::string>{"hotkey.failed -9878"}));
  hotKey_->registerHotKey(43, 6400);
  EXPECT_TRUE(hotKey_->isRegistered(1));
}

TEST_F(GlobalHotKeyTest, TheDelegateRegistersBothAndRoutesThePresses) {
  settings_.setHasCompletedOnboarding(true);
  auto delegate = std::make_shared<AppDelegate>(
      platform_, log_, AppServices{settings_, l10n_, monitor_, icons_, &scanner_, revision_});
  delegate->applicationDidFinishLaunching();
  // Control-Option-Command-M is taken here; Control-Option-Command-Comma opens the settings.
  EXPECT_EQ(logLines("hotkey: register id=2 failed status=-9878").size(), 1u);
  EXPECT_TRUE(press(43, 6400));
  EXPECT_FALSE(press(46, 6400));
  EXPECT_EQ(delegate->requests(), (std::vector<std::string>{"settings:last"}));
}

}  // namespace
}  // namespace lumarin
