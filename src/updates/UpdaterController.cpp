#include "updates/UpdaterController.h"

#include <algorithm>
#include <cmath>

#include "platform/Bundle.h"
#include "platform/HttpClient.h"
#include "platform/UserDefaults.h"
#include "updates/SignatureCheck.h"
#include "updates/UpdateInstaller.h"

namespace lumarin {

namespace {

double wallSeconds(const Clock& clock) {
  return std::chrono::duration<double>(clock.wallNow().time_since_epoch()).count();
}

std::string describeStatus(const HttpResponse& response) {
  return response.status == 0 ? std::string("no answer")
                              : "HTTP " + std::to_string(response.status);
}

UpdateFailure failureOf(const Error& signatureError) {
  switch (static_cast<SignatureProblem>(signatureError.code)) {
    case SignatureProblem::missingPublicKey:
    case SignatureProblem::badPublicKey:
      return UpdateFailure::noPublicKey;
    case SignatureProblem::notSigned:
      return UpdateFailure::notSigned;
    case SignatureProblem::malformed:
    case SignatureProblem::mismatch:
      break;
  }
  return UpdateFailure::badSignature;
}

}  // namespace

const char* failureMessageKey(UpdateFailure failure) {
  switch (failure) {
    case UpdateFailure::feedUnavailable:
      return "upd.error.feed";
    case UpdateFailure::feedInvalid:
      return "upd.error.feedInvalid";
    case UpdateFailure::downloadFailed:
      return "upd.error.download";
    case UpdateFailure::downloadIncomplete:
      return "upd.error.incomplete";
    case UpdateFailure::notSigned:
      return "upd.error.unsigned";
    case UpdateFailure::badSignature:
      return "upd.error.signature";
    case UpdateFailure::noPublicKey:
      return "upd.error.noKey";
    case UpdateFailure::installFailed:
      return "upd.error.install";
  }
  return "upd.error.install";
}

std::unique_ptr<UpdaterController> UpdaterController::create(Dependencies dependencies) {
  auto feed = dependencies.bundle.infoString(kFeedURLKey);
  if (!feed || feed->empty()) {
    return nullptr;
  }
  return std::unique_ptr<UpdaterController>(
      new UpdaterController(std::move(dependencies), std::move(*feed)));
}

UpdaterController::UpdaterController(Dependencies dependencies, std::string feedURL)
    : deps_(std::move(dependencies)),
      feedURL_(std::move(feedURL)),
      publicKey_(deps_.bundle.infoString(kPublicKeyKey).value_or("")),
      workQueue_(deps_.scheduler.makeSerialQueue("com.kestova.Lumarin.updates", QoS::utility)) {
  if (deps_.installationDirectory.empty()) {
    deps_.installationDirectory = deps_.bundle.bundlePath();
  }
  if (automaticallyChecksForUpdates()) {
    scheduleFromLastCheck(kLaunchDelay);
  }
}

UpdaterController::~UpdaterController() { nextCheck_.cancel(); }

// The executable's place inside the installation ("lumarin" here, "Contents/MacOS/Lumarin" in
// a Mac bundle).
std::string UpdaterController::executableInBundle() const {
  const auto relative = deps_.bundle.executablePath().lexically_relative(deps_.bundle.bundlePath());
  if (relative.empty() || *relative.begin() == "..") {
    return deps_.bundle.executablePath().filename().string();
  }
  return relative.string();
}

void UpdaterController::log(const std::string& line) const {
  if (deps_.log) {
    deps_.log("updates: " + line);
  }
}

bool UpdaterController::automaticallyChecksForUpdates() const {
  if (!deps_.defaults.contains(kAutomaticChecksKey)) {
    return true;
  }
  return deps_.defaults.boolValue(kAutomaticChecksKey);
}

void UpdaterController::setAutomaticallyChecksForUpdates(bool on) {
  deps_.defaults.set(kAutomaticChecksKey, on);
  log(std::string("automatic checks ") + (on ? "on" : "off"));
  nextCheck_.cancel();
  nextCheckDue_.reset();
  if (on) {
    scheduleFromLastCheck(Duration::zero());
  }
}

// The next check is a day after the last one, or at once (after `minimumDelay`) when that is
// past. A last check in the future (the clock was set back) counts as now.
void UpdaterController::scheduleFromLastCheck(Duration minimumDelay) {
  Duration delay = minimumDelay;
  if (auto last = deps_.defaults.date(kLastCheckKey)) {
    const double sinceLast =
        std::max(0.0, wallSeconds(deps_.scheduler.clock()) - last->secondsSince1970);
    const double left = toSeconds(kCheckInterval) - sinceLast;
    delay = std::max(minimumDelay, seconds(std::max(0.0, left)));
  }
  scheduleAutomaticCheck(delay);
}

void UpdaterController::scheduleAutomaticCheck(Duration delay) {
  nextCheck_.cancel();
  nextCheckDue_ = deps_.scheduler.clock().monotonicNow() + delay;
  nextCheck_ = deps_.scheduler.mainQueue().postAfter(
      delay, weak_.bind([](UpdaterController& self) { self.automaticCheckDue(); }));
}

void UpdaterController::automaticCheckDue() {
  nextCheckDue_.reset();
  if (!automaticallyChecksForUpdates()) {
    return;
  }
  if (sessionInProgress()) {
    // The session under way is as good as a check; look again in a day.
    scheduleAutomaticCheck(kCheckInterval);
    return;
  }
  beginCheck(false);
}

void UpdaterController::checkForUpdates() {
  if (sessionInProgress()) {
    if (!userInitiated_ && stage_ == Stage::checking) {
      userInitiated_ = true;
      deps_.userDriver.showChecking(weak_.bind([session = session_](UpdaterController& self) {
        if (self.session_ == session && self.stage_ == Stage::checking) {
          self.log("check cancelled");
          self.endSession();
        }
      }));
    }
    userInitiated_ = true;
    return;
  }
  beginCheck(true);
}

void UpdaterController::beginCheck(bool userInitiated) {
  const auto session = ++session_;
  stage_ = Stage::checking;
  userInitiated_ = userInitiated;
  log(std::string(userInitiated ? "checking " : "automatic check of ") + feedURL_);
  if (userInitiated) {
    deps_.userDriver.showChecking(weak_.bind([session](UpdaterController& self) {
      if (self.session_ == session && self.stage_ == Stage::checking) {
        self.log("check cancelled");
        self.endSession();
      }
    }));
  }
  HttpRequest request;
  request.url = feedURL_;
  request.headers.emplace_back("Accept", "application/rss+xml, application/xml");
  request.timeout = seconds(60);
  deps_.http.send(std::move(request), deps_.scheduler.mainQueue(),
                  weak_.bind([session](UpdaterController& self, const HttpResponse& response) {
                    self.feedArrived(session, response);
                  }));
}

void UpdaterController::recordCheck() {
  deps_.defaults.set(kLastCheckKey, Date{wallSeconds(deps_.scheduler.clock())});
  if (automaticallyChecksForUpdates()) {
    scheduleAutomaticCheck(kCheckInterval);
  }
}

void UpdaterController::feedArrived(std::uint64_t session, const HttpResponse& response) {
  if (session != session_ || stage_ != Stage::checking) {
    return;  // cancelled meanwhile
  }
  if (response.status != 200) {
    fail(UpdateFailure::feedUnavailable, "the feed answered " + describeStatus(response));
    return;
  }
  auto feed = parseUpdateFeed(response.body);
  if (!feed) {
    fail(UpdateFailure::feedInvalid, feed.error().message);
    return;
  }
  recordCheck();
  if (feed->skippedItems > 0) {
    log(std::to_string(feed->skippedItems) + " unusable feed item(s) skipped");
  }
  const auto currentShort = deps_.bundle.infoString("CFBundleShortVersionString").value_or("");
  const auto currentBuild = deps_.bundle.infoString("CFBundleVersion").value_or("");
  auto newest = newestUpdate(feed.value(), currentShort, currentBuild);
  if (!newest) {
    log("up to date at " + currentShort + " (" + currentBuild + ")");
    if (userInitiated_) {
      deps_.userDriver.showUpToDate(currentShort.empty() ? currentBuild : currentShort);
    }
    endSession();
    return;
  }
  log("offering " + newest->displayVersion() + " (" + newest->version + ")");
  stage_ = Stage::offering;
  UpdateOffer offer{newest->displayVersion(),
                    newest->version,
                    currentShort.empty() ? currentBuild : currentShort,
                    newest->title,
                    newest->releaseNotes,
                    newest->pubDate};
  deps_.userDriver.showUpdateAvailable(
      offer, weak_.bind([session, item = *newest](UpdaterController& self, UpdateChoice choice) {
        self.choiceMade(session, item, choice);
      }));
}

void UpdaterController::choiceMade(std::uint64_t session, const UpdateFeedItem& item,
                                   UpdateChoice choice) {
  if (session != session_ || stage_ != Stage::offering) {
    return;
  }
  if (choice == UpdateChoice::later) {
    log("update to " + item.displayVersion() + " postponed");
    deps_.userDriver.dismiss();
    endSession();
    return;
  }
  // From here on the user acted: every outcome is shown.
  userInitiated_ = true;
  if (item.edSignature.empty()) {
    fail(UpdateFailure::notSigned, "the feed's item for " + item.version + " is not signed");
    return;
  }
  if (publicKey_.empty()) {
    fail(UpdateFailure::noPublicKey, "this build has no public key (SUPublicEDKey)");
    return;
  }
  stage_ = Stage::downloading;
  deps_.userDriver.showProgress(UpdatePhase::downloading);
  HttpRequest request;
  request.url = resolveFeedURL(feedURL_, item.url);
  request.timeout = seconds(600);
  log("downloading " + request.url);
  deps_.http.send(
      std::move(request), deps_.scheduler.mainQueue(),
      weak_.bind([session, item](UpdaterController& self, const HttpResponse& response) {
        self.archiveArrived(session, item, response);
      }));
}

void UpdaterController::archiveArrived(std::uint64_t session, const UpdateFeedItem& item,
                                       const HttpResponse& response) {
  if (session != session_ || stage_ != Stage::downloading) {
    return;
  }
  if (response.status != 200 || response.body.empty()) {
    fail(UpdateFailure::downloadFailed, "the download answered " + describeStatus(response));
    return;
  }
  if (item.length && static_cast<std::int64_t>(response.body.size()) != *item.length) {
    fail(UpdateFailure::downloadIncomplete,
         "the download has " + std::to_string(response.body.size()) + " bytes, the feed says " +
             std::to_string(*item.length));
    return;
  }
  stage_ = Stage::installing;
  deps_.userDriver.showProgress(UpdatePhase::verifying);
  // The work queue reports back through the main queue; the controller may be gone by then.
  auto weak = weak_.weak();
  Queue& main = deps_.scheduler.mainQueue();
  const UpdateInstaller installer(deps_.installationDirectory, executableInBundle());
  const BuildVersion offered{item.version, item.shortVersion};
  const BuildVersion running{deps_.bundle.infoString("CFBundleVersion").value_or(""),
                             deps_.bundle.infoString("CFBundleShortVersionString").value_or("")};
  workQueue_->post([weak, &main, session, item, installer, offered, running, publicKey = publicKey_,
                    archive = response.body] {
    auto report = [&](Status result, std::optional<UpdateFailure> failure) {
      main.post([weak, session, item, result = std::move(result), failure] {
        if (auto self = weak.lock()) {
          self->installFinished(session, item, result, failure);
        }
      });
    };
    // Nothing is unpacked before the signature holds.
    if (auto verified = verifyEd25519(publicKey, item.edSignature, archive); !verified) {
      report(verified, failureOf(verified.error()));
      return;
    }
    auto installed = installer.install(archive, offered, running);
    if (installed) {
      report(installed, std::nullopt);
      return;
    }
    // A signed archive that is not the build it was offered as is as untrustworthy as a
    // bad signature: the feed's claim about it is false.
    const bool refusedVersion =
        installed.error().code == static_cast<int>(InstallProblem::versionRefused);
    report(installed, refusedVersion ? UpdateFailure::badSignature : UpdateFailure::installFailed);
  });
}

void UpdaterController::installFinished(std::uint64_t session, const UpdateFeedItem& item,
                                        const Status& result,
                                        std::optional<UpdateFailure> failure) {
  if (session != session_) {
    return;
  }
  if (!result) {
    fail(failure.value_or(UpdateFailure::installFailed), result.error().message);
    return;
  }
  const UpdateInstaller installer(deps_.installationDirectory, executableInBundle());
  log("installed " + item.displayVersion() + " (" + item.version + "); relaunching");
  deps_.userDriver.dismiss();
  endSession();
  if (deps_.relaunch) {
    deps_.relaunch(installer.executable());
  }
}

void UpdaterController::fail(UpdateFailure failure, const std::string& detail) {
  log(std::string("failed (") + failureMessageKey(failure) + "): " + detail);
  const bool checkFailed =
      failure == UpdateFailure::feedUnavailable || failure == UpdateFailure::feedInvalid;
  if (userInitiated_) {
    deps_.userDriver.showError(failure);
  }
  if (checkFailed && automaticallyChecksForUpdates()) {
    // The day's check did not happen: try again soon rather than tomorrow.
    scheduleAutomaticCheck(kRetryInterval);
  }
  endSession();
}

void UpdaterController::endSession() {
  stage_ = Stage::idle;
  userInitiated_ = false;
  ++session_;
}

}  // namespace lumarin
