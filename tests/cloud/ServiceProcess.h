#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/HttpClient.h"

namespace lumarin::test {

// A helper program as a child process: started with its arguments, and taken as ready once it
// has written a line holding `ready` (on stdout or stderr). Stopped (SIGTERM, then waited for)
// by the destructor; it also dies with the test process, so a crashed test leaves nothing
// behind.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // False when it ended (or could not start) before saying it was ready.
  bool start(const std::vector<std::string>& argv, const std::string& ready);
  bool running() const { return pid_ > 0; }
  // What it wrote before it said it was ready (for a failure message).
  const std::string& output() const { return output_; }

 private:
  pid_t pid_ = -1;
  std::string output_;
};

// A loopback port the kernel just handed out and took back. Another process could take it
// before the caller binds it; the caller then tries another.
int freeLoopbackPort();

// Sends one request and waits for its answer. Waiting here is waiting for real I/O, which
// virtual time cannot move.
HttpResponse roundTrip(HttpClient& client, HttpRequest request);

// The real lumarin-service on a free loopback port, its SQLite database in `dir`; `options`
// are added to its command line (limits a test needs other than the defaults).
class ServiceProcess {
 public:
  explicit ServiceProcess(const std::filesystem::path& dir,
                          const std::vector<std::string>& options = {});

  bool running() const { return process_.running(); }
  int port() const { return port_; }
  std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  const std::string& startOutput() const { return process_.output(); }

 private:
  ChildProcess process_;
  int port_ = 0;
};

}  // namespace lumarin::test
