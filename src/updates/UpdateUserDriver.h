#pragma once

#include <functional>
#include <string>

namespace lumarin {

// What a new version looks like to the person deciding about it.
struct UpdateOffer {
  std::string version;         // shown to people ("1.10")
  std::string build;           // the build number
  std::string currentVersion;  // the running version, shown beside it
  std::string title;
  std::string releaseNotes;  // HTML from the feed
  std::string pubDate;
};

enum class UpdateChoice { install, later };

// The stages of an installation the user is shown while waiting.
enum class UpdatePhase { downloading, verifying, installing };

// Why an update check or installation ended without a new version in place. The window shows
// a text for each (keys "upd.error.*"); the detail goes to the log.
enum class UpdateFailure {
  feedUnavailable,     // no answer, or not 200
  feedInvalid,         // malformed XML, not a feed
  downloadFailed,      // no answer, or not 200
  downloadIncomplete,  // fewer (or more) bytes than the feed announced
  notSigned,           // the feed's item carries no signature
  badSignature,        // the signature does not verify (or cannot be read)
  noPublicKey,         // this build cannot verify anything
  installFailed,       // unpacking or replacing the installation failed
};

// The localisation key of a failure's message.
const char* failureMessageKey(UpdateFailure failure);

// The update windows, as the controller drives them. One session at a time: every show...
// replaces what the previous call showed; `dismiss` closes whatever is open. Main queue only.
// Callbacks may be called at most once, on the main queue; calling them after the session has
// moved on does nothing.
class UpdateUserDriver {
 public:
  virtual ~UpdateUserDriver() = default;

  // A user-initiated check is running; `cancel` ends it.
  virtual void showChecking(std::function<void()> cancel) = 0;
  // A user-initiated check found nothing newer.
  virtual void showUpToDate(const std::string& currentVersion) = 0;
  virtual void showUpdateAvailable(const UpdateOffer& offer,
                                   std::function<void(UpdateChoice)> reply) = 0;
  virtual void showProgress(UpdatePhase phase) = 0;
  virtual void showError(UpdateFailure failure) = 0;
  virtual void dismiss() = 0;
};

}  // namespace lumarin
