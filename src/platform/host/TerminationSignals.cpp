#include "platform/host/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace lumarin {

namespace {

int gWriteEnd = -1;

void handleSignal(int signal) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signal);
  if (gWriteEnd >= 0) {
    [[maybe_unused]] const auto n = ::write(gWriteEnd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
  if (::pipe2(pipe_, O_CLOEXEC) != 0) {
    return;
  }
  gWriteEnd = pipe_[1];
  struct sigaction action {};
  action.sa_handler = handleSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  watcher_ = std::thread([this] {
    bool delivered = false;
    for (;;) {
      unsigned char byte = 0;
      const ssize_t n = ::read(pipe_[0], &byte, 1);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0 || byte == 0) {
        return;  // closed, or the destructor's wake-up
      }
      if (delivered) {
        // Asked again while the first request is still being honoured: the user means now.
        ::signal(byte, SIG_DFL);
        ::raise(byte);
        return;
      }
      delivered = true;
      onSignal_(byte);
    }
  });
}

TerminationSignals::~TerminationSignals() {
  if (pipe_[1] < 0) {
    return;
  }
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  gWriteEnd = -1;
  const unsigned char stop = 0;
  [[maybe_unused]] const auto n = ::write(pipe_[1], &stop, 1);
  if (watcher_.joinable()) {
    watcher_.join();
  }
  ::close(pipe_[0]);
  ::close(pipe_[1]);
}

}  // namespace lumarin
