// Crash reports: what one holds, consent, and this machine's crash catcher turning a real
// crash of a child process into a diagnostic for the next launch.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "base/Json.h"
#include "diagnostics/CrashConfig.h"
#include "diagnostics/CrashReporter.h"
#include "platform/host/CrashCatcher.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimBundle.h"
#include "platform/sim/SimHttpClient.h"
#include "platform/sim/SimUserDefaults.h"
#include "support/TempDir.h"

// Exported and kept out of line, so the crash's call stack names it.
extern "C" __attribute__((noinline)) void lumarinTestCrashHere(volatile int* where) { *where = 42; }
// An address nothing maps, read through volatile so the compiler cannot see it (not null:
// the sanitizer build would stop a null store before it faults).
volatile int* volatile lumarinTestNowhere = reinterpret_cast<volatile int*>(std::uintptr_t{16});

namespace lumarin {
namespace {

class CrashReporterTest : public ::testing::Test {
 protected:
  CrashReporter makeReporter() {
    return CrashReporter(CrashReporter::Dependencies{[this] { return enabled; }, defaults, http,
                                                     scheduler.mainQueue(), bundle,
                                                     "https://svc.test/", "/home/ann"});
  }
  static CrashDiagnostic crash(std::int64_t signal) {
    CrashDiagnostic d;
    d.osVersion = "macOS 15.2 (24C101)";
    d.platformArchitecture = "arm64";
    d.callStackTree = R"({"callStacks":[]})";
    d.signal = signal;
    return d;
  }

  bool enabled = true;
  ManualScheduler scheduler;
  SimUserDefaults defaults;
  SimHttpClient http;
  SimBundle bundle;
};

TEST_F(CrashReporterTest, ConsentDecidesAndEachCrashIsOneReportInOrder) {
  CrashReporter reporter = makeReporter();
  const std::vector<DiagnosticPayload> payloads{DiagnosticPayload{{crash(11), crash(6)}, 1, 0, 0},
                                                DiagnosticPayload{{}, 2, 1, 0}};
  enabled = false;
  reporter.didReceive(payloads);
  EXPECT_TRUE(http.requests().empty());
  enabled = true;
  reporter.didReceive(payloads);
  const auto sent = http.requests("POST", "api/crash");
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ((*json::parse(sent[0].body))["signal"], 11);
  EXPECT_EQ((*json::parse(sent[1].body))["signal"], 6);
  EXPECT_EQ(sent[0].url, "https://svc.test/api/crash");
  EXPECT_EQ(sent[0].timeout, seconds(60));
  for (const auto& [name, value] : sent[0].headers) {
    EXPECT_NE(name, "Authorization");
  }
}

TEST_F(CrashReporterTest, TheReportHoldsTheFixedMembersAndOnlyWhatTheCrashCarries) {
  CrashReporter reporter = makeReporter();
  CrashDiagnostic bare = crash(11);
  bare.signal.reset();
  bundle.info.erase("CFBundleShortVersionString");
  bundle.info.erase("CFBundleVersion");
  auto report = json::parse(reporter.report(bare));
  ASSERT_TRUE(report.ok());
  EXPECT_EQ(report->size(), 8u) << report->dump();
  EXPECT_EQ((*report)["type"], "crash");
  EXPECT_EQ((*report)["app"], "lumarin");
  EXPECT_EQ((*report)["appVersion"], "?");
  EXPECT_EQ((*report)["build"], "?");
  EXPECT_EQ((*report)["osVersion"], "macOS 15.2 (24C101)");
  EXPECT_EQ((*report)["arch"], "arm64");
  EXPECT_EQ((*report)["callStack"], R"({"callStacks":[]})");

  CrashDiagnostic full = crash(6);
  full.exceptionType = 10;
  full.exceptionCode = 0;
  full.terminationReason = "Namespace SIGNAL, Code 6";
  full.callStackTree = "\xff\xfe not text /home/ann";
  report = json::parse(reporter.report(full));
  EXPECT_EQ(report->size(), 12u);
  EXPECT_EQ((*report)["exceptionType"], 10);
  EXPECT_EQ((*report)["exceptionCode"], 0);
  EXPECT_EQ((*report)["terminationReason"], "Namespace SIGNAL, Code 6");
  // A call stack that is not UTF-8 is sent empty, the report still goes.
  EXPECT_EQ((*report)["callStack"], "");
}

TEST_F(CrashReporterTest, OneInstallationHasOneIdentifier) {
  EXPECT_FALSE(defaults.contains("crashInstallID"));
  const std::string id = CrashConfig::installID(defaults);
  ASSERT_EQ(id.size(), 36u);
  EXPECT_EQ(id, *defaults.string("crashInstallID"));
  for (char c : id) {
    EXPECT_TRUE(c == '-' || std::isdigit(static_cast<unsigned char>(c)) || std::isupper(c)) << id;
  }
  EXPECT_EQ(CrashConfig::installID(defaults), id);
  CrashReporter reporter = makeReporter();
  EXPECT_EQ((*json::parse(reporter.report(crash(11))))["installID"], id);
}

TEST(HomeDirectoryTest, OnlyWholeComponentsOfTheHomeDirectoryAreHidden) {
  EXPECT_EQ(withoutHomeDirectory("/home/ann/x /home/anna/y /home/ann", "/home/ann/"),
            "~/x /home/anna/y ~");
  EXPECT_EQ(withoutHomeDirectory("path=/home/ann:/home/ann\n", "/home/ann"), "path=~:~\n");
  EXPECT_EQ(withoutHomeDirectory("/x", "/"), "/x");
}

// A child installs the catcher and really crashes; the record it leaves is read back as the
// system would deliver it at the next launch, once.
TEST(CrashCatcherTest, ARealCrashBecomesOneDiagnosticAtTheNextLaunch) {
  test::TempDir dir;
  const auto crashes = dir.path() / "Crashes";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CrashCatcher catcher(crashes, "Debian GNU/Linux 12", "x86_64");
    catcher.install();
    lumarinTestCrashHere(lumarinTestNowhere);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  // Our handler hands the signal on: the default action, or a sanitizer's report.
  EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) ||
              (WIFEXITED(status) && WEXITSTATUS(status) != 0))
      << status;

