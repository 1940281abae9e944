#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/WeakBind.h"
#include "platform/HttpClient.h"
#include "platform/Scheduler.h"
#include "updates/UpdateFeed.h"
#include "updates/UpdateUserDriver.h"

namespace lumarin {

class Bundle;
class HttpClient;
class UserDefaults;

// The program's updater: checks the feed named by the bundle's "SUFeedURL", offers a newer
// build through the user driver, downloads it, refuses it unless its Ed25519 signature
// verifies against the bundle's "SUPublicEDKey", installs it over the installation directory
// and relaunches the program.
//
// The automatic-check switch lives only in the user defaults ("SUEnableAutomaticChecks",
// on when absent); while it is on a check runs once a day, timed from the last check
// ("SULastCheckTime", a date) so that restarting does not check again early. A background check
// that fails stays silent (log only) and is retried an hour later; a background check that
// finds a build offers it the same way a user-initiated one does.
//
// Main queue only. Network calls answer on the main queue; signature checking, unpacking and
// installing run on a serial background queue. One instance per process, created by the
// composition root; answers and timers that arrive after it is gone do nothing.
class UpdaterController {
 public:
  static constexpr const char* kFeedURLKey = "SUFeedURL";
  static constexpr const char* kPublicKeyKey = "SUPublicEDKey";
  static constexpr const char* kAutomaticChecksKey = "SUEnableAutomaticChecks";
  static constexpr const char* kLastCheckKey = "SULastCheckTime";
  static constexpr Duration kCheckInterval = std::chrono::hours(24);
  static constexpr Duration kRetryInterval = std::chrono::hours(1);
  // The first automatic check of a run waits this long so that it does not slow the launch.
  static constexpr Duration kLaunchDelay = std::chrono::minutes(1);

  struct Dependencies {
    Scheduler& scheduler;
    HttpClient& http;
    UserDefaults& defaults;
    const Bundle& bundle;
    UpdateUserDriver& userDriver;
    // Called with the installed program's executable once an update is in place; it starts
    // that program and ends this one.
    std::function<void(const std::filesystem::path& executable)> relaunch;
    // The directory an update replaces; empty means the bundle's own directory.
    std::filesystem::path installationDirectory = {};
    // Where the updater says what it did (the debug log); may be empty.
    std::function<void(std::string_view)> log = {};
  };

  // Null when the bundle names no feed: the program then runs without an updater. Otherwise
  // the automatic schedule starts at once.
  static std::unique_ptr<UpdaterController> create(Dependencies dependencies);

  UpdaterController(const UpdaterController&) = delete;
  UpdaterController& operator=(const UpdaterController&) = delete;
  ~UpdaterController();

  // A user-initiated check, with every step shown (including "up to date" and failures). While
  // a session runs it only makes that session show its results.
  void checkForUpdates();

  bool automaticallyChecksForUpdates() const;
  // Stored at once; switching on schedules the next daily check, switching off cancels it.
  void setAutomaticallyChecksForUpdates(bool on);

  bool sessionInProgress() const { return stage_ != Stage::idle; }
  const std::string& feedURL() const { return feedURL_; }
  // When the next automatic check is due (virtual or real time of the scheduler's clock), if
  // one is scheduled.
  std::optional<Duration> nextScheduledCheck() const { return nextCheckDue_; }

 private:
  enum class Stage { idle, checking, offering, downloading, installing };

  UpdaterController(Dependencies dependencies, std::string feedURL);

  void scheduleAutomaticCheck(Duration delay);
  void scheduleFromLastCheck(Duration minimumDelay);
  void automaticCheckDue();
  void beginCheck(bool userInitiated);
  void feedArrived(std::uint64_t session, const HttpResponse& response);
  void choiceMade(std::uint64_t session, const UpdateFeedItem& item, UpdateChoice choice);
  void archiveArrived(std::uint64_t session, const UpdateFeedItem& item,
                      const HttpResponse& response);
  void installFinished(std::uint64_t session, const UpdateFeedItem& item, const Status& result,
                       std::optional<UpdateFailure> failure);
  void fail(UpdateFailure failure, const std::string& detail);
  void endSession();
  void recordCheck();
  void log(const std::string& line) const;
  std::string executableInBundle() const;

  Dependencies deps_;
  std::string feedURL_;
  std::string publicKey_;
  std::shared_ptr<Queue> workQueue_;
  Stage stage_ = Stage::idle;
  bool userInitiated_ = false;
  std::uint64_t session_ = 0;
  TaskHandle nextCheck_;
  std::optional<Duration> nextCheckDue_;
  WeakPtrFactory<UpdaterController> weak_{this};
};

}  // namespace lumarin
