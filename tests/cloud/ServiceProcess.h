#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace lumarin::test {

// The real lumarin-service as a child process on a free loopback port, its SQLite database in
// `dir`. Stopped (SIGTERM, then waited for) by the destructor; it also dies with the test
// process, so a crashed test leaves no server behind.
class ServiceProcess {
 public:
  explicit ServiceProcess(const std::filesystem::path& dir);
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  bool running() const { return pid_ > 0; }
  int port() const { return port_; }
  std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  // What the service wrote before it said it was listening (for a failure message).
  const std::string& startOutput() const { return output_; }

 private:
  bool start(const std::filesystem::path& db, int port);

  pid_t pid_ = -1;
  int port_ = 0;
  int stderrFd_ = -1;
  std::string output_;
};

}  // namespace lumarin::test
