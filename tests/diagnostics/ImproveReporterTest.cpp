// The statistics queue on virtual time: batching, the flush triggers, what an answer does to
// the file, consent, and what an upload holds.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

#include "base/Json.h"
#include "diagnostics/CrashConfig.h"
#include "diagnostics/ImproveReporter.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimBundle.h"
#include "platform/sim/SimHttpClient.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimUserDefaults.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

class ImproveReporterTest : public ::testing::Test {
 protected:
  ImproveReporterTest() {
    process.env["LANG"] = "de_CH.UTF-8";
    reporter = std::make_shared<ImproveReporter>(ImproveReporter::Dependencies{
        scheduler, defaults, http, bundle, process, dir.path() / "app", "https://svc.test/"});
  }

  std::vector<std::string> fileLines() const {
    std::ifstream in(reporter->fileURL());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      lines.push_back(line);
    }
    return lines;
  }
  void recordMany(int count, int first = 0) {
    for (int i = first; i < first + count; ++i) {
      reporter->record("test.event", {{"seq", std::int64_t{i}}});
    }
    scheduler.runUntilIdle();
  }
  std::vector<std::int64_t> seqsOf(const HttpRequest& request) const {
    std::vector<std::int64_t> out;
    auto body = json::parse(request.body);
    for (const auto& event : (*body)["events"]) {
      out.push_back(event["p"]["seq"].get<std::int64_t>());
    }
    return out;
  }
  std::vector<HttpRequest> uploads() const { return http.requests("POST", "api/improve"); }
  // Answers the oldest waiting upload and lets the answer land.
  void answer(int status) {
    ASSERT_TRUE(http.answerNext(HttpResponse{status, "{}"}));
    scheduler.runUntilIdle();
  }

  test::TempDir dir;
  ManualScheduler scheduler;
  SimUserDefaults defaults;
  SimHttpClient http;
  SimBundle bundle;
  SimProcessInfo process;
  std::shared_ptr<ImproveReporter> reporter;
};

TEST_F(ImproveReporterTest, TheTwoHundredthLineFlushesAtOnceAndFewerWaitForTheTimer) {
  reporter->start();
  recordMany(199);
  EXPECT_TRUE(uploads().empty());
  EXPECT_EQ(fileLines().size(), 199u);
  recordMany(1, 199);
  ASSERT_EQ(uploads().size(), 1u);
  EXPECT_EQ(seqsOf(uploads()[0]).size(), 200u);
  answer(200);
  EXPECT_FALSE(std::filesystem::exists(reporter->fileURL()));

  // The timer: first 60 seconds after the start, then every 15 minutes.
  recordMany(3, 200);
  scheduler.advanceBy(seconds(59));
  EXPECT_EQ(uploads().size(), 1u);
  scheduler.advanceBy(seconds(1));
  ASSERT_EQ(uploads().size(), 2u);
  answer(204);
  recordMany(1, 203);
  scheduler.advanceBy(seconds(899));
  EXPECT_EQ(uploads().size(), 2u);
  scheduler.advanceBy(seconds(1));
  EXPECT_EQ(uploads().size(), 3u);
}

TEST_F(ImproveReporterTest, ALongQueueGoesOutOldestFirstTwoHundredAtATime) {
  // Written without consent checks in between: as a previous run left it.
  defaults.set("improveDataSharing", false);
  defaults.set("improveDataSharing", true);
  std::filesystem::create_directories(dir.path() / "app");
  {
    std::ofstream out(reporter->fileURL());
    const double now =
        std::chrono::duration<double>(scheduler.clock().wallNow().time_since_epoch()).count();
    for (int i = 0; i < 450; ++i) {
      out << json::dump(json::Json{{"t", now}, {"n", "x"}, {"p", {{"seq", i}}}}) << "\n";
    }
  }
  reporter->flushNow(false);
  scheduler.runUntilIdle();
  ASSERT_EQ(uploads().size(), 1u);
  EXPECT_EQ(seqsOf(uploads()[0]).front(), 0);
  EXPECT_EQ(seqsOf(uploads()[0]).back(), 199);
  answer(200);
  EXPECT_EQ(fileLines().size(), 250u);
  reporter->flushNow(false);
  scheduler.runUntilIdle();
  answer(200);
  reporter->flushNow(false);
  scheduler.runUntilIdle();
  ASSERT_EQ(uploads().size(), 3u);
  EXPECT_EQ(
      seqsOf(uploads()[2]),
      std::vector<std::int64_t>({400, 401, 402, 403, 404, 405, 406, 407, 408, 409, 410, 411, 412,
                                 413, 414, 415, 416, 417, 418, 419, 420, 421, 422, 423, 424, 425,
                                 426, 427, 428, 429, 430, 431, 432, 433, 434, 435, 436, 437, 438,
                                 439, 440, 441, 442, 443, 444, 445, 446, 447, 448, 449}));
  answer(200);
  EXPECT_FALSE(std::filesystem::exists(reporter->fileURL()));
}

