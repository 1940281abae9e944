#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Observable.h"
#include "platform/Scheduler.h"

namespace lumarin {

class Bundle;
class DebugLog;
class HttpClient;
class ProcessInfo;
class SystemLog;
class UserDefaults;

// A hidden mode for testers: while on, the recent debug log and this process's own system-log
// entries go to the web service every 30 minutes, at launch and when the mode is switched.
// Main queue.
class TesterMode : public std::enable_shared_from_this<TesterMode> {
 public:
  static constexpr double kExportIntervalSeconds = 1800;
  static constexpr std::size_t kMaxLogLines = 4000;
  static constexpr std::size_t kMaxUploadBytes = 700'000;
  static constexpr double kTimeoutSeconds = 60;

  struct Dependencies {
    UserDefaults& defaults;
    Scheduler& scheduler;
    const DebugLog& debugLog;
    const SystemLog& systemLog;
    HttpClient& http;
    const Bundle& bundle;
    const ProcessInfo& process;
    std::string baseURL;  // ends in "/"
    std::string home;     // left out of uploads
    // What else must not leave the machine (the account's token and e-mail); main queue.
    std::function<std::vector<std::string>()> privateTexts = nullptr;
  };

  explicit TesterMode(Dependencies deps);
  TesterMode(const TesterMode&) = delete;
  TesterMode& operator=(const TesterMode&) = delete;

  const Observable<bool>& enabled() const { return enabled_; }
  void start();
  void toggle();

  // Told of each upload body (for the run's record and tests).
  void setUploadObserver(std::function<void(const std::string&)> observer) {
    uploadObserver_ = std::move(observer);
  }

  // The system-log section for the window from `since`: one line per message entry, at most
  // 4,000, or the failure text.
  std::string exportSystemLog(std::chrono::system_clock::time_point since) const;
  // The text uploaded: both sections, cut from the front to 700,000 bytes.
  std::string composeText(const std::string& debugLogTail,
                          std::chrono::system_clock::time_point since,
                          const std::vector<std::string>& privateTexts = {}) const;

 private:
  void scheduleTimer();
  void upload();

  Dependencies deps_;
  Observable<bool> enabled_{false};
  std::shared_ptr<RepeatingTimer> timer_;
  std::chrono::system_clock::time_point lastExport_;
  std::function<void(const std::string&)> uploadObserver_;
};

// The hidden gesture on the settings window's icon: eight taps, each within 2 seconds of the
// one before, switch tester mode.
class TesterTapCounter {
 public:
  static constexpr double kMaxGapSeconds = 2.0;
  static constexpr int kTapsToToggle = 8;

  // True on the tap that completes a run (the counter then starts over).
  bool tap(std::chrono::system_clock::time_point now);
  int clicks() const { return clicks_; }

 private:
  int clicks_ = 0;
  std::chrono::system_clock::time_point lastClick_ = std::chrono::system_clock::time_point::min();
};

}  // namespace lumarin