  CrashCatcher next(crashes, "unused", "unused");
  std::vector<DiagnosticPayload> delivered;
  next.addSubscriber([&delivered](const std::vector<DiagnosticPayload>& p) {
    delivered.insert(delivered.end(), p.begin(), p.end());
  });
  ASSERT_EQ(delivered.size(), 1u);
  ASSERT_EQ(delivered[0].crashDiagnostics.size(), 1u);
  const CrashDiagnostic& d = delivered[0].crashDiagnostics[0];
  EXPECT_EQ(d.signal, SIGSEGV);
  EXPECT_EQ(d.exceptionType, 1);  // a bad access
  EXPECT_EQ(d.exceptionCode, 1);  // at an address that maps nothing
  EXPECT_FALSE(d.terminationReason);
  EXPECT_EQ(d.osVersion, "Debian GNU/Linux 12");
  EXPECT_EQ(d.platformArchitecture, "x86_64");
  // Two levels per frame: deeper than the settings and answers may nest.
  auto tree = json::parse(d.callStackTree, 512);
  ASSERT_TRUE(tree.ok()) << d.callStackTree;
  const auto& stack = (*tree)["callStacks"][0];
  EXPECT_TRUE(stack["threadAttributed"].get<bool>());
  EXPECT_NE(d.callStackTree.find("lumarinTestCrashHere"), std::string::npos) << d.callStackTree;
  EXPECT_EQ(d.callStackTree.find(dir.path().string()), std::string::npos);

  // Delivered once.
  std::vector<DiagnosticPayload> again;
  CrashCatcher(crashes, "", "").addSubscriber([&again](const std::vector<DiagnosticPayload>& p) {
    again = p;
  });
  EXPECT_TRUE(again.empty());
}

TEST(CrashCatcherTest, RecordsAreReadBackOrRefused) {
  const auto sent = CrashCatcher::parseRecord(
      "lumarin-crash 1\nsignal 15\ncode 0\nsender 77\nos Linux\narch x86_64\nframes\n"
      "/usr/bin/lumarin(_ZN7lumarin3fooEv+0x1a) [0x55d0aa]\n"
      "/lib/x86_64-linux-gnu/libc.so.6(+0x3bfd0) [0x7f0011]\n[0x1234]\n");
  ASSERT_TRUE(sent.has_value());
  EXPECT_EQ(sent->signal, 15);
  EXPECT_FALSE(sent->exceptionType);
  EXPECT_EQ(sent->terminationReason, "Namespace SIGNAL, Code 15 Terminated, sent by process 77");
  auto tree = json::parse(sent->callStackTree, 512);
  ASSERT_TRUE(tree.ok());
  const auto& top = (*tree)["callStacks"][0]["callStackRootFrames"][0];
  EXPECT_EQ(top["binaryName"], "lumarin");
  EXPECT_EQ(top["symbol"], "lumarin::foo() + 0x1a");
  EXPECT_EQ(top["address"], 0x55d0aa);
  const auto& caller = top["subFrames"][0];
  EXPECT_EQ(caller["binaryName"], "libc.so.6");
  EXPECT_EQ(caller["offsetIntoBinaryTextSegment"], 0x3bfd0);
  EXPECT_EQ(caller["subFrames"][0]["address"], 0x1234);

  // Cut short while it was written: still a crash, with what got there.
  const auto cut = CrashCatcher::parseRecord("lumarin-crash 1\nsignal 6\ncode -6\nos Li");
  ASSERT_TRUE(cut.has_value());
  EXPECT_EQ(cut->exceptionType, 10);
  EXPECT_FALSE(CrashCatcher::parseRecord(""));
  EXPECT_FALSE(CrashCatcher::parseRecord("lumarin-crash 1\ncode 1\n"));
  EXPECT_FALSE(CrashCatcher::parseRecord("something else\nsignal 11\n"));
}

