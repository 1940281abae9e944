// The whole update against the real lumarin-service on a loopback port: releases added with
// its admin command, the feed and the archive fetched with the host's HTTP client, the
// signature checked and the update installed into a temporary installation folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "UpdateFixtures.h"
#include "cloud/ServiceProcess.h"
#include "platform/host/CurlHttpClient.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimBundle.h"
#include "platform/sim/SimUserDefaults.h"
#include "support/TempDir.h"
#include "updates/UpdateInstaller.h"
#include "updates/UpdaterController.h"

namespace lumarin {
namespace {

namespace fs = std::filesystem;
using test::ArchiveEntry;

// Runs a program to its end; its exit status, or -1 when it could not run.
int runProgram(const std::vector<std::string>& arguments, std::string& output) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    return -1;
  }
  std::vector<char*> argv;
  std::vector<std::string> copy = arguments;
  for (auto& a : copy) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::dup2(fds[1], STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  char buffer[512];
  ssize_t n = 0;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) {
    output.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The host's client, waited for request by request: each answer is handed to the virtual
// main queue as soon as it is there, so the controller runs on virtual time while the bytes
// really cross the network.
class WaitingHttp final : public HttpClient {
 public:
  void send(HttpRequest request, Queue& replyQueue, Completion completion) override {
    urls.push_back(request.url);
    auto response = test::roundTrip(real_, std::move(request));
    replyQueue.post([completion = std::move(completion), response = std::move(response)] {
      completion(response);
    });
  }
  std::vector<std::string> urls;

 private:
  CurlHttpClient real_;
};

class RecordingDriver final : public UpdateUserDriver {
 public:
  void showChecking(std::function<void()>) override { calls.push_back("checking"); }
  void showUpToDate(const std::string& version) override { calls.push_back("upToDate " + version); }
  void showUpdateAvailable(const UpdateOffer& o, std::function<void(UpdateChoice)> r) override {
    calls.push_back("available " + o.version + " (" + o.build + ")");
    offer = o;
    reply = std::move(r);
  }
  void showProgress(UpdatePhase) override {}
  void showError(UpdateFailure failure) override {
    calls.push_back(std::string("error ") + failureMessageKey(failure));
  }
  void dismiss() override { calls.push_back("dismiss"); }

  std::vector<std::string> calls;
  std::function<void(UpdateChoice)> reply;
  UpdateOffer offer;
};

std::string programScript(const std::string& version) {
  return "#!/bin/sh\necho " + version + "\n";
}

std::string installationArchive(const std::string& build, const std::string& version) {
  return test::makeArchive(
      {{".lumarin-installation", UpdateInstaller::markerText(BuildVersion{build, version})},
       {"Contents/MacOS/Lumarin", programScript(version), ArchiveEntry::Kind::file, 0755},
       {"Contents/Resources/version.txt", version}});
}

class UpdateEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.running()) << service_.startOutput();
    test::writeFile(dir_ / "key.pem", key_.privateKeyPem());
    bundle_.path = dir_ / "Lumarin.app";
    bundle_.info["SUFeedURL"] = service_.baseURL() + "updates/feed.xml";
    bundle_.info["SUPublicEDKey"] = key_.publicKeyBase64();
    bundle_.info["CFBundleShortVersionString"] = "1.9";
    bundle_.info["CFBundleVersion"] = "41";
    fs::create_directories(bundle_.path / "Contents" / "MacOS");
    test::writeFile(bundle_.path / ".lumarin-installation", "");
    test::writeFile(bundle_.path / "Contents" / "MacOS" / "Lumarin", programScript("1.9"));
    defaults_.set(UpdaterController::kAutomaticChecksKey, false);
    updater_ = UpdaterController::create(UpdaterController::Dependencies{
        scheduler_, http_, defaults_, bundle_, driver_,
        [this](const fs::path& executable) { relaunched_.push_back(executable); }});
    ASSERT_TRUE(updater_);
  }

  // `lumarin-service admin … release-add`, as whoever publishes a build runs it.
  void publish(const std::string& build, const std::string& shortVersion,
               const std::string& archive, std::vector<std::string> signing = {}) {
    const auto file = dir_ / ("lumarin-" + shortVersion + ".tar.gz");
    test::writeFile(file, archive);
    test::writeFile(dir_ / "notes.html", "<h2>What's new</h2><p>Faster & smaller.</p>");
    if (signing.empty()) {
      signing = {"--private-key", (dir_ / "key.pem").string()};
    }
    std::vector<std::string> argv = {LUMARIN_SERVICE_EXECUTABLE,
                                     "admin",
                                     "--db",
                                     (dir_ / "service.db").string(),
                                     "release-add",
                                     "--version",
                                     build,
                                     "--short-version",
                                     shortVersion,
                                     "--archive",
                                     file.string(),
                                     "--notes",
                                     (dir_ / "notes.html").string()};
    argv.insert(argv.end(), signing.begin(), signing.end());
    std::string output;
    ASSERT_EQ(runProgram(argv, output), 0) << output;
  }

  std::string installedProgram() const {
    return test::readFile(bundle_.path / "Contents" / "MacOS" / "Lumarin");
  }

  test::TempDir dir_;
  test::ServiceProcess service_{dir_.path()};
  test::SigningKey key_;
  ManualScheduler scheduler_;
  WaitingHttp http_;
  SimUserDefaults defaults_;
  SimBundle bundle_;
  RecordingDriver driver_;
  std::vector<fs::path> relaunched_;
  std::unique_ptr<UpdaterController> updater_;
};

