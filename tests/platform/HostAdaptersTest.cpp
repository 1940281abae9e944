#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "platform/host/FlockInstanceLock.h"
#include "platform/host/HostBundle.h"
#include "platform/host/HostPaths.h"
#include "platform/host/TerminationSignals.h"
#include "platform/host/XdgLoginItems.h"
#include "platform/sim/SimProcessInfo.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

TEST(HostPathsTest, XdgVariablesWinAndRelativeOnesAreIgnored) {
  SimProcessInfo process;
  process.env = {{"HOME", "/home/ana"}};
  HostPaths paths(process);
  EXPECT_EQ(paths.applicationSupportDirectory(), "/home/ana/.local/share");
  EXPECT_EQ(paths.temporaryDirectory(), "/tmp");
  EXPECT_EQ(paths.configurationDirectory(), "/home/ana/.config");

  process.env["XDG_DATA_HOME"] = "/data";
  process.env["XDG_CONFIG_HOME"] = "relative/config";
  process.env["TMPDIR"] = "/run/user/501/tmp";
  EXPECT_EQ(paths.applicationSupportDirectory(), "/data");
  EXPECT_EQ(paths.configurationDirectory(), "/home/ana/.config");
  EXPECT_EQ(paths.temporaryDirectory(), "/run/user/501/tmp");
}

TEST(FlockInstanceLockTest, SecondHolderIsRefusedAndTheFileIsPrivate) {
  test::TempDir dir;
  const auto file = dir / "com.kestova.Lumarin.501.instance.lock";
  FlockInstanceLock first;
  FlockInstanceLock second;
  ASSERT_EQ(first.acquire(file).valueOr(false), true);
  EXPECT_EQ(first.acquire(file).valueOr(false), true);  // held already
  auto taken = second.acquire(file);
  ASSERT_TRUE(taken.ok());
  EXPECT_FALSE(*taken);
  EXPECT_EQ(second.descriptor(), -1);
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  auto missing = FlockInstanceLock().acquire(dir / "missing" / "x.lock");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().message, "the lock file cannot be opened: No such file or directory");
}

// A file someone else put where the lock goes is never used as the lock, and nothing is
// created or locked through it.
TEST(FlockInstanceLockTest, PlantedFilesAreRefusedWithTheirReason) {
  test::TempDir dir;
  const auto target = dir / "target";
  const auto link = dir / "linked.lock";
  std::filesystem::create_symlink(target, link);
  auto linked = FlockInstanceLock().acquire(link);
  ASSERT_FALSE(linked.ok());
  EXPECT_EQ(linked.error().message, "the lock file is a symbolic link");
  EXPECT_FALSE(std::filesystem::exists(target));

  test::writeFile(dir / "original", "");
  std::filesystem::create_hard_link(dir / "original", dir / "hard.lock");
  auto hard = FlockInstanceLock().acquire(dir / "hard.lock");
  ASSERT_FALSE(hard.ok());
  EXPECT_EQ(hard.error().message, "the lock file has other names (hard links)");

  std::filesystem::create_directory(dir / "dir.lock");
  EXPECT_FALSE(FlockInstanceLock().acquire(dir / "dir.lock").ok());

  if (::geteuid() == 0) {  // only root can give a file away
    test::writeFile(dir / "foreign.lock", "");
    ASSERT_EQ(::chown((dir / "foreign.lock").c_str(), 4242, 4242), 0);
    auto foreign = FlockInstanceLock().acquire(dir / "foreign.lock");
    ASSERT_FALSE(foreign.ok());
    EXPECT_EQ(foreign.error().message, "the lock file belongs to another user");
  }
}

TEST(HostBundleTest, IdentityAndBuildInfoKeys) {
  HostBundle bundle;
  EXPECT_EQ(bundle.bundleIdentifier(), "com.kestova.Lumarin");
  EXPECT_TRUE(bundle.infoString("CFBundleShortVersionString"));
  EXPECT_TRUE(bundle.infoString("CFBundleVersion"));
  EXPECT_FALSE(bundle.infoString("NoSuchKey"));
  EXPECT_EQ(bundle.bundlePath(), bundle.executablePath().parent_path());
}

TEST(XdgLoginItemsTest, RegisteringWritesAQuotedAutostartEntryAndUnregisteringRemovesIt) {
  test::TempDir dir;
  XdgLoginItems items(dir / "autostart", "/opt/My Apps/lumarin$1");
  EXPECT_FALSE(items.isRegistered());
  ASSERT_TRUE(items.registerMainApp());
  EXPECT_TRUE(items.isRegistered());
  const std::string entry = test::readFile(items.entryFile());
  EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(entry.find("Exec=\"/opt/My Apps/lumarin\\$1\"\n"), std::string::npos) << entry;
  EXPECT_TRUE(items.unregisterMainApp());
  EXPECT_FALSE(items.isRegistered());
  EXPECT_TRUE(items.unregisterMainApp());  // nothing to remove is fine
  // Desktop mode starts desktop mode at login.
  XdgLoginItems desktop(dir / "autostart", "/usr/bin/lumarin", {"--desktop"});
  ASSERT_TRUE(desktop.registerMainApp());
  EXPECT_NE(test::readFile(desktop.entryFile()).find("Exec=\"/usr/bin/lumarin\" --desktop\n"),
            std::string::npos)
      << test::readFile(desktop.entryFile());
  // A directory that cannot be created is a failure with a description.
  test::writeFile(dir / "file", "x");
  XdgLoginItems broken(dir / "file" / "autostart", "/bin/true");
  const Status status = broken.registerMainApp();
  ASSERT_FALSE(status);
  EXPECT_FALSE(status.error().message.empty());
}

TEST(TerminationSignalsTest, SigtermBecomesOneCallback) {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<int> received;
  {
    TerminationSignals signals([&](int signal) {
      std::lock_guard lock(mutex);
      received.push_back(signal);
      cv.notify_all();
    });
    ::raise(SIGTERM);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return !received.empty(); }))
        << "no termination signal arrived";
  }
  EXPECT_EQ(received, (std::vector<int>{SIGTERM}));
}

// A second signal while the first one's quit is under way ends the process at once, by that
// signal, without a second callback.
TEST(TerminationSignalsDeathTest, ASecondSignalWhileQuittingEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::mutex mutex;
        std::condition_variable cv;
        int calls = 0;
        TerminationSignals signals([&](int) {
          std::lock_guard lock(mutex);
          ++calls;
          cv.notify_all();
        });
        ::raise(SIGTERM);
        std::unique_lock lock(mutex);
        if (!cv.wait_for(lock, std::chrono::seconds(20), [&] { return calls == 1; })) {
          std::_Exit(3);
        }
        lock.unlock();
        ::raise(SIGINT);
        // The watcher ends the process; a second callback or none would show as these.
        lock.lock();
        cv.wait_for(lock, std::chrono::seconds(20), [&] { return calls > 1; });
        std::_Exit(calls > 1 ? 4 : 5);
      },
      ::testing::KilledBySignal(SIGINT), "");
}

}  // namespace
}  // namespace lumarin
