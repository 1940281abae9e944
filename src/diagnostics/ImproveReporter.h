#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Properties.h"
#include "platform/Scheduler.h"

namespace lumarin {

class Bundle;
class HttpClient;
class ProcessInfo;
class UserDefaults;

// Where statistics go and whether they may.
struct ImproveConfig {
  static constexpr std::string_view kEndpoint = "api/improve";
  static constexpr std::string_view kConsentKey = "improveDataSharing";
  // True when the key is absent or not a Boolean.
  static bool enabled(const UserDefaults& defaults);
};

// Anonymous statistics about how well the core mechanisms work. Events are appended, one
// JSON record per line, to "improve-queue.jsonl" on a private serial queue, and sent to the
// web service in batches of up to 200: 60 seconds after the start and then every 15 minutes,
// at once when 200 are waiting, and at quit. Nothing is recorded without consent.
//
// The uploads carry no credentials: anonymous statistics sent with the account's token would
// be filed under the account, together with the installation's identifier they hold.
//
// `record` is callable from any thread.
class ImproveReporter : public std::enable_shared_from_this<ImproveReporter> {
 public:
  static constexpr std::size_t kBatchSize = 200;
  static constexpr std::size_t kStringLimit = 256;
  static constexpr double kMaxAgeSeconds = 604'800;
  static constexpr double kFirstFlushSeconds = 60;
  static constexpr double kFlushIntervalSeconds = 900;
  static constexpr double kUploadTimeoutSeconds = 20;
  static constexpr double kQuitWaitSeconds = 2.0;

  struct Dependencies {
    Scheduler& scheduler;
    UserDefaults& defaults;
    HttpClient& http;
    const Bundle& bundle;
    const ProcessInfo& process;
    // The program's Application Support sub-directory (created on demand).
    std::filesystem::path directory;
    std::string baseURL;  // ends in "/"
  };

  // What became of one upload: the HTTP status (0 without an answer) and how many events.
  using UploadObserver = std::function<void(int status, std::size_t events)>;

  explicit ImproveReporter(Dependencies deps);
  ImproveReporter(const ImproveReporter&) = delete;
  ImproveReporter& operator=(const ImproveReporter&) = delete;

  void setUploadObserver(UploadObserver observer) { uploadObserver_ = std::move(observer); }

  void record(const std::string& name, const Properties& properties);
  void start();
  // `sync`: runs a flush and waits for it, at most 2 seconds (the caller is the main thread);
  // true when it finished in time. Otherwise schedules one and returns false.
  bool flushNow(bool sync);
  void clearQueue();

  std::filesystem::path fileURL() const { return deps_.directory / "improve-queue.jsonl"; }
  // The upload body's fixed members ("app" … "locale") for a batch; public for tests.
  std::string uploadBody(const std::vector<std::string>& records) const;

 private:
  struct Batch;
  void append(const std::string& line);
  std::vector<std::string> readQueue() const;
  void rewriteQueue(const std::vector<std::string>& lines) const;
  void flushLocked(std::function<void()> completion);
  void send(const std::shared_ptr<Batch>& batch);
  void finish(const std::shared_ptr<Batch>& batch, int status);

  Dependencies deps_;
  std::shared_ptr<Queue> queue_;
  std::shared_ptr<RepeatingTimer> timer_;
  UploadObserver uploadObserver_;
  std::string installID_;
  std::string locale_;
  // Only on `queue_`.
  bool inFlight_ = false;
  std::uint64_t generation_ = 0;  // advanced by each clearing of the queue
};

}  // namespace lumarin
