#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Diagnostics.h"

namespace lumarin {

class Bundle;
class HttpClient;
class Queue;
class UserDefaults;

// Forwards the crash diagnostics the system delivers about earlier runs to the web service,
// one JSON report per crash, when the user allows it ("Share crash reports"). Best effort:
// each report is sent once, its answer ignored, nothing kept.
class CrashReporter {
 public:
  static constexpr double kTimeoutSeconds = 60;

  struct Dependencies {
    std::function<bool()> enabled;  // the setting `crashReportingEnabled`
    UserDefaults& defaults;
    HttpClient& http;
    Queue& replyQueue;  // where the ignored answers land
    const Bundle& bundle;
    std::string baseURL;  // ends in "/"
    std::string home;     // left out of call stacks
  };

  explicit CrashReporter(Dependencies deps) : deps_(std::move(deps)) {}

  // Subscribes to the system's delivery.
  void subscribe(DiagnosticManager& manager);
  // The subscriber callback.
  void didReceive(const std::vector<DiagnosticPayload>& payloads);
  // The report of one crash, as JSON text.
  std::string report(const CrashDiagnostic& diagnostic) const;
  void send(const std::string& report);

  // Told of each report sent (for the run's record).
  void setSentObserver(std::function<void(const std::string&)> observer) {
    sentObserver_ = std::move(observer);
  }

 private:
  Dependencies deps_;
  std::function<void(const std::string&)> sentObserver_;
};

}  // namespace lumarin
