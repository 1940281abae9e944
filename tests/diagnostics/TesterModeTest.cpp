// Tester mode on virtual time: the hidden gesture, the switch and its exports, and what one
// export holds.
#include <gtest/gtest.h>

#include "base/Json.h"
#include "diagnostics/CrashConfig.h"
#include "diagnostics/DebugLog.h"
#include "diagnostics/TesterMode.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimBundle.h"
#include "platform/sim/SimHttpClient.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimSystemLog.h"
#include "platform/sim/SimUserDefaults.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

using std::chrono::milliseconds;

class TesterModeTest : public ::testing::Test {
 protected:
  TesterModeTest() : debugLog(dir.path(), scheduler.clock()) {
    systemLog.setClock(&scheduler.clock());
  }

  std::shared_ptr<TesterMode> make() {
    return std::make_shared<TesterMode>(TesterMode::Dependencies{
        defaults, scheduler, debugLog, systemLog, http, bundle, process, "https://svc.test/",
        dir.path().string(), [] {
          return std::vector<std::string>{"tok-SECRET-123", "ann@example.com", ""};
        }});
  }
  std::vector<json::Json> uploads() const {
    std::vector<json::Json> out;
    for (const auto& request : http.requests("POST", "api/testlog")) {
      out.push_back(json::parse(request.body).valueOr(json::Json()));
    }
    return out;
  }

  test::TempDir dir;
  ManualScheduler scheduler;
  SimUserDefaults defaults;
  DebugLog debugLog;
  SimSystemLog systemLog;
  SimHttpClient http;
  SimBundle bundle;
  SimProcessInfo process;
};

TEST(TesterTapCounterTest, EightQuickTapsSwitchAndAPauseStartsTheCountAgain) {
  TesterTapCounter counter;
  auto t = std::chrono::system_clock::time_point(std::chrono::seconds(1'000'000));
  for (int i = 1; i <= 7; ++i) {
    EXPECT_FALSE(counter.tap(t)) << i;
    t += milliseconds(1900);
  }
  EXPECT_TRUE(counter.tap(t));
  EXPECT_EQ(counter.clicks(), 0);
  // Seven more, then a pause over two seconds: that tap is the first of a new run.
  for (int i = 1; i <= 7; ++i) {
    t += milliseconds(100);
    EXPECT_FALSE(counter.tap(t));
  }
  t += milliseconds(2001);
  EXPECT_FALSE(counter.tap(t));
  EXPECT_EQ(counter.clicks(), 1);
  for (int i = 2; i <= 7; ++i) {
    t += milliseconds(100);
    EXPECT_FALSE(counter.tap(t));
  }
  t += milliseconds(100);
  EXPECT_TRUE(counter.tap(t));
}

TEST_F(TesterModeTest, SwitchingOnExportsAtOnceAndEveryHalfHourAndOffOnceMore) {
  auto tester = make();
  tester->start();
  scheduler.runUntilIdle();
  EXPECT_TRUE(uploads().empty());  // off: nothing at launch

  tester->toggle();
  scheduler.runUntilIdle();
  EXPECT_TRUE(tester->enabled().get());
  EXPECT_EQ(defaults.boolean("testerModeEnabled"), true);
  ASSERT_EQ(uploads().size(), 1u);
  scheduler.advanceBy(seconds(1799));
  EXPECT_EQ(uploads().size(), 1u);
  scheduler.advanceBy(seconds(1));
  EXPECT_EQ(uploads().size(), 2u);
  EXPECT_EQ(defaults.date("testerLastExport")->secondsSince1970,
            std::chrono::duration<double>(scheduler.clock().wallNow().time_since_epoch()).count());

  tester->toggle();
  scheduler.runUntilIdle();
  ASSERT_EQ(uploads().size(), 3u);
  const std::string log = uploads()[2]["log"];
  const std::string appLog = log.substr(0, log.find("\n\n== unified log"));
  EXPECT_TRUE(appLog.ends_with(" tester: mode OFF\n")) << appLog;
  scheduler.advanceBy(seconds(3600));
  EXPECT_EQ(uploads().size(), 3u);
}

