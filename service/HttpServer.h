#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "base/Result.h"

namespace lumarin::service {

class Service;

// Puts a Service on the network: plain HTTP for loopback development, HTTPS when given a
// certificate. The HTTP library stays inside the .cpp (it is a heavy header). Every method and
// path reaches the Service, so 404 and 405 answers and error bodies are ours and always JSON.
class HttpServer {
 public:
  struct Options {
    // Connections are served one thread each for as long as they are kept alive, so the pool
    // must be at least as large as the number of clients expected at once.
    std::size_t threads = 64;
    std::size_t maxBodyBytes = 1024 * 1024;
    std::optional<std::string> tlsCertificate;
    std::optional<std::string> tlsKey;
  };

  HttpServer(Service& service, Options options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds the listening socket; port 0 takes a free one. Returns the port.
  Result<int> bind(const std::string& host, int port);
  // Serves until stop(); blocks the calling thread.
  bool run();
  // Serves on a thread of its own (tests, benchmarks); stop() or the destructor ends it.
  void start();
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lumarin::service
