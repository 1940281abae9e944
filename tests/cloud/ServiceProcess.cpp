#include "cloud/ServiceProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/Scheduler.h"

namespace lumarin::test {
namespace {

// Runs what the HTTP client posts at once, on the client's own thread: the caller is waiting
// for exactly that answer.
class RelayQueue final : public Queue {
 public:
  const std::string& label() const override { return label_; }
  void post(Task task) override { task(); }
  TaskHandle postAfter(Duration, Task task) override {
    task();
    return {};
  }
  bool isCurrent() const override { return false; }

 private:
  std::string label_ = "relay";
};

}  // namespace

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

HttpResponse roundTrip(HttpClient& client, HttpRequest request) {
  // The answer's state is shared with the completion, which may still come after a timed-out
  // wait; the relay runs the completion on curl's thread, so it must outlive the wait too.
  struct State {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<HttpResponse> result;
  };
  static RelayQueue relay;
  auto state = std::make_shared<State>();
  client.send(std::move(request), relay, [state](HttpResponse response) {
    std::lock_guard lock(state->mutex);
    state->result = std::move(response);
    state->answered.notify_all();
  });
  std::unique_lock lock(state->mutex);
  if (!state->answered.wait_for(lock, std::chrono::seconds(60),
                                [&] { return state->result.has_value(); })) {
    ADD_FAILURE() << "the service did not answer within 60 s";
    return HttpResponse{};
  }
  return *state->result;
}

bool ChildProcess::start(const std::vector<std::string>& arguments, const std::string& ready) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    return false;
  }
  std::vector<const char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const auto& argument : arguments) {
    argv.push_back(argument.c_str());
  }
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec: the test process has threads.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::dup2(fds[1], STDOUT_FILENO);
    ::dup2(fds[1], STDERR_FILENO);
    ::execv(argv[0], const_cast<char* const*>(argv.data()));
    ::_exit(127);
  }
  ::close(fds[1]);
  // A program that says it is ready has bound its socket; connections made from then on wait
  // in the backlog. End of file means it exited (for a service, the port was taken).
  output_.clear();
  char buffer[512];
  for (;;) {
    const auto n = ::read(fds[0], buffer, sizeof buffer);
    if (n <= 0) {
      break;
    }
    output_.append(buffer, static_cast<std::size_t>(n));
    if (output_.find(ready) != std::string::npos) {
      pid_ = pid;
      // Detached: what the program started (a browser) may hold the pipe a while longer.
      std::thread([fd = fds[0]] {
        char rest[4096];
        while (::read(fd, rest, sizeof rest) > 0) {
        }
        ::close(fd);
      }).detach();
      return true;
    }
  }
  ::close(fds[0]);
  ::waitpid(pid, nullptr, 0);
  return false;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

ServiceProcess::ServiceProcess(const std::filesystem::path& dir,
                               const std::vector<std::string>& options) {
  const std::string db = (dir / "service.db").string();
  for (int attempt = 0; attempt < 10 && !process_.running(); ++attempt) {
    const int port = freeLoopbackPort();
    std::vector<std::string> argv = {LUMARIN_SERVICE_EXECUTABLE,
                                     "--listen",
                                     "127.0.0.1:" + std::to_string(port),
                                     "--db",
                                     db,
                                     "--threads",
                                     "8"};
    argv.insert(argv.end(), options.begin(), options.end());
    if (port > 0 && process_.start(argv, "listening on")) {
      port_ = port;
    }
  }
}

}  // namespace lumarin::test