TEST_F(ImproveReporterTest, AnswersDecideWhatStays) {
  recordMany(5);
  // No answer at all and server errors keep every line for the next flush.
  for (int status : {0, 500, 503}) {
    const auto before = fileLines();
    reporter->flushNow(false);
    scheduler.runUntilIdle();
    answer(status);
    EXPECT_EQ(fileLines(), before) << status;
  }
  // A client error is not retried: the batch goes.
  reporter->flushNow(false);
  scheduler.runUntilIdle();
  answer(400);
  EXPECT_FALSE(std::filesystem::exists(reporter->fileURL()));
  EXPECT_EQ(uploads().size(), 4u);
}

TEST_F(ImproveReporterTest, OneBatchInFlightAndWhatCameMeanwhileStays) {
  recordMany(3);
  reporter->flushNow(false);
  scheduler.runUntilIdle();
  ASSERT_EQ(uploads().size(), 1u);
  // A second flush while the first is on its way sends nothing.
  reporter->flushNow(false);
  scheduler.runUntilIdle();
  EXPECT_EQ(uploads().size(), 1u);
  // Records appended meanwhile survive the rewrite after the answer.
  recordMany(2, 3);
  answer(200);
  ASSERT_EQ(fileLines().size(), 2u);
  EXPECT_NE(fileLines()[0].find("\"seq\":3"), std::string::npos);
  EXPECT_NE(fileLines()[1].find("\"seq\":4"), std::string::npos);
}

TEST_F(ImproveReporterTest, OldAndUnreadableLinesAreDroppedAndATornLineHarmsNothing) {
  std::filesystem::create_directories(dir.path() / "app");
  const double now =
      std::chrono::duration<double>(scheduler.clock().wallNow().time_since_epoch()).count();
  {
    std::ofstream out(reporter->fileURL());
    out << json::dump(json::Json{{"t", now - 8 * 86400}, {"n", "old"}, {"p", {{"seq", 1}}}})
        << "\n";
    // A process killed while appending leaves a line without its end.
    out << R"({"n":"torn","p":{"seq":2},"t":)";
  }
  // Only unsendable lines: the file goes without an upload.
  reporter->flushNow(false);
  scheduler.runUntilIdle();
  EXPECT_TRUE(uploads().empty());
  EXPECT_FALSE(std::filesystem::exists(reporter->fileURL()));

  {
    std::ofstream out(reporter->fileURL());
    out << json::dump(json::Json{{"t", now - 8 * 86400}, {"n", "old"}, {"p", {{"seq", 1}}}})
        << "\n";
    out << R"({"n":"torn","p":{"seq":2},"t":)";
  }
  // The next record starts on a line of its own; the old one is not sent and leaves with the
  // first successful flush.
  recordMany(1, 3);
  ASSERT_EQ(fileLines().size(), 3u);
  EXPECT_TRUE(json::parse(fileLines()[2]).ok());
  reporter->flushNow(false);
  scheduler.runUntilIdle();
  ASSERT_EQ(uploads().size(), 1u);
  EXPECT_EQ(seqsOf(uploads()[0]), std::vector<std::int64_t>{3});
  answer(200);
  EXPECT_FALSE(std::filesystem::exists(reporter->fileURL()));
}

