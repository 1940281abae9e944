#pragma once

#include <atomic>

#include "platform/RunLoop.h"

namespace lumarin {

// The Qt event loop of the application object (which must exist before `run()`).
class QtRunLoop final : public RunLoop {
 public:
  void run() override;
  void stop() override;

 private:
  std::atomic<bool> stopRequested_{false};
};

}  // namespace lumarin
