// System-wide shortcuts on a real X server (Xvfb), pressed with xdotool as a keyboard would.

#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>

#include "TrayDesktop.h"
#include "platform/desktop/X11HotKeys.h"
#include "platform/host/HostClock.h"
#include "platform/host/HostScheduler.h"

namespace lumarin {
namespace {

using test::waitUntil;

constexpr std::uint32_t kM = 46;
constexpr std::uint32_t kComma = 43;
constexpr std::uint32_t kControlOptionCommand = 0x1000 | 0x800 | 0x100;

class X11HotKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = test::TrayDesktop::missingPrograms(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
    if (QStandardPaths::findExecutable("xdotool").isEmpty()) {
      GTEST_SKIP() << "xdotool is not installed";
    }
    std::string why;
    ASSERT_TRUE(desktop_.start(why)) << why;
  }

  void press(const QString& keys) {
    QProcess xdotool;
    xdotool.setProcessEnvironment(desktop_.environment());
    xdotool.start("xdotool", {"key", keys});
    ASSERT_TRUE(xdotool.waitForFinished(10000));
    ASSERT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
  }

  test::TrayDesktop desktop_;
  HostClock clock_;
  HostScheduler scheduler_{clock_};
};

TEST_F(X11HotKeysTest, AGrabbedCombinationFiresAlsoWithNumLockAndIsTakenForOthers) {
  X11HotKeys keys(scheduler_, desktop_.display().toStdString());
  ASSERT_TRUE(keys.isConnected());
  std::vector<std::uint32_t> pressed;
  keys.installHandler([&pressed](std::optional<HotKeyID> id) {
    pressed.push_back(id ? id->id : 0);
    return 0;
  });
  HotKeys::Handle hud = 0;
  HotKeys::Handle settings = 0;
  ASSERT_EQ(keys.registerHotKey(kM, kControlOptionCommand, HotKeyID{0x4c4d4e52, 1}, hud), 0);
  ASSERT_EQ(keys.registerHotKey(kComma, kControlOptionCommand, HotKeyID{0x4c4d4e52, 2}, settings),
            0);

  press("ctrl+alt+super+m");
  ASSERT_TRUE(waitUntil([&] { return pressed.size() == 1; }));
  EXPECT_EQ(pressed[0], 1u);
  press("ctrl+alt+super+comma");
  ASSERT_TRUE(waitUntil([&] { return pressed.size() == 2; }));
  EXPECT_EQ(pressed[1], 2u);
  // With Num Lock on, the same combination still reaches us.
  press("Num_Lock");
  press("ctrl+alt+super+m");
  ASSERT_TRUE(waitUntil([&] { return pressed.size() == 3; }));
  press("Num_Lock");
  // Without all of its modifiers it is not ours.
  press("ctrl+alt+m");

  // Another client asking for the same combination is told it is taken, as on the Mac; once
  // released, it may have it.
  X11HotKeys other(scheduler_, desktop_.display().toStdString());
  HotKeys::Handle second = 0;
  EXPECT_EQ(other.registerHotKey(kM, kControlOptionCommand, HotKeyID{1, 1}, second),
            HotKeys::kHotKeyExistsErr);
  keys.unregisterHotKey(hud);
  EXPECT_EQ(other.registerHotKey(kM, kControlOptionCommand, HotKeyID{1, 1}, second), 0);
  EXPECT_EQ(pressed.size(), 3u);

  // A key code the ANSI layout has no key for cannot be grabbed.
  HotKeys::Handle none = 0;
  EXPECT_NE(keys.registerHotKey(0x7f, kControlOptionCommand, HotKeyID{1, 3}, none), 0);
}

}  // namespace
}  // namespace lumarin
