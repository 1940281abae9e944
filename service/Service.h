#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "service/Crypto.h"
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
  };

  Service(Store& store, Options options);
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Never throws; every outcome is an HTTP answer.
  HttpResponse handle(const HttpRequest& request) const;

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
  HttpResponse updateFeed() const;
  HttpResponse updateArchive(std::string_view rest) const;

  // The account of a valid bearer token; otherwise `denied` holds the 401 (or 503) answer.
  struct Caller;
  Caller authenticate(const HttpRequest& request) const;
  HttpResponse storageFailure(const Error& error) const;
  HttpResponse pageStorageFailure(const Error& error) const;
  Seconds now() const;

  Store& store_;
  Options options_;
  // Checked against when an address has no account, so an unknown address costs as much time
  // as a wrong password and answers cannot be told apart by their speed.
  std::string decoyHash_;
};

}  // namespace lumarin::service
