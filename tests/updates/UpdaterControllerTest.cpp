// The controller on the simulated Mac: virtual time, a scripted web service, in-memory
// defaults, a recording user driver, and a real (temporary) installation folder.
#include <gtest/gtest.h>

#include "UpdateFixtures.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimBundle.h"
#include "platform/sim/SimHttpClient.h"
#include "platform/sim/SimUserDefaults.h"
#include "support/TempDir.h"
#include "updates/UpdateInstaller.h"
#include "updates/UpdaterController.h"

namespace lumarin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kFeedURL = "https://updates.kestova.example/updates/feed.xml";

// Every call, in order, as one line each; answers are given by the test.
class RecordingUserDriver final : public UpdateUserDriver {
 public:
  void showChecking(std::function<void()> cancelCheck) override {
    calls.push_back("checking");
    cancel = std::move(cancelCheck);
  }
  void showUpToDate(const std::string& version) override { calls.push_back("upToDate " + version); }
  void showUpdateAvailable(const UpdateOffer& o, std::function<void(UpdateChoice)> r) override {
    calls.push_back("available " + o.version + " over " + o.currentVersion);
    offer = o;
    reply = std::move(r);
  }
  void showProgress(UpdatePhase phase) override {
    calls.push_back(phase == UpdatePhase::downloading ? "downloading"
                    : phase == UpdatePhase::verifying ? "verifying"
                                                      : "installing");
  }
  void showError(UpdateFailure failure) override {
    calls.push_back(std::string("error ") + failureMessageKey(failure));
  }
  void dismiss() override { calls.push_back("dismiss"); }

  std::vector<std::string> calls;
  std::function<void()> cancel;
  std::function<void(UpdateChoice)> reply;
  UpdateOffer offer;
};

std::string programText(const std::string& version) { return "#!/bin/sh\necho " + version + "\n"; }

std::string archiveOf(const std::string& build, const std::string& version) {
  using test::ArchiveEntry;
  // The simulated bundle keeps its executable where a Mac bundle does.
  return test::makeArchive(
      {{".lumarin-installation", UpdateInstaller::markerText(BuildVersion{build, version})},
       {"lumarin", programText(version), ArchiveEntry::Kind::file, 0755},
       {"Contents/MacOS/Lumarin", programText(version), ArchiveEntry::Kind::file, 0755}});
}

std::string feedItem(const std::string& build, const std::string& shortVersion,
                     const std::string& signature, std::size_t length) {
  return "<item><title>Version " + shortVersion + "</title><description>&lt;p&gt;New&lt;/p&gt;" +
         "</description><enclosure url=\"/updates/archives/" + build + "/l.tar.gz\" length=\"" +
         std::to_string(length) + "\" type=\"application/octet-stream\" lumarin:version=\"" +
         build + "\" lumarin:shortVersionString=\"" + shortVersion + "\" lumarin:edSignature=\"" +
         signature + "\"/></item>";
}

std::string feed(const std::string& items) {
  return "<rss version=\"2.0\" "
         "xmlns:lumarin=\"https://kestova.example/xml-namespaces/lumarin\"><channel>" +
         items + "</channel></rss>";
}

class UpdaterControllerTest : public ::testing::Test {
 protected:
  UpdaterControllerTest() {
    bundle_.info["SUFeedURL"] = kFeedURL;
    bundle_.info["SUPublicEDKey"] = key_.publicKeyBase64();
    bundle_.info["CFBundleShortVersionString"] = "1.9";
    bundle_.info["CFBundleVersion"] = "41";
    bundle_.path = dir_ / "Lumarin";
    fs::create_directories(bundle_.path);
    test::writeFile(bundle_.path / ".lumarin-installation", "");
  }

  std::unique_ptr<UpdaterController> make() {
    return UpdaterController::create(UpdaterController::Dependencies{
        scheduler_,
        http_,
        defaults_,
        bundle_,
        driver_,
        [this](const fs::path& executable) { relaunched_.push_back(executable); },
        {},
        [this](std::string_view line) { log_.emplace_back(line); }});
  }

  std::size_t feedRequests() const { return http_.requests("GET", "feed.xml").size(); }

  void scriptFeed(const std::string& body, int status = 200) {
    http_.script("GET", "feed.xml", HttpResponse{status, body});
  }

  // A newer build, signed (or with the signature given), its feed and its archive scripted.
  void offerBuild(const std::string& build, const std::string& shortVersion,
                  std::optional<std::string> signature = std::nullopt,
                  std::optional<std::string> served = std::nullopt) {
    const auto archive = archiveOf(build, shortVersion);
    scriptFeed(feed(
        feedItem(build, shortVersion, signature.value_or(key_.sign(archive)), archive.size())));
    http_.script("GET", "/l.tar.gz", HttpResponse{200, served.value_or(archive)});
  }

