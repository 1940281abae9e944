// Crash reports: what one holds, consent, and this machine's crash catcher turning a real
// crash of a child process into a diagnostic for the next launch.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

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
  auto tree = json::parse(d.callStackTree);
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
  auto tree = json::parse(sent->callStackTree);
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

}  // namespace
}  // namespace lumarin
