#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "service/Crypto.h"
#include "service/Metrics.h"
#include "service/Store.h"

namespace lumarin::service {

// One HTTP request as the handlers see it, free of the HTTP library so the handlers can be
// driven directly (tests, fuzzing) as well as through the server.
struct HttpRequest {
  std::string method;
  std::string path;
  std::vector<std::pair<std::string, std::string>> query;
  std::string authorization;
  std::string body;
  // Where the request came from: the socket's peer, or what the trusted proxy says. Counted
  // for limits and written to the access log; empty when driven without a server.
  std::string clientAddress;
  // Set by screen() when it has already checked the bearer token, so it is not looked up twice.
  std::optional<Account> authenticated;
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

// The handlers of every path the program calls: the sign-in page, the token exchange, the
// profile, sign-out, the settings blob, the three report uploads, and the update feed with its
// archives. Stateless apart from the
// store, so one instance serves all of the server's threads at once.
class Service {
 public:
  static constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
  static constexpr Seconds kCodeLifetime = 600;

  // Every limit the handlers enforce; the defaults are the documented ones, tests make them
  // small.
  struct Limits {
    // Failed sign-ins (and attempts to create an account that exists) within `signInWindow`,
    // per account and per client address; past the count each further attempt waits, the
    // first time `signInFirstDelay` after the last failure, then twice as long per failure,
    // never longer than the window.
    int signInFailuresPerAccount = 5;
    int signInFailuresPerAddress = 20;
    Seconds signInWindow = 15 * 60;
    Seconds signInFirstDelay = 60;
    // Accounts one client address may create within `accountWindow`.
    int accountsPerAddress = 10;
    Seconds accountWindow = 60 * 60;
    // Password hashes computed at once; past it sign-in answers 503 (0: half the processors).
    std::size_t concurrentHashes = 0;
    // Uploads of one kind (improve, crash, testlog) per hour, by installation identifier and
    // by client address: a number and a sum of body bytes.
    int uploadsPerInstall = 30;
    std::int64_t uploadBytesPerInstall = 8 * 1024 * 1024;
    int uploadsPerAddress = 300;
    std::int64_t uploadBytesPerAddress = 64 * 1024 * 1024;
    Seconds uploadWindow = 60 * 60;
    // Reports without an account kept at most; the oldest go first.
    std::int64_t maxAnonymousReports = 100'000;
    // A token not used for this long no longer signs in.
    Seconds tokenIdleLifetime = 90 * 24 * 60 * 60;
  };

  struct Options {
    // "Now" in seconds since 1970; tests move it to expire codes without waiting.
    std::function<Seconds()> now;
    std::uint32_t passwordIterations = crypto::kDefaultPasswordIterations;
    std::size_t maxBodyBytes = kMaxBodyBytes;
    // Where failures that are ours, not the client's (storage errors), are reported.
    std::function<void(std::string_view)> log;
    // The service's public base URL ("https://updates.example.com", no trailing slash) for the
    // archive links of the update feed; empty gives path-absolute links.
    std::string publicURL;
    Limits limits;
  };

  Service(Store& store, Options options);
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Never throws; every outcome is an HTTP answer.
  HttpResponse handle(const HttpRequest& request) const;

  // Whether a request's bearer token is checked before its body is read (the server then
  // calls screen() with the head alone), and the check: an answer when the request is refused,
  // otherwise nothing, with the caller's account noted in the request.
  bool needsAuthorisationFirst(const HttpRequest& head) const;
  std::optional<HttpResponse> screen(HttpRequest& head) const;

  // The path template of a request for logs and metrics: never an identifier or a query.
  static std::string routeLabel(std::string_view method, std::string_view path);

  Metrics& metrics() const { return metrics_; }

 private:
  HttpResponse route(const HttpRequest& request) const;
  HttpResponse connectPage(const HttpRequest& request) const;
  HttpResponse connectSubmit(const HttpRequest& request) const;
  HttpResponse token(const HttpRequest& request) const;
  HttpResponse me(const HttpRequest& request) const;
  HttpResponse logout(const HttpRequest& request) const;
  HttpResponse syncGet(const HttpRequest& request) const;
  HttpResponse syncPut(const HttpRequest& request) const;
  HttpResponse report(std::string_view kind, const HttpRequest& request) const;
  HttpResponse devices(const HttpRequest& request) const;
  HttpResponse signOutDevice(const HttpRequest& request) const;
  HttpResponse health() const;
  HttpResponse updateFeed() const;
  HttpResponse updateArchive(std::string_view rest) const;

  // The account of a valid bearer token; otherwise `denied` holds the 401 (or 503) answer.
  struct Caller;
  Caller authenticate(const HttpRequest& request) const;
  HttpResponse storageFailure(const Error& error) const;
  HttpResponse pageStorageFailure(const Error& error) const;
  Seconds now() const;
  Seconds tokenCutoff(Seconds at) const;
  // Seconds until a counted limit lets the next attempt through (0: now).
  Result<Seconds> signInWait(std::string_view scope, std::string_view key, int limit,
                             Seconds at) const;
  void recordSignInFailure(std::string_view accountKey, std::string_view address, Seconds at) const;
  std::optional<HttpResponse> uploadRefusal(std::string_view kind, std::string_view scope,
                                            std::string_view key, int count, std::int64_t bytes,
                                            std::size_t size, Seconds at) const;
  void housekeeping(Seconds at) const;

  Store& store_;
  Options options_;
  // Checked against when an address has no account, so an unknown address costs as much time
  // as a wrong password and answers cannot be told apart by their speed.
  std::string decoyHash_;
  std::size_t hashLimit_ = 1;
  mutable std::atomic<std::size_t> hashesInFlight_{0};
  mutable std::atomic<Seconds> lastHousekeeping_{0};
  mutable Metrics metrics_;
};

}  // namespace lumarin::service
