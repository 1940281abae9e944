#include "service/Metrics.h"

#include <cstdio>

namespace lumarin::service {

namespace {

// Label values are our own route names and reasons, but escape them as the format asks anyway.
std::string label(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == '"') {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string number(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.6g", value);
  return buffer;
}

}  // namespace

void Metrics::recordRequest(std::string_view route, int status, double seconds) {
  std::lock_guard lock(mutex_);
  ++requests_[{std::string(route), status}];
  auto& histogram = latency_[std::string(route)];
  for (std::size_t i = 0; i < kBuckets.size(); ++i) {
    if (seconds <= kBuckets[i]) {
      ++histogram.buckets[i];
    }
  }
  ++histogram.count;
  histogram.sum += seconds;
}

void Metrics::recordThrottled(std::string_view reason) {
  std::lock_guard lock(mutex_);
  ++throttled_[std::string(reason)];
}

std::int64_t Metrics::throttled(std::string_view reason) const {
  std::lock_guard lock(mutex_);
  auto it = throttled_.find(std::string(reason));
  return it == throttled_.end() ? 0 : it->second;
}

std::string Metrics::render() const {
  std::lock_guard lock(mutex_);
  std::string out;
  out += "# HELP lumarin_requests_total Requests answered, by route and status.\n";
  out += "# TYPE lumarin_requests_total counter\n";
  for (const auto& [key, count] : requests_) {
    out += "lumarin_requests_total{route=\"" + label(key.first) + "\",status=\"" +
           std::to_string(key.second) + "\"} " + std::to_string(count) + "\n";
  }
  out +=
      "# HELP lumarin_request_duration_seconds Time from a request's first byte to its answer.\n";
  out += "# TYPE lumarin_request_duration_seconds histogram\n";
  for (const auto& [route, h] : latency_) {
    const auto name = label(route);
    for (std::size_t i = 0; i < kBuckets.size(); ++i) {
      out += "lumarin_request_duration_seconds_bucket{route=\"" + name + "\",le=\"" +
             number(kBuckets[i]) + "\"} " + std::to_string(h.buckets[i]) + "\n";
    }
    out += "lumarin_request_duration_seconds_bucket{route=\"" + name + "\",le=\"+Inf\"} " +
           std::to_string(h.count) + "\n";
    out += "lumarin_request_duration_seconds_sum{route=\"" + name + "\"} " + number(h.sum) + "\n";
    out += "lumarin_request_duration_seconds_count{route=\"" + name + "\"} " +
           std::to_string(h.count) + "\n";
  }
  out += "# HELP lumarin_throttled_total Requests and connections refused by a limit, by reason.\n";
  out += "# TYPE lumarin_throttled_total counter\n";
  for (const auto& [reason, count] : throttled_) {
    out +=
        "lumarin_throttled_total{reason=\"" + label(reason) + "\"} " + std::to_string(count) + "\n";
  }
  out += "# HELP lumarin_store_errors_total Failures of the store.\n";
  out += "# TYPE lumarin_store_errors_total counter\n";
  out += "lumarin_store_errors_total " + std::to_string(storeErrors_.load()) + "\n";
  out += "# HELP lumarin_open_connections Client connections open now.\n";
  out += "# TYPE lumarin_open_connections gauge\n";
  out += "lumarin_open_connections " + std::to_string(openConnections_.load()) + "\n";
  return out;
}

}  // namespace lumarin::service