  test::TempDir dir_;
  test::SigningKey key_;
  ManualScheduler scheduler_;
  SimHttpClient http_;
  SimUserDefaults defaults_;
  SimBundle bundle_;
  RecordingUserDriver driver_;
  std::vector<fs::path> relaunched_;
  std::vector<std::string> log_;
};

TEST_F(UpdaterControllerTest, NoFeedMeansNoUpdater) {
  bundle_.info.erase("SUFeedURL");
  EXPECT_EQ(make(), nullptr);
  bundle_.info["SUFeedURL"] = "";
  EXPECT_EQ(make(), nullptr);
}

TEST_F(UpdaterControllerTest, SwitchedOffNothingIsEverChecked) {
  defaults_.set(UpdaterController::kAutomaticChecksKey, false);
  auto updater = make();
  ASSERT_TRUE(updater);
  EXPECT_FALSE(updater->automaticallyChecksForUpdates());
  scheduler_.advanceBy(std::chrono::hours(24 * 10));
  EXPECT_EQ(feedRequests(), 0U);
  EXPECT_TRUE(driver_.calls.empty());
}

TEST_F(UpdaterControllerTest, SwitchedOnItChecksAfterLaunchThenDailyAndSilently) {
  auto updater = make();
  EXPECT_TRUE(updater->automaticallyChecksForUpdates());  // on when never set
  for (int i = 0; i < 4; ++i) {
    scriptFeed(feed(feedItem("41", "1.9", "c2ln", 10)));
  }
  scheduler_.advanceBy(UpdaterController::kLaunchDelay - 1s);
  EXPECT_EQ(feedRequests(), 0U);
  scheduler_.advanceBy(1s);
  EXPECT_EQ(feedRequests(), 1U);
  scheduler_.advanceBy(24h - 1s);
  EXPECT_EQ(feedRequests(), 1U);
  scheduler_.advanceBy(1s);
  EXPECT_EQ(feedRequests(), 2U);
  scheduler_.advanceBy(48h);
  EXPECT_EQ(feedRequests(), 4U);
  // Background checks that find nothing show nothing.
  EXPECT_TRUE(driver_.calls.empty());
  ASSERT_TRUE(defaults_.date(UpdaterController::kLastCheckKey));
}

TEST_F(UpdaterControllerTest, ARestartWaitsForTheRestOfTheDay) {
  scriptFeed(feed(""));
  {
    auto updater = make();
    scheduler_.advanceBy(UpdaterController::kLaunchDelay);
    ASSERT_EQ(feedRequests(), 1U);
  }
  scheduler_.advanceBy(10h);
  // The program starts again ten hours after its check: the next one is fourteen hours away.
  scriptFeed(feed(""));
  auto updater = make();
  scheduler_.advanceBy(14h - 1s);
  EXPECT_EQ(feedRequests(), 1U);
  scheduler_.advanceBy(1s);
  EXPECT_EQ(feedRequests(), 2U);

  // Long after the last check, a start checks once the launch delay has passed.
  scheduler_.advanceBy(72h);
  const auto before = feedRequests();
  updater.reset();
  defaults_.set(UpdaterController::kLastCheckKey, Date{0});
  scriptFeed(feed(""));
  updater = make();
  scheduler_.advanceBy(UpdaterController::kLaunchDelay);
  EXPECT_EQ(feedRequests(), before + 1);
}

TEST_F(UpdaterControllerTest, ALastCheckInTheFutureCountsAsNow) {
  // The clock was set back a month after the last check: the next check is a day away, not
  // a month and a day.
  const double now =
      std::chrono::duration<double>(scheduler_.clock().wallNow().time_since_epoch()).count();
  defaults_.set(UpdaterController::kLastCheckKey, Date{now + 30 * 86400.0});
  scriptFeed(feed(""));
  auto updater = make();
  scheduler_.advanceBy(24h - 1s);
  EXPECT_EQ(feedRequests(), 0U);
  scheduler_.advanceBy(1s);
  EXPECT_EQ(feedRequests(), 1U);
}

TEST_F(UpdaterControllerTest, TheSwitchIsStoredOnlyInTheDefaultsAndTakesEffectAtOnce) {
  auto updater = make();
  updater->setAutomaticallyChecksForUpdates(false);
  EXPECT_EQ(defaults_.boolean(UpdaterController::kAutomaticChecksKey), false);
  EXPECT_FALSE(updater->nextScheduledCheck());
  scheduler_.advanceBy(72h);
  EXPECT_EQ(feedRequests(), 0U);

  // Someone else (the settings sync, a defaults write) turns it on: the getter reads it.
  defaults_.set(UpdaterController::kAutomaticChecksKey, true);
  EXPECT_TRUE(updater->automaticallyChecksForUpdates());
  defaults_.set(UpdaterController::kAutomaticChecksKey, false);

  scriptFeed(feed(""));
  updater->setAutomaticallyChecksForUpdates(true);
  EXPECT_EQ(defaults_.boolean(UpdaterController::kAutomaticChecksKey), true);
  scheduler_.runUntilIdle();
  EXPECT_EQ(feedRequests(), 1U);  // never checked before: at once
}