std::string recordWithFrames(std::size_t frames) {
  std::string text = "lumarin-crash 1\nsignal 11\ncode 1\nframes\n";
  for (std::size_t i = 0; i < frames; ++i) {
    text += "/usr/bin/lumarin(_ZN7lumarin3fooEv+0x1a) [0x55d0aa]\n";
  }
  return text;
}

// Records the handler cannot have written are refused at once, however they grow: reading
// them used to take time with the square of their frames, at every launch.
TEST(CrashCatcherTest, RecordsBeyondWhatTheHandlerWritesAreRefused) {
  const auto full = CrashCatcher::parseRecord(recordWithFrames(127));
  ASSERT_TRUE(full.has_value());
  auto tree = json::parse(full->callStackTree, 512);
  ASSERT_TRUE(tree.ok());
  const json::Json* frame = &(*tree)["callStacks"][0]["callStackRootFrames"][0];
  int depth = 1;
  while (frame->contains("subFrames")) {
    frame = &(*frame)["subFrames"][0];
    ++depth;
  }
  EXPECT_EQ(depth, 127);
  EXPECT_FALSE(CrashCatcher::parseRecord(recordWithFrames(129)));
  EXPECT_FALSE(CrashCatcher::parseRecord(recordWithFrames(200000)));
  EXPECT_FALSE(CrashCatcher::parseRecord("lumarin-crash 1\nsignal 11\nos " +
                                         std::string(100000, 'x') + "\n"));
  // A symbol no compiler makes is kept as written, not fed to the demangler.
  const auto odd = CrashCatcher::parseRecord("lumarin-crash 1\nsignal 11\nframes\nx(_Z" +
                                             std::string(2000, 'P') + "v+0x1) [0x1]\n");
  ASSERT_TRUE(odd.has_value());
  EXPECT_NE(odd->callStackTree.find("_ZPPPP"), std::string::npos);
}

// At a launch, a record that cannot be read back is set aside under another name and named in
// the log; the good ones are delivered and removed. Links are never followed.
TEST(CrashCatcherTest, UnreadableRecordsAreSetAsideAndLinksNotFollowed) {
  test::TempDir dir;
  const auto crashes = dir.path() / "Crashes";
  std::filesystem::create_directories(crashes);
  test::writeFile(crashes / "crash-1.record", recordWithFrames(3));
  test::writeFile(crashes / "crash-2.record", recordWithFrames(200000));
  test::writeFile(crashes / "crash-3.record", "not a record\n");
  test::writeFile(dir / "elsewhere", recordWithFrames(2));
  std::filesystem::create_symlink(dir / "elsewhere", crashes / "crash-4.record");

  CrashCatcher catcher(crashes, "", "");
  std::vector<std::string> log;
  catcher.setLog([&log](const std::string& line) { log.push_back(line); });
  std::vector<DiagnosticPayload> delivered;
  catcher.addSubscriber([&delivered](const std::vector<DiagnosticPayload>& p) {
    delivered.insert(delivered.end(), p.begin(), p.end());
  });
  ASSERT_EQ(delivered.size(), 1u);
  std::sort(log.begin(), log.end());
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0],
            "crash reports: the crash record crash-2.record is larger than 1024 KB; it was kept "
            "as crash-2.unreadable");
  EXPECT_EQ(log[1],
            "crash reports: the crash record crash-3.record is not a crash record; it was kept "
            "as crash-3.unreadable");
  EXPECT_EQ(log[2],
            "crash reports: the crash record crash-4.record is a symbolic link; it was kept as "
            "crash-4.unreadable");
  EXPECT_FALSE(std::filesystem::exists(crashes / "crash-1.record"));
  EXPECT_TRUE(std::filesystem::exists(crashes / "crash-2.unreadable"));
  EXPECT_TRUE(std::filesystem::is_symlink(crashes / "crash-4.unreadable"));
  EXPECT_EQ(test::readFile(dir / "elsewhere"), recordWithFrames(2));

  // Nothing is read twice.
  std::size_t again = 0;
  log.clear();
  CrashCatcher(crashes, "", "").addSubscriber([&again](const std::vector<DiagnosticPayload>& p) {
    again += p.size();
  });
  EXPECT_EQ(again, 0u);
}

}  // namespace
}  // namespace lumarin
