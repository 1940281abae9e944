#pragma once

namespace lumarin {

// The main thread's loop: runs the main queue's tasks until stopped.
class RunLoop {
 public:
  virtual ~RunLoop() = default;
  // Blocks until `stop()`; returns at once when stop was already requested.
  virtual void run() = 0;
  // Callable from any thread, also before `run()`.
  virtual void stop() = 0;
};

}  // namespace lumarin
