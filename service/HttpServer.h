#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace lumarin::service {

class Service;

// Puts a Service on the network: plain HTTP for loopback development, HTTPS when given a
// certificate. One event loop owns every socket: it accepts, reads each request's head and
// body under a deadline and within bounds, and only a request read in full (or a head that
// must be authorised before its body is read) goes to the pool of workers that run the
// handlers. A connection that is idle or trickling bytes therefore costs a descriptor and a few
// kilobytes, never a thread, and cannot delay anyone else.
class HttpServer {
 public:
  struct Options {
    // Workers running handlers (store calls, password hashing); connections do not hold them.
    // 0: defaultWorkerCount().
    std::size_t threads = 0;
    std::size_t maxBodyBytes = 1024 * 1024;
    std::optional<std::string> tlsCertificate;
    std::optional<std::string> tlsKey;
    // The request line and header fields together, and the number of fields.
    std::size_t maxHeaderBytes = 16 * 1024;
    std::size_t maxHeaderCount = 64;
    // From a request's first byte until its body is complete; a client that has not sent it
    // all by then gets 408 and is disconnected, however it spaces its bytes.
    std::chrono::milliseconds requestTimeout{10'000};
    // A kept-alive connection with no request under way is closed after this long.
    std::chrono::milliseconds idleTimeout{60'000};
    // An answer the client does not take within this long is dropped with its connection.
    std::chrono::milliseconds writeTimeout{30'000};
    // Connections open at once from one client address (the trusted proxy is exempt), and in
    // total (0: the descriptor limit less a reserve for the store and the log).
    std::size_t maxConnectionsPerAddress = 64;
    std::size_t maxConnections = 0;
    // Connections from this address carry the client's address in X-Forwarded-For.
    std::optional<std::string> trustedProxy;
    // One JSON line per answered request; unset: none.
    std::function<void(std::string_view)> accessLog;
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
  // Safe from any thread, also before run() has begun.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Workers when none are asked for: twice the processors, at least 4 and at most 16. Handlers
// are short CPU work around a store that serialises its calls (SQLite) or lends a few
// connections (PostgreSQL); workers past what can run at once only queue at the store's lock
// and for the processors, where the unlucky ones wait far longer than the FIFO of requests
// would have made them.
std::size_t defaultWorkerCount();

// Raises the soft limit of open descriptors to the hard limit (each connection takes one), and
// returns the soft limit now in force.
std::size_t raiseDescriptorLimit();

}  // namespace lumarin::service
