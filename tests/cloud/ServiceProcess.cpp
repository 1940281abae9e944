#include "cloud/ServiceProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace lumarin::test {
namespace {

// A port the kernel just handed out and took back. Another process could take it before the
// service binds it; the caller then tries another.
int freeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return 0;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

}  // namespace

ServiceProcess::ServiceProcess(const std::filesystem::path& dir) {
  for (int attempt = 0; attempt < 10 && pid_ <= 0; ++attempt) {
    const int port = freeLoopbackPort();
    if (port > 0 && start(dir / "service.db", port)) {
      port_ = port;
    }
  }
}

bool ServiceProcess::start(const std::filesystem::path& db, int port) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    return false;
  }
  const std::string listen = "127.0.0.1:" + std::to_string(port);
  const std::string dbPath = db.string();
  std::vector<const char*> argv = {LUMARIN_SERVICE_EXECUTABLE,
                                   "--listen",
                                   listen.c_str(),
                                   "--db",
                                   dbPath.c_str(),
                                   "--threads",
                                   "8",
                                   nullptr};
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec: the test process has threads.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::dup2(fds[1], STDERR_FILENO);
    ::execv(argv[0], const_cast<char* const*>(argv.data()));
    ::_exit(127);
  }
  ::close(fds[1]);
  // The service says it listens once its socket is bound; connections made from then on wait
  // in the backlog. End of file means it exited (the port was taken).
  output_.clear();
  char buffer[512];
  for (;;) {
    const auto n = ::read(fds[0], buffer, sizeof buffer);
    if (n <= 0) {
      break;
    }
    output_.append(buffer, static_cast<std::size_t>(n));
    if (output_.find("listening on") != std::string::npos) {
      pid_ = pid;
      stderrFd_ = fds[0];
      return true;
    }
  }
  ::close(fds[0]);
  ::waitpid(pid, nullptr, 0);
  return false;
}

ServiceProcess::~ServiceProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  // Kept open until now: the service's later lines on stderr must not meet a closed pipe.
  if (stderrFd_ >= 0) {
    ::close(stderrFd_);
  }
}

}  // namespace lumarin::test