TEST_F(UpdateEndToEndTest, ANewerSignedBuildIsOfferedDownloadedVerifiedAndInstalled) {
  publish("40", "1.8", installationArchive("40", "1.8"));
  publish("43", "1.10.1", installationArchive("43", "1.10.1"));
  publish("42", "1.10", installationArchive("42", "1.10"));

  updater_->checkForUpdates();
  scheduler_.runUntilIdle();
  ASSERT_EQ(driver_.calls, (std::vector<std::string>{"checking", "available 1.10.1 (43)"}));
  EXPECT_EQ(driver_.offer.releaseNotes, "<h2>What's new</h2><p>Faster & smaller.</p>");
  EXPECT_EQ(driver_.offer.currentVersion, "1.9");

  driver_.reply(UpdateChoice::install);
  scheduler_.runUntilIdle();
  EXPECT_EQ(driver_.calls.back(), "dismiss");
  EXPECT_EQ(http_.urls.back(), service_.baseURL() + "updates/archives/43/lumarin-1.10.1.tar.gz");
  EXPECT_EQ(installedProgram(), programScript("1.10.1"));
  EXPECT_EQ(test::readFile(bundle_.path / "Contents" / "Resources" / "version.txt"), "1.10.1");
  ASSERT_EQ(relaunched_.size(), 1U);
  EXPECT_EQ(relaunched_[0], bundle_.path / "Contents" / "MacOS" / "Lumarin");
}

TEST_F(UpdateEndToEndTest, ATamperedDownloadIsRefusedAndTheInstallationIsUnchanged) {
  const auto signedArchive = installationArchive("42", "1.10");
  auto served = signedArchive;
  served[served.size() / 3] ^= 0x20;
  // The archive on the server is not the one that was signed.
  publish("42", "1.10", served, {"--signature", key_.sign(signedArchive)});

  updater_->checkForUpdates();
  scheduler_.runUntilIdle();
  ASSERT_TRUE(driver_.reply);
  driver_.reply(UpdateChoice::install);
  scheduler_.runUntilIdle();
  EXPECT_EQ(driver_.calls.back(), "error upd.error.signature");
  EXPECT_EQ(installedProgram(), programScript("1.9"));
  EXPECT_TRUE(relaunched_.empty());
  std::vector<std::string> beside;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    beside.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(std::count_if(beside.begin(), beside.end(),
                          [](const std::string& n) { return n.starts_with(".Lumarin.app"); }),
            0);
}

// Whoever can publish without the key can still copy an old signed release under a new label;
// the signature verifies, but the archive says which build it is.
TEST_F(UpdateEndToEndTest, AnOldSignedBuildRelabelledAsNewerIsRefused) {
  const auto old = installationArchive("40", "1.8");
  publish("99", "9.9", old, {"--signature", key_.sign(old)});

  updater_->checkForUpdates();
  scheduler_.runUntilIdle();
  ASSERT_EQ(driver_.calls, (std::vector<std::string>{"checking", "available 9.9 (99)"}));
  driver_.reply(UpdateChoice::install);
  scheduler_.runUntilIdle();
  EXPECT_EQ(driver_.calls.back(), "error upd.error.signature");
  EXPECT_EQ(installedProgram(), programScript("1.9"));
  EXPECT_TRUE(relaunched_.empty());
}

TEST_F(UpdateEndToEndTest, OlderAndEqualVersionsAreUpToDate) {
  updater_->checkForUpdates();
  scheduler_.runUntilIdle();
  publish("40", "1.8", installationArchive("40", "1.8"));
  publish("41", "1.9", installationArchive("41", "1.9"));
  updater_->checkForUpdates();
  scheduler_.runUntilIdle();
  EXPECT_EQ(driver_.calls,
            (std::vector<std::string>{"checking", "upToDate 1.9", "checking", "upToDate 1.9"}));
  EXPECT_EQ(installedProgram(), programScript("1.9"));
  EXPECT_TRUE(relaunched_.empty());
}

}  // namespace
}  // namespace lumarin