TEST_F(UpdaterControllerTest, AFailedBackgroundCheckIsSilentAndRetriedWithinTheHour) {
  auto updater = make();
  scriptFeed("", 503);
  scheduler_.advanceBy(UpdaterController::kLaunchDelay);
  EXPECT_EQ(feedRequests(), 1U);
  EXPECT_TRUE(driver_.calls.empty());
  EXPECT_FALSE(defaults_.contains(UpdaterController::kLastCheckKey));
  scriptFeed("<rss");
  scheduler_.advanceBy(1h);
  EXPECT_EQ(feedRequests(), 2U);
  EXPECT_TRUE(driver_.calls.empty());
  scriptFeed(feed(""));
  scheduler_.advanceBy(1h);
  EXPECT_EQ(feedRequests(), 3U);
  EXPECT_TRUE(defaults_.contains(UpdaterController::kLastCheckKey));
}

TEST_F(UpdaterControllerTest, UserCheckShowsCheckingThenUpToDate) {
  defaults_.set(UpdaterController::kAutomaticChecksKey, false);
  auto updater = make();
  scriptFeed(feed(feedItem("41", "1.9", "c2ln", 10) + feedItem("40", "1.8", "c2ln", 10)));
  updater->checkForUpdates();
  EXPECT_TRUE(updater->sessionInProgress());
  scheduler_.runUntilIdle();
  EXPECT_EQ(driver_.calls, (std::vector<std::string>{"checking", "upToDate 1.9"}));
  EXPECT_FALSE(updater->sessionInProgress());
}

TEST_F(UpdaterControllerTest, UserCheckFailuresAreShown) {
  auto updater = make();
  scriptFeed("", 0);
  updater->checkForUpdates();
  scheduler_.runUntilIdle();
  scriptFeed("<rss><channel><item></rss>");
  updater->checkForUpdates();
  scheduler_.runUntilIdle();
  EXPECT_EQ(driver_.calls, (std::vector<std::string>{"checking", "error upd.error.feed", "checking",
                                                     "error upd.error.feedInvalid"}));
}

TEST_F(UpdaterControllerTest, CancelledCheckIgnoresTheLateAnswer) {
  auto updater = make();
  updater->checkForUpdates();  // nothing scripted: the answer waits
  ASSERT_TRUE(driver_.cancel);
  driver_.cancel();
  EXPECT_FALSE(updater->sessionInProgress());
  http_.answerNext(HttpResponse{200, feed(feedItem("50", "2.0", "c2ln", 10))});
  scheduler_.runUntilIdle();
  EXPECT_EQ(driver_.calls, std::vector<std::string>{"checking"});
}

TEST_F(UpdaterControllerTest, LaterLeavesEverythingAsItWas) {
  auto updater = make();
  offerBuild("42", "1.10");
  updater->checkForUpdates();
  scheduler_.runUntilIdle();
  ASSERT_EQ(driver_.calls.back(), "available 1.10 over 1.9");
  EXPECT_EQ(driver_.offer.releaseNotes, "<p>New</p>");
  driver_.reply(UpdateChoice::later);
  scheduler_.runUntilIdle();
  EXPECT_EQ(http_.requests("GET", "/l.tar.gz").size(), 0U);
  EXPECT_FALSE(updater->sessionInProgress());
  EXPECT_TRUE(relaunched_.empty());
}

TEST_F(UpdaterControllerTest, InstallDownloadsVerifiesInstallsAndRelaunches) {
  auto updater = make();
  offerBuild("42", "1.10");
  updater->checkForUpdates();
  scheduler_.runUntilIdle();
  driver_.reply(UpdateChoice::install);
  scheduler_.runUntilIdle();
  EXPECT_EQ(http_.requests("GET", "/l.tar.gz").at(0).url,
            "https://updates.kestova.example/updates/archives/42/l.tar.gz");
  EXPECT_EQ(driver_.calls, (std::vector<std::string>{"checking", "available 1.10 over 1.9",
                                                     "downloading", "verifying", "dismiss"}));
  ASSERT_EQ(relaunched_.size(), 1U);
  EXPECT_EQ(relaunched_[0], bundle_.path / "Contents" / "MacOS" / "Lumarin");
  EXPECT_EQ(test::readFile(bundle_.path / "lumarin"), programText("1.10"));
}

TEST_F(UpdaterControllerTest, ABackgroundCheckOffersTheUpdateToo) {
  auto updater = make();
  offerBuild("42", "1.10");
  scheduler_.advanceBy(UpdaterController::kLaunchDelay);
  EXPECT_EQ(driver_.calls, std::vector<std::string>{"available 1.10 over 1.9"});
}

