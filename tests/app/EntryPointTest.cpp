#include <gtest/gtest.h>

#include "app/EntryPoint.h"
#include "app/SingleInstanceGuard.h"
#include "diagnostics/DebugLog.h"
#include "l10n/FrameworkLanguage.h"
#include "platform/host/FlockInstanceLock.h"
#include "platform/host/HostPaths.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimBundle.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimUserDefaults.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

class EntryPointTest : public ::testing::Test {
 protected:
  EntryPointTest() {
    process_.env = {{"TMPDIR", dir_.path().string()}, {"HOME", dir_.path().string()}};
  }

  EntryPoint makeEntry(InstanceLock& lock) {
    guards_.push_back(std::make_unique<SingleInstanceGuard>(lock, paths_, process_));
    return EntryPoint(defaults_, language_, bundle_, process_, *guards_.back(), log_);
  }

  test::TempDir dir_;
  SimProcessInfo process_;
  HostPaths paths_{process_};
  SimBundle bundle_;
  SimUserDefaults defaults_;
  FrameworkLanguage language_;
  ManualScheduler scheduler_{WallTime(std::chrono::seconds(1772366405))};
  DebugLog log_{dir_ / "log", scheduler_.clock()};
  std::vector<std::unique_ptr<SingleInstanceGuard>> guards_;
};

TEST_F(EntryPointTest, LockFileNameCarriesUserAndReplacesSlashes) {
  EXPECT_EQ(SingleInstanceGuard::lockFileName("com.kestova.Lumarin", 501),
            "com.kestova.Lumarin.501.instance.lock");
  EXPECT_EQ(SingleInstanceGuard::lockFileName("a/b/c", 0), "a_b_c.0.instance.lock");
}

TEST_F(EntryPointTest, LanguageBootstrapStoresOrRemovesTheOverride) {
  FlockInstanceLock lock;
  EntryPoint entry = makeEntry(lock);
  defaults_.set("languageCode", std::string("de"));
  entry.bootstrapLanguage();
  EXPECT_EQ(defaults_.stringArray("AppleLanguages"), StringArray{"de"});
  EXPECT_EQ(language_.code(), "de");

  defaults_.set("languageCode", std::string(""));  // empty behaves as absent
  entry.bootstrapLanguage();
  EXPECT_FALSE(defaults_.contains("AppleLanguages"));
  EXPECT_FALSE(language_.code());

  defaults_.set("languageCode", std::int64_t{7});  // not a string: absent too
  defaults_.set("AppleLanguages", StringArray{"fr"});
  entry.bootstrapLanguage();
  EXPECT_FALSE(defaults_.contains("AppleLanguages"));
}

TEST_F(EntryPointTest, StartLineThenDuplicateRejectedForASecondInstance) {
  process_.pid = 101;
  FlockInstanceLock firstLock;
  EntryPoint first = makeEntry(firstLock);
  ASSERT_TRUE(first.start());

  process_.pid = 202;
  FlockInstanceLock secondLock;
  EntryPoint second = makeEntry(secondLock);
  EXPECT_FALSE(second.start());
  EXPECT_EQ(log_.tail(),
            "2026-03-01T12:00:05Z startup: acquired instance lock pid=101 version=1.0 "
            "build=100 path=/Applications/Lumarin.app\n"
            "2026-03-01T12:00:05Z startup: duplicate instance rejected pid=202\n");

  // Another user gets a lock file of its own and may run.
  process_.uid = 502;
  FlockInstanceLock otherUserLock;
  EXPECT_TRUE(makeEntry(otherUserLock).start());
}

TEST_F(EntryPointTest, UnopenableLockFileCountsAsDuplicate) {
  process_.env["TMPDIR"] = (dir_ / "does-not-exist").string();
  FlockInstanceLock lock;
  EXPECT_FALSE(makeEntry(lock).start());
  EXPECT_NE(log_.tail().find("duplicate instance rejected"), std::string::npos);
}

TEST_F(EntryPointTest, MissingBundleInformationFallsBack) {
  bundle_.info.clear();
  const StartupInfo info = EntryPoint::readStartupInfo(bundle_);
  EXPECT_EQ(info.bundleID, "com.kestova.Lumarin");
  EXPECT_EQ(info.version, "dev");
  EXPECT_EQ(info.build, "0");
}

}  // namespace
}  // namespace lumarin
