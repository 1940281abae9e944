#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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
    process_.uid = ::geteuid();
  }
  // Where the lock goes: the program's own private folder under the temporary directory.
  std::filesystem::path lockFile() const {
    return dir_ / ("lumarin-" + std::to_string(process_.uid)) /
           SingleInstanceGuard::lockFileName("com.kestova.Lumarin", process_.uid);
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
  ASSERT_EQ(first.start(), StartOutcome::started);
  EXPECT_TRUE(std::filesystem::exists(lockFile()));

  process_.pid = 202;
  FlockInstanceLock secondLock;
  EntryPoint second = makeEntry(secondLock);
  EXPECT_EQ(second.start(), StartOutcome::duplicate);
  EXPECT_EQ(log_.tail(),
            "2026-03-01T12:00:05Z startup: acquired instance lock pid=101 version=1.0 "
            "build=100 path=/Applications/Lumarin.app\n"
            "2026-03-01T12:00:05Z startup: duplicate instance rejected pid=202\n");
}

// Another user of the machine plants a file or link where the lock used to be (the shared
// temporary folder): it no longer matters. One planted in the private folder itself (only this
// user can) is refused and said so, instead of a silent exit.
TEST_F(EntryPointTest, TheLockLivesInAPrivateFolderAndPlantedFilesAreRefused) {
  const auto shared = dir_ / SingleInstanceGuard::lockFileName("com.kestova.Lumarin", process_.uid);
  std::filesystem::create_symlink(dir_ / "victim", shared);
  {
    FlockInstanceLock lock;
    ASSERT_EQ(makeEntry(lock).start(), StartOutcome::started);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "victim"));
  }
  struct stat info {};
  ASSERT_EQ(::lstat(lockFile().parent_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  std::filesystem::remove(lockFile());
  std::filesystem::create_symlink(dir_ / "victim", lockFile());
  FlockInstanceLock lock;
  auto entry = makeEntry(lock);
  EXPECT_EQ(entry.start(), StartOutcome::lockRefused);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "victim"));
  EXPECT_NE(log_.tail().find("startup: instance lock refused pid=4242 (the lock file is a symbolic "
                             "link: " +
                             lockFile().string() + ")"),
            std::string::npos)
      << log_.tail();
}

// A private folder that someone else made first (or a shared one) is not used at all.
TEST_F(EntryPointTest, NoPrivateFolderMeansTheLockIsRefused) {
  std::filesystem::create_directory(lockFile().parent_path());
  std::filesystem::permissions(lockFile().parent_path(), std::filesystem::perms::all);
  FlockInstanceLock lock;
  auto entry = makeEntry(lock);
  EXPECT_EQ(entry.start(), StartOutcome::lockRefused);
  EXPECT_NE(log_.tail().find("no private directory for the instance lock"), std::string::npos)
      << log_.tail();
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