class RefusedDownloadTest : public UpdaterControllerTest,
                            public ::testing::WithParamInterface<std::string> {};

TEST_P(RefusedDownloadTest, IsRefusedWithAClearMessageAndNothingChanges) {
  test::writeFile(bundle_.path / "lumarin", programText("1.9"));
  const auto archive = archiveOf("42", "1.10");
  const std::string which = GetParam();
  std::string expected;
  if (which == "unsigned") {
    offerBuild("42", "1.10", "");
    expected = "error upd.error.unsigned";
  } else if (which == "tampered") {
    auto tampered = archive;
    tampered[tampered.size() / 2] ^= 0x01;
    offerBuild("42", "1.10", key_.sign(archive), tampered);
    expected = "error upd.error.signature";
  } else if (which == "otherKey") {
    test::SigningKey other;
    offerBuild("42", "1.10", other.sign(archive));
    expected = "error upd.error.signature";
  } else if (which == "garbledSignature") {
    offerBuild("42", "1.10", "!!not base64!!");
    expected = "error upd.error.signature";
  } else if (which == "noPublicKey") {
    bundle_.info.erase("SUPublicEDKey");
    offerBuild("42", "1.10");
    expected = "error upd.error.noKey";
  } else if (which == "truncated") {
    offerBuild("42", "1.10", std::nullopt, archive.substr(0, archive.size() - 10));
    expected = "error upd.error.incomplete";
  } else if (which == "serverError") {
    scriptFeed(feed(feedItem("42", "1.10", key_.sign(archive), archive.size())));
    http_.script("GET", "/l.tar.gz", HttpResponse{500, "oops"});
    expected = "error upd.error.download";
  } else if (which == "signedButBroken") {
    const std::string junk = "signed, but no archive";
    scriptFeed(feed(feedItem("42", "1.10", key_.sign(junk), junk.size())));
    http_.script("GET", "/l.tar.gz", HttpResponse{200, junk});
    expected = "error upd.error.install";
  } else if (which == "relabelledOldBuild") {
    // An old build, signed when it was released, offered again under a newer label.
    const auto old = archiveOf("40", "1.8");
    scriptFeed(feed(feedItem("99", "9.9", key_.sign(old), old.size())));
    http_.script("GET", "/l.tar.gz", HttpResponse{200, old});
    expected = "error upd.error.signature";
  }
  auto updater = make();
  updater->checkForUpdates();
  scheduler_.runUntilIdle();
  ASSERT_TRUE(driver_.reply) << which;
  driver_.reply(UpdateChoice::install);
  scheduler_.runUntilIdle();
  EXPECT_EQ(driver_.calls.back(), expected);
  EXPECT_FALSE(updater->sessionInProgress());
  EXPECT_TRUE(relaunched_.empty());
  EXPECT_EQ(test::readFile(bundle_.path / "lumarin"), programText("1.9"));
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_.path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 1U) << "something was left beside the installation";
}

INSTANTIATE_TEST_SUITE_P(Downloads, RefusedDownloadTest,
                         ::testing::Values("unsigned", "tampered", "otherKey", "garbledSignature",
                                           "noPublicKey", "truncated", "serverError",
                                           "signedButBroken", "relabelledOldBuild"));

TEST_F(UpdaterControllerTest, ARelabelledOldBuildIsRefusedWithAClearLogLine) {
  test::writeFile(bundle_.path / "lumarin", programText("1.9"));
  const auto old = archiveOf("40", "1.8");
  scriptFeed(feed(feedItem("99", "9.9", key_.sign(old), old.size())));
  http_.script("GET", "/l.tar.gz", HttpResponse{200, old});
  auto updater = make();
  updater->checkForUpdates();
  scheduler_.runUntilIdle();
  ASSERT_TRUE(driver_.reply);
  driver_.reply(UpdateChoice::install);
  scheduler_.runUntilIdle();
  ASSERT_FALSE(log_.empty());
  EXPECT_EQ(log_.back(),
            "updates: failed (upd.error.signature): refused: the update offered as 9.9 (99) "
            "holds 1.8 (40) (relabelled)");
  EXPECT_TRUE(relaunched_.empty());
  EXPECT_EQ(test::readFile(bundle_.path / "lumarin"), programText("1.9"));
}

TEST_F(UpdaterControllerTest, AnAnswerAfterTheControllerIsGoneDoesNothing) {
  auto updater = make();
  updater->checkForUpdates();
  updater.reset();
  http_.answerNext(HttpResponse{200, feed("")});
  scheduler_.runUntilIdle();
  EXPECT_EQ(driver_.calls, std::vector<std::string>{"checking"});
}

}  // namespace
}  // namespace lumarin
