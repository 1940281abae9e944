#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

#include "diagnostics/DebugLog.h"
#include "platform/sim/ManualScheduler.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

class DebugLogTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  ManualScheduler scheduler_{WallTime(std::chrono::seconds(1772366405))};
  DebugLog log_{dir_ / "com.kestova.Lumarin", scheduler_.clock()};
};

TEST_F(DebugLogTest, LinesCarryAUtcStampWithWholeSecondsAndTheMessageAsGiven) {
  log_.log("startup: acquired instance lock pid=42");
  scheduler_.advanceBy(1500ms);
  log_.log("two\nlines ");
  EXPECT_EQ(test::readFile(log_.currentFile()),
            "2026-03-01T12:00:05Z startup: acquired instance lock pid=42\n"
            "2026-03-01T12:00:06Z two\nlines \n");
  EXPECT_EQ(DebugLog::directoryFor("/as", ""), "/as/Lumarin");
  EXPECT_EQ(DebugLog::directoryFor("/as", "com.kestova.Lumarin"), "/as/com.kestova.Lumarin");
}

TEST_F(DebugLogTest, RotatesOnlyAboveTheThreshold) {
  const std::string prefix = "2026-03-01T12:00:05Z ";
  // Exactly 524,288 bytes: not rotated, the next line is appended.
  test::writeFile(log_.currentFile(), std::string(DebugLog::kRotationThreshold, 'a'));
  test::writeFile(log_.previousFile(), "old\n");
  log_.log("x");
  EXPECT_EQ(std::filesystem::file_size(log_.currentFile()),
            DebugLog::kRotationThreshold + prefix.size() + 2);
  EXPECT_EQ(test::readFile(log_.previousFile()), "old\n");
  // Now above it: the next line first moves the file over the previous one.
  log_.log("y");
  EXPECT_EQ(test::readFile(log_.currentFile()), prefix + "y\n");
  EXPECT_EQ(std::filesystem::file_size(log_.previousFile()),
            DebugLog::kRotationThreshold + prefix.size() + 2);
}

TEST_F(DebugLogTest, TailJoinsBothFilesAndKeepsTheNewestCharacters) {
  EXPECT_EQ(log_.tail(), "");
  test::writeFile(log_.previousFile(), "older\n");
  EXPECT_EQ(log_.tail(), "older\n");
  test::writeFile(log_.currentFile(), "newer\n");
  EXPECT_EQ(log_.tail(), "older\nnewer\n");

  // Characters, not bytes: 262,144 three-byte characters plus one more in front.
  std::string big = "X";
  for (std::size_t i = 0; i < DebugLog::kTailCharacters; ++i) {
    big += "\xE6\x97\xA5";
  }
  test::writeFile(log_.previousFile(), big.substr(0, 1 + 3 * 1000));
  test::writeFile(log_.currentFile(), big.substr(1 + 3 * 1000));
  const std::string tail = log_.tail();
  EXPECT_EQ(tail.size(), 3 * DebugLog::kTailCharacters);
  EXPECT_EQ(tail.substr(0, 3), "\xE6\x97\xA5");
}

TEST_F(DebugLogTest, UnusableDirectoryIsSwallowed) {
  test::writeFile(dir_ / "file", "not a directory");
  DebugLog broken(dir_ / "file" / "com.kestova.Lumarin", scheduler_.clock());
  broken.log("nothing happens");
  EXPECT_EQ(broken.tail(), "");
  // The directory is created again on every access.
  DebugLog later(dir_ / "a" / "b", scheduler_.clock());
  later.log("made");
  EXPECT_TRUE(std::filesystem::exists(dir_ / "a" / "b" / "tester.log"));
}

TEST_F(DebugLogTest, ConcurrentWritersNeverTearLinesAndRotationDropsOnlyTheOldest) {
  constexpr int kThreads = 8;
  constexpr int kLines = 10000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kLines; ++i) {
        log_.log("test: thread=" + std::to_string(t) + " line=" + std::to_string(i) +
                 " padding=................................");
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  ASSERT_TRUE(std::filesystem::exists(log_.previousFile()));
  const std::string text = test::readFile(log_.previousFile()) + test::readFile(log_.currentFile());
  const std::regex shape(R"(2026-03-01T12:00:05Z test: thread=(\d) line=(\d+) padding=\.{32})");
  std::vector<int> lastSeen(kThreads, -1);
  std::istringstream lines(text);
  std::string line;
  std::size_t count = 0;
  std::string last;
  while (std::getline(lines, line)) {
    last = line;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << "torn line: " << line;
    const int t = std::stoi(m[1]);
    const int i = std::stoi(m[2]);
    // Each thread's surviving lines are consecutive: nothing in the middle was lost.
    if (lastSeen[t] >= 0) {
      ASSERT_EQ(i, lastSeen[t] + 1) << line;
    }
    lastSeen[t] = i;
    ++count;
  }
  // The newest line of all is the last line of whichever thread finished last.
  EXPECT_NE(last.find("line=" + std::to_string(kLines - 1) + " "), std::string::npos) << last;
  EXPECT_GT(text.size(), DebugLog::kRotationThreshold);
  EXPECT_GT(count, 0u);
  EXPECT_EQ(text.back(), '\n');
}

}  // namespace
}  // namespace lumarin