TEST_F(TesterModeTest, AnExportHoldsBothLogsForItsWindowAndNothingOfTheHome) {
  defaults.set("testerModeEnabled", true);
  bundle.info.erase("CFBundleShortVersionString");
  bundle.info.erase("CFBundleVersion");
  systemLog.log("before the window");
  scheduler.advanceBy(seconds(3600));
  // The first run's window: the last 30 minutes.
  scheduler.advanceBy(seconds(1));
  systemLog.log("inside the window " + dir.path().string() + "/x");
  debugLog.log("startup: path=" + dir.path().string() + "/bin");
  debugLog.log("cloud: a careless line with tok-SECRET-123 and ann@example.com");
  scheduler.advanceBy(seconds(1));
  auto tester = make();
  tester->start();
  scheduler.runUntilIdle();
  ASSERT_EQ(uploads().size(), 1u);
  const json::Json body = uploads()[0];
  EXPECT_EQ(body.size(), 7u);
  EXPECT_EQ(body["type"], "testlog");
  EXPECT_EQ(body["app"], "lumarin");
  EXPECT_EQ(body["installID"], CrashConfig::installID(defaults));
  EXPECT_EQ(body["appVersion"], "dev");
  EXPECT_EQ(body["build"], "0");
  EXPECT_EQ(body["osVersion"], process.osVersion);
  const std::string log = body["log"];
  EXPECT_TRUE(log.starts_with("== app log (DebugLog) ==\n")) << log;
  EXPECT_NE(log.find(" tester: session start (vdev build 0)"), std::string::npos) << log;
  EXPECT_NE(log.find("\n\n== unified log (own process, since 2026-03-01 12:30:02 +0000) ==\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("2026-03-01T13:00:01Z [default] inside the window ~/x"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("before the window"), std::string::npos);
  EXPECT_EQ(log.find(dir.path().string()), std::string::npos);
  EXPECT_EQ(log.find("tok-SECRET-123"), std::string::npos);
  EXPECT_EQ(log.find("ann@example.com"), std::string::npos);
  EXPECT_NE(log.find("careless line with <private> and <private>"), std::string::npos);
  EXPECT_EQ(http.requests()[0].url, "https://svc.test/api/testlog");

  // The next export starts where this one ended, also after a restart.
  systemLog.log("after the first export");
  scheduler.advanceBy(seconds(10));
  auto restarted = make();
  restarted->start();
  scheduler.runUntilIdle();
  ASSERT_EQ(uploads().size(), 2u);
  const std::string second = uploads()[1]["log"];
  EXPECT_NE(second.find("after the first export"), std::string::npos);
  EXPECT_EQ(second.find("inside the window"), std::string::npos);
}

TEST_F(TesterModeTest, TheSystemLogAndTheTextAreBounded) {
  auto tester = make();
  const auto since = scheduler.clock().wallNow();
  for (int i = 0; i < 4100; ++i) {
    systemLog.log("entry " + std::to_string(i));
  }
  const std::string lines = tester->exportSystemLog(since);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3999);
  EXPECT_NE(lines.find("] entry 0\n"), std::string::npos);
  EXPECT_TRUE(lines.ends_with("] entry 3999"));

  // Over 700,000 bytes: cut from the front, at a character boundary.
  std::string tail;
  while (tail.size() < 800'000) {
    tail += "\xE6\x97\xA5 line of the debug log\n";
  }
  const std::string text = tester->composeText(tail, since);
  EXPECT_LE(text.size(), TesterMode::kMaxUploadBytes);
  EXPECT_GT(text.size(), TesterMode::kMaxUploadBytes - 4);
  EXPECT_FALSE(text.starts_with("== app log"));
  EXPECT_NE(static_cast<unsigned char>(text[0]) & 0xC0, 0x80);
}

}  // namespace
}  // namespace lumarin
