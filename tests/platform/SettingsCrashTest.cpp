// Settings survive a crash: a process writing its settings many times a second is killed with
// SIGKILL, a thousand times, at varying points of its writing. The file must always read back
// whole, as one of the batches written, never older than the last batch the process reported
// done, and never be moved aside; temporary files of killed writers must not pile up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>

#include "base/Json.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

constexpr int kKills = 1000;
constexpr int kKeys = 40;

struct Writer {
  pid_t pid = -1;
  FILE* out = nullptr;
};

Writer startWriter(const std::filesystem::path& file) {
  int fds[2];
  if (::pipe(fds) != 0) {
    return {};
  }
  const std::string path = file.string();
  const std::string keys = std::to_string(kKeys);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[0]);
    ::close(fds[1]);
    ::execl(LUMARIN_SETTINGS_WRITER, LUMARIN_SETTINGS_WRITER, path.c_str(), keys.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  return Writer{pid, ::fdopen(fds[0], "r")};
}

TEST(SettingsCrashTest, AThousandKillsWhileWritingNeverTearOrLoseTheFile) {
  test::TempDir dir;
  const auto file = dir.path() / "defaults.json";
  std::mt19937 random(20261209);
  long long acknowledged = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    Writer writer = startWriter(file);
    ASSERT_GT(writer.pid, 0);
    ASSERT_NE(writer.out, nullptr);
    // Let it finish a few batches, then kill it in the middle of the next ones.
    const int batches = 1 + static_cast<int>(random() % 4);
    long long round = 0;
    for (int i = 0; i < batches && std::fscanf(writer.out, "%lld", &round) == 1; ++i) {
      acknowledged = round;
    }
    ::kill(writer.pid, SIGKILL);
    ::waitpid(writer.pid, nullptr, 0);
    std::fclose(writer.out);
    // The next start comes "later": what the killed writer left is over a minute old then.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      if (entry.path().filename().string().find(".tmp-") != std::string::npos) {
        std::filesystem::last_write_time(
            entry.path(), std::filesystem::file_time_type::clock::now() - std::chrono::minutes(2));
      }
    }

    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    auto parsed = json::parse(text.str());
    ASSERT_TRUE(parsed && parsed->is_object()) << "kill " << kill << ": " << text.str();
    const auto stored = parsed->value("round", std::int64_t{-1});
    ASSERT_GE(stored, acknowledged) << "kill " << kill << ": a reported write was lost";
    for (int k = 0; k < kKeys; ++k) {
      ASSERT_EQ(parsed->value("key" + std::to_string(k), std::int64_t{-1}), stored)
          << "kill " << kill << ": the file mixes two batches";
    }
    acknowledged = stored;
  }
  // Nothing was moved aside, and at most the last killed writer's temporary file is left.
  int temporaries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(name.find("unreadable"), std::string::npos) << name;
    temporaries += name.find(".tmp-") != std::string::npos ? 1 : 0;
  }
  EXPECT_LE(temporaries, 1);
}

}  // namespace
}  // namespace lumarin
