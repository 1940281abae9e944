// Diagnostics against the real web service: the statistics queue survives a thousand kills,
// a real crash of the program reaches the service once at the next launch, and no upload
// carries the account token, the e-mail address or the home directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <set>

#include "base/Json.h"
#include "cloud/ServiceProcess.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

// The bodies the service stored for one kind of report, oldest first.
std::vector<std::string> storedBodies(const std::filesystem::path& db, const std::string& kind) {
  std::vector<std::string> bodies;
  sqlite3* handle = nullptr;
  if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(handle);
    return bodies;
  }
  sqlite3_busy_timeout(handle, 5000);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(handle, "SELECT body FROM reports WHERE kind = ? ORDER BY id", -1,
                         &statement, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(statement, 1, kind.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      bodies.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    }
  }
  sqlite3_finalize(statement);
  sqlite3_close(handle);
  return bodies;
}

// A child with its own environment, its standard output on a pipe.
struct Child {
  pid_t pid = -1;
  FILE* out = nullptr;

  static Child start(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    int fds[2];
    if (::pipe(fds) != 0) {
      return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, STDERR_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
      std::vector<char*> args;
      for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
      }
      args.push_back(nullptr);
      std::vector<char*> envp;
      for (const auto& e : env) {
        envp.push_back(const_cast<char*>(e.c_str()));
      }
      envp.push_back(nullptr);
      ::execve(args[0], args.data(), envp.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    return Child{pid, ::fdopen(fds[0], "r")};
  }
  // The status as waitpid gives it.
  int stop(int signal) {
    ::kill(pid, signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (out != nullptr) {
      std::fclose(out);
    }
    pid = -1;
    return status;
  }
};

// Waits until `done`, woken by changes to files in `directories` (inotify), never by a clock:
// a real program and a real service move only when they write. A minute without any change
// means they are stuck. The readers' shared-memory files of SQLite do not count as changes.
template <typename Predicate>
bool waitForChanges(const std::vector<std::filesystem::path>& directories, Predicate done) {
  const int fd = ::inotify_init1(IN_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  for (const auto& directory : directories) {
    std::filesystem::create_directories(directory);
    ::inotify_add_watch(fd, directory.c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_TO | IN_DELETE);
  }
  bool reached = done();
  while (!reached) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 60'000) <= 0) {
      break;
    }
    alignas(inotify_event) char buffer[4096];
    const ssize_t length = ::read(fd, buffer, sizeof buffer);
    bool changed = false;
    for (ssize_t at = 0; at < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      const std::string name = event->len > 0 ? event->name : "";
      changed = changed || !name.ends_with("-shm");
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    if (changed) {
      reached = done();
    }
  }
  ::close(fd);
  return reached;
}

class DiagnosticsServiceTest : public ::testing::Test {
 protected:
  // A thousand writers from one installation upload far more often than the service's hourly
  // quotas allow, and a refused (429) batch is dropped by design; what is checked here is the
  // queue under kills, so the quotas are opened wide.
  DiagnosticsServiceTest()
      : service(made(dir.path() / "service"),
                {"--uploads-per-install", "1000000", "--uploads-per-address", "1000000",
                 "--upload-bytes-per-install", "100000000000", "--upload-bytes-per-address",
                 "100000000000"}) {}
  static std::filesystem::path made(const std::filesystem::path& path) {
    std::filesystem::create_directories(path);
    return path;
  }

  std::filesystem::path db() const { return dir.path() / "service" / "service.db"; }

  test::TempDir dir;
  test::ServiceProcess service;
};

constexpr int kKills = 1000;

TEST_F(DiagnosticsServiceTest, AThousandKillsWhileRecordingLoseNoAcknowledgedEvent) {
  ASSERT_TRUE(service.running()) << service.startOutput();
  const auto queueDir = dir.path() / "queue";
  const auto queueFile = queueDir / "improve-queue.jsonl";
  std::mt19937 random(20261209);
  std::set<long long> acknowledged;
  for (int kill = 0; kill < kKills; ++kill) {
    // Each writer numbers its events from a range of its own.
    const long long first = static_cast<long long>(kill) * 1'000'000;
    Child writer = Child::start(
        {LUMARIN_IMPROVE_WRITER, queueDir.string(), service.baseURL(), std::to_string(first)},
        {"PATH=/usr/bin:/bin", "QT_QPA_PLATFORM=offscreen"});
    ASSERT_GT(writer.pid, 0);
    const int rounds = 1 + static_cast<int>(random() % 3);
    long long last = -1;
    for (int i = 0; i < rounds && std::fscanf(writer.out, "%lld", &last) == 1; ++i) {
      for (long long seq = first; seq <= last; ++seq) {
        acknowledged.insert(seq);
      }
    }
    // Killed wherever it is by now: in the middle of its next rounds.
    writer.stop(SIGKILL);

    // The queue always reads back: whole records, and at most torn ones that never swallow
    // the next.
    std::ifstream in(queueFile);
    for (std::string line; std::getline(in, line);) {
      ASSERT_EQ(line.find("}{"), std::string::npos) << "kill " << kill << ": " << line;
      if (!json::parse(line).ok()) {
        EXPECT_EQ(line.find("\"n\"", 1), std::string::npos) << "kill " << kill << ": " << line;
      }
    }
  }
  // What was acknowledged is at the service or still queued.
  std::set<long long> found;
  const auto bodies = storedBodies(db(), "improve");
  for (const auto& body : bodies) {
    const json::Json upload = json::parse(body).valueOr(json::Json::object());
    for (const auto& event : upload["events"]) {
      found.insert(event["p"]["seq"].get<long long>());
    }
  }
  std::ifstream in(queueFile);
  for (std::string line; std::getline(in, line);) {
    if (auto record = json::parse(line); record.ok() && record->contains("p")) {
      found.insert((*record)["p"]["seq"].get<long long>());
    }
  }
  std::size_t missing = 0;
  for (long long seq : acknowledged) {
    missing += found.count(seq) == 0 ? 1 : 0;
  }
  EXPECT_GT(acknowledged.size(), 25'000u);
  EXPECT_EQ(missing, 0u) << "of " << acknowledged.size() << " acknowledged; " << bodies.size()
                         << " uploads, " << found.size() << " events found";
}

class CrashedProgramTest : public DiagnosticsServiceTest {
 protected:
  std::vector<std::string> environment() const {
    const auto home = dir.path() / "home";
    std::filesystem::create_directories(dir.path() / "run");
    std::filesystem::permissions(dir.path() / "run", std::filesystem::perms::owner_all);
    return {"PATH=/usr/bin:/bin",
            "HOME=" + home.string(),
            "XDG_DATA_HOME=" + (home / ".local" / "share").string(),
            "XDG_CONFIG_HOME=" + (home / ".config").string(),
            "TMPDIR=" + dir.path().string(),
            "XDG_RUNTIME_DIR=" + (dir.path() / "run").string(),
            "QT_QPA_PLATFORM=offscreen",
            "LUMARIN_SERVICE_URL=" + service.baseURL()};
  }
  std::filesystem::path dataDir() const {
    return dir.path() / "home" / ".local" / "share" / "com.kestova.Lumarin";
  }
  // Started, and launched far enough to have recorded its first statistics event.
  Child launch(int launchNumber) {
    // A world without settings of its own: the program keeps its settings in its file.
    Child child = Child::start({LUMARIN_EXECUTABLE, "--headless", "--scenario", LUMARIN_SCENARIO},
                               environment());
    EXPECT_TRUE(waitForChanges(
        {dataDir()},
        [&] {
          std::ifstream in(dataDir() / "tester.log");
          std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
          std::size_t starts = 0;
          for (auto at = text.find("startup: acquired"); at != std::string::npos;
               at = text.find("startup: acquired", at + 1)) {
            ++starts;
          }
          return starts >= static_cast<std::size_t>(launchNumber) &&
                 std::filesystem::exists(dataDir() / "improve-queue.jsonl");
        }))
        << "launch " << launchNumber;
    return child;
  }
};

TEST_F(CrashedProgramTest, ACrashReachesTheServiceOnceAtTheNextLaunch) {
  ASSERT_TRUE(service.running()) << service.startOutput();
  Child first = launch(1);
  const pid_t crashedPid = first.pid;
  const int status = first.stop(SIGSEGV);
  // It dies of the signal; a sanitizer build reports it and exits instead.
  ASSERT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) ||
              (WIFEXITED(status) && WEXITSTATUS(status) != 0))
      << status;
  const auto record = dataDir() / "Crashes" / ("crash-" + std::to_string(crashedPid) + ".record");
  ASSERT_TRUE(std::filesystem::exists(record));
  EXPECT_TRUE(storedBodies(db(), "crash").empty());

  Child second = launch(2);
  ASSERT_TRUE(
      waitForChanges({db().parent_path()}, [&] { return !storedBodies(db(), "crash").empty(); }));
  second.stop(SIGTERM);
  EXPECT_FALSE(std::filesystem::exists(record));

  // The third launch, a tester's: its log goes up at once, its statistics when it quits.
  const auto defaultsPath =
      dir.path() / "home" / ".config" / "com.kestova.Lumarin" / "defaults.json";
  {
    std::ifstream in(defaultsPath);
    json::Json stored = json::parse(std::string((std::istreambuf_iterator<char>(in)),
                                                std::istreambuf_iterator<char>()))
                            .valueOr(json::Json());
    ASSERT_TRUE(stored.is_object());
    stored["testerModeEnabled"] = true;
    std::ofstream(defaultsPath, std::ios::trunc) << stored.dump();
  }
  Child third = launch(3);
  ASSERT_TRUE(
      waitForChanges({db().parent_path()}, [&] { return !storedBodies(db(), "testlog").empty(); }));
  third.stop(SIGTERM);
  const auto bodies = storedBodies(db(), "crash");
  ASSERT_EQ(bodies.size(), 1u);
  auto report = json::parse(bodies[0]);
  ASSERT_TRUE(report.ok()) << bodies[0];
  std::ifstream defaultsFile(defaultsPath);
  auto defaults = json::parse(std::string((std::istreambuf_iterator<char>(defaultsFile)),
                                          std::istreambuf_iterator<char>()));
  ASSERT_TRUE(defaults.ok()) << defaults.error().message;
  struct utsname machine {};
  ::uname(&machine);
  EXPECT_EQ((*report)["type"], "crash");
  EXPECT_EQ((*report)["app"], "lumarin");
  EXPECT_EQ((*report)["installID"], (*defaults)["crashInstallID"]);
  EXPECT_EQ((*report)["signal"], SIGSEGV);
  EXPECT_EQ((*report)["arch"], machine.machine);
  EXPECT_FALSE((*report)["osVersion"].get<std::string>().empty());
  EXPECT_FALSE((*report)["appVersion"].get<std::string>().empty());
  EXPECT_NE((*report)["terminationReason"].get<std::string>().find("sent by process " +
                                                                   std::to_string(::getpid())),
            std::string::npos);
  // A call-stack tree nests two levels per frame, deeper than the cap of documents we read.
  auto stack = json::parse((*report)["callStack"].get<std::string>(), 512);
  ASSERT_TRUE(stack.ok());
  EXPECT_FALSE((*stack)["callStacks"][0]["callStackRootFrames"].empty());
  // Nothing that went up names the user's home directory.
  EXPECT_FALSE(storedBodies(db(), "improve").empty());
  for (const char* kind : {"crash", "improve", "testlog"}) {
    for (const auto& body : storedBodies(db(), kind)) {
      EXPECT_EQ(body.find(dir.path().string()), std::string::npos) << kind << ": " << body;
    }
  }
}

}  // namespace
}  // namespace lumarin
