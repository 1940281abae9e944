// Runs the real program as a user would and checks its exit status and debug log.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "app/SingleInstanceGuard.h"
#include "platform/host/FlockInstanceLock.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

struct Outcome {
  int exitCode = -1;
  std::string standardError;
};

class LumarinProcessTest : public ::testing::Test {
 protected:
  Outcome run(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", QString::fromStdString((dir_ / "data").string()));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((dir_ / "config").string()));
    env.insert("TMPDIR", QString::fromStdString(dir_.path().string()));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir_.path().string()));
    process.setProcessEnvironment(env);
    process.start(LUMARIN_EXECUTABLE, arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    Outcome outcome;
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.standardError = process.readAllStandardError().toStdString();
    return outcome;
  }

  std::string debugLog() const {
    return test::readFile(dir_ / "data" / "com.kestova.Lumarin" / "tester.log");
  }

  test::TempDir dir_;
};

TEST_F(LumarinProcessTest, VirtualRunStartsAndQuitsNormally) {
  const Outcome outcome = run({"--headless", "--virtual-time", "--run-for", "60"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.standardError;
  const std::string log = debugLog();
  EXPECT_NE(log.find(" startup: acquired instance lock pid="), std::string::npos) << log;
  EXPECT_NE(log.find(" version="), std::string::npos);
  EXPECT_NE(log.find(" startup: applicationWillTerminate pid="), std::string::npos) << log;
  // One start line and one stop line; what the scripted user did in between lies between them.
  std::size_t startupLines = 0;
  for (std::size_t at = log.find(" startup: "); at != std::string::npos;
       at = log.find(" startup: ", at + 1)) {
    ++startupLines;
  }
  EXPECT_EQ(startupLines, 2u) << log;
  EXPECT_NE(log.find(" appitem: singleClick com.tinyspeck.slackmacgap ownStatusItem=true"),
            std::string::npos)
      << log;
}

TEST_F(LumarinProcessTest, SecondInstanceOfTheSameUserExitsZeroAtOnce) {
  // This test process plays the running instance by holding the lock.
  FlockInstanceLock running;
  ASSERT_TRUE(running.acquire(dir_ / SingleInstanceGuard::lockFileName(
                                         "com.kestova.Lumarin", static_cast<unsigned>(getuid()))));
  const Outcome outcome = run({"--headless", "--virtual-time", "--run-for", "60"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.standardError;
  const std::string log = debugLog();
  EXPECT_NE(log.find(" startup: duplicate instance rejected pid="), std::string::npos) << log;
  EXPECT_EQ(log.find("acquired instance lock"), std::string::npos) << log;
  EXPECT_EQ(log.find("applicationWillTerminate"), std::string::npos) << log;
}

TEST_F(LumarinProcessTest, BadCommandLinesExitWithStatus2AndUsage) {
  for (const QStringList& args : {QStringList{"--frobnicate"}, QStringList{"--run-for", "x"}}) {
    const Outcome outcome = run(args);
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_NE(outcome.standardError.find("usage: lumarin"), std::string::npos);
  }
  // Nothing ran: no lock taken, no log written.
  EXPECT_FALSE(std::filesystem::exists(dir_ / "data" / "com.kestova.Lumarin" / "tester.log"));
}

TEST_F(LumarinProcessTest, MalformedScenarioIsRefusedWithItsPathAndStatus2) {
  const auto file = dir_ / "broken.json";
  test::writeFile(file, R"({"apps": [{"bundleID": "com.apple.mail", "name": 3}]})");
  const Outcome outcome =
      run({"--headless", "--virtual-time", "--scenario", QString::fromStdString(file.string())});
  EXPECT_EQ(outcome.exitCode, 2);
  EXPECT_NE(outcome.standardError.find(file.string() + ": $.apps[0].name: expected a string"),
            std::string::npos)
      << outcome.standardError;
  const Outcome missing =
      run({"--scenario", QString::fromStdString((dir_ / "none.json").string())});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.standardError.find("cannot be read"), std::string::npos);
}

TEST_F(LumarinProcessTest, HeadlessRunOfAScenarioWritesTheSameReportEveryTime) {
  const auto file = dir_ / "mail.json";
  test::writeFile(file, R"({
    "name": "mail",
    "apps": [{"bundleID": "com.apple.mail", "name": "Mail", "running": true}],
    "dock": [{"app": "com.apple.mail", "badge": "3"}],
    "timeline": [{"at": 10, "do": "setBadge", "app": "com.apple.mail", "label": "4"},
                 {"at": 20, "do": "quit", "app": "com.apple.mail"}]})");
  std::vector<std::string> reports;
  for (int i = 0; i < 2; ++i) {
    const auto report = dir_ / ("report" + std::to_string(i) + ".json");
    const Outcome outcome =
        run({"--scenario", QString::fromStdString(file.string()), "--headless", "--virtual-time",
             "--run-for", "30", "--report", QString::fromStdString(report.string())});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.standardError;
    reports.push_back(test::readFile(report));
  }
  EXPECT_EQ(reports[0], reports[1]);
  EXPECT_NE(reports[0].find("\"scenario\": \"mail\""), std::string::npos) << reports[0];
  EXPECT_NE(reports[0].find("\"duration\": 30.0"), std::string::npos);
  EXPECT_NE(reports[0].find("\"badge\": \"4\""), std::string::npos);
  EXPECT_NE(reports[0].find("\"running\": false"), std::string::npos);
}

}  // namespace
}  // namespace lumarin
