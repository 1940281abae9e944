#pragma once

#include <functional>
#include <thread>

namespace lumarin {

// Turns SIGINT and SIGTERM into a normal quit: the handler only writes to a pipe; a watcher
// thread reads it and calls `onSignal` (once), from which the caller stops its run loop. A
// second signal while that quit is under way ends the process at once, by the signal.
// One instance per process.
class TerminationSignals {
 public:
  explicit TerminationSignals(std::function<void(int signal)> onSignal);
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 private:
  std::function<void(int)> onSignal_;
  int pipe_[2] = {-1, -1};
  std::thread watcher_;
};

}  // namespace lumarin