TEST_F(ImproveReporterTest, PropertiesAreSanitisedAndTheBodyDescribesTheInstallation) {
  reporter->record("sample", {{"long", std::string(300, 'a') + "\xC3\xA9"},
                              {"nan", std::numeric_limits<double>::quiet_NaN()},
                              {"inf", std::numeric_limits<double>::infinity()},
                              {"pi", 3.25},
                              {"flag", true},
                              {"count", std::int64_t{7}}});
  scheduler.runUntilIdle();
  reporter->flushNow(false);
  scheduler.runUntilIdle();
  ASSERT_EQ(uploads().size(), 1u);
  const HttpRequest request = uploads()[0];
  EXPECT_EQ(request.url, "https://svc.test/api/improve");
  EXPECT_EQ(request.timeout, seconds(20));
  // Anonymous: no credentials of any kind (the account's requests are not these).
  for (const auto& [name, value] : request.headers) {
    EXPECT_NE(name, "Authorization");
    EXPECT_NE(name, "Cookie");
  }
  auto body = json::parse(request.body);
  ASSERT_TRUE(body.ok());
  const auto& p = (*body)["events"][0]["p"];
  EXPECT_EQ(p["long"].get<std::string>(), std::string(256, 'a'));
  EXPECT_FALSE(p.contains("nan"));
  EXPECT_FALSE(p.contains("inf"));
  EXPECT_EQ(p["pi"].get<double>(), 3.25);
  EXPECT_EQ(p["flag"].get<bool>(), true);
  EXPECT_EQ(p["count"].get<std::int64_t>(), 7);
  EXPECT_EQ((*body)["app"], "lumarin");
  EXPECT_EQ((*body)["installID"], CrashConfig::installID(defaults));
  EXPECT_EQ((*body)["appVersion"], "1.0");
  EXPECT_EQ((*body)["build"], "100");
  EXPECT_EQ((*body)["os"], process.osVersion);
  EXPECT_EQ((*body)["arch"], "arm64");
  EXPECT_EQ((*body)["locale"], "de_CH");
  answer(200);

  // A bundle without versions says "?".
  bundle.info.erase("CFBundleShortVersionString");
  bundle.info["CFBundleVersion"] = "";
  recordMany(1);
  reporter->flushNow(false);
  scheduler.runUntilIdle();
  ASSERT_EQ(uploads().size(), 2u);
  auto second = json::parse(uploads()[1].body);
  EXPECT_EQ((*second)["appVersion"], "?");
  EXPECT_EQ((*second)["build"], "?");
}

TEST_F(ImproveReporterTest, WithoutConsentNothingIsQueuedAndSwitchingOffDeletesTheQueue) {
  recordMany(4);
  ASSERT_EQ(fileLines().size(), 4u);
  defaults.set("improveDataSharing", false);
  reporter->clearQueue();  // as the settings store does when the switch goes off
  recordMany(3);
  reporter->flushNow(false);
  scheduler.runUntilIdle();
  EXPECT_FALSE(std::filesystem::exists(reporter->fileURL()));
  EXPECT_TRUE(uploads().empty());

  // Back on: recording resumes with an empty queue. A start without consent clears it.
  defaults.set("improveDataSharing", true);
  recordMany(2);
  EXPECT_EQ(fileLines().size(), 2u);
  defaults.set("improveDataSharing", false);
  reporter->start();
  scheduler.runUntilIdle();
  EXPECT_FALSE(std::filesystem::exists(reporter->fileURL()));
  // A value that is not a Boolean counts as consent.
  defaults.set("improveDataSharing", std::string("no"));
  EXPECT_TRUE(ImproveConfig::enabled(defaults));
}

TEST_F(ImproveReporterTest, SwitchingOffWhileABatchIsOnItsWayLeavesNothingBehind) {
  recordMany(3);
  reporter->flushNow(false);
  scheduler.runUntilIdle();
  defaults.set("improveDataSharing", false);
  reporter->clearQueue();
  scheduler.runUntilIdle();
  defaults.set("improveDataSharing", true);
  recordMany(1, 10);
  answer(200);
  // The answer to the old batch neither brings back its carry-over nor drops the new line.
  ASSERT_EQ(fileLines().size(), 1u);
  EXPECT_NE(fileLines()[0].find("\"seq\":10"), std::string::npos);
}

TEST_F(ImproveReporterTest, TheQuitFlushSendsAndWaitsAtMostItsTime) {
  http.script("POST", "api/improve", HttpResponse{200, "{}"});
  recordMany(2);
  EXPECT_TRUE(reporter->flushNow(true));
  EXPECT_FALSE(std::filesystem::exists(reporter->fileURL()));
  ASSERT_EQ(uploads().size(), 1u);
  // A service that has not answered yet: the wait ends, the lines stay for the next launch.
  http.script("POST", "api/improve", HttpResponse{200, "{}"}, seconds(5));
  recordMany(1);
  EXPECT_FALSE(reporter->flushNow(true));
  EXPECT_EQ(fileLines().size(), 1u);
}

}  // namespace
}  // namespace lumarin
