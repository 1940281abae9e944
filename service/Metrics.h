#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace lumarin::service {

// The service's counters, shown by GET /metrics in the Prometheus text format. Counted from
// the server's loop and its workers at once, so every member is safe to touch from any thread.
class Metrics {
 public:
  Metrics() = default;
  Metrics(const Metrics&) = delete;
  Metrics& operator=(const Metrics&) = delete;

  // One answered request: its route (a path template, never a raw path), status and time.
  void recordRequest(std::string_view route, int status, double seconds);
  // A request refused by a limit: "signin", "create", "upload", "hashing", "connections",
  // "timeout".
  void recordThrottled(std::string_view reason);
  void recordStoreError() { storeErrors_.fetch_add(1, std::memory_order_relaxed); }
  void connectionOpened() { openConnections_.fetch_add(1, std::memory_order_relaxed); }
  void connectionClosed() { openConnections_.fetch_sub(1, std::memory_order_relaxed); }

  std::int64_t throttled(std::string_view reason) const;
  std::int64_t openConnections() const { return openConnections_.load(); }

  std::string render() const;

 private:
  static constexpr std::array<double, 11> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                      0.1,   0.25,   0.5,   1.0,  2.5};
  struct Histogram {
    std::array<std::int64_t, kBuckets.size()> buckets{};
    std::int64_t count = 0;
    double sum = 0;
  };

  mutable std::mutex mutex_;
  std::map<std::pair<std::string, int>, std::int64_t> requests_;
  std::map<std::string, Histogram> latency_;
  std::map<std::string, std::int64_t> throttled_;
  std::atomic<std::int64_t> storeErrors_{0};
  std::atomic<std::int64_t> openConnections_{0};
};

}  // namespace lumarin::service
