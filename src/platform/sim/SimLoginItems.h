#pragma once

#include "platform/LoginItems.h"

namespace lumarin {

// Login items of the simulated Mac: remembers the registration; a scenario or test can make
// the service refuse.
class SimLoginItems final : public LoginItems {
 public:
  bool refuse = false;
  int calls = 0;

  Status registerMainApp() override { return change(true); }
  Status unregisterMainApp() override { return change(false); }
  bool isRegistered() const override { return registered_; }

 private:
  Status change(bool on) {
    ++calls;
    if (refuse) {
      return Error{"Operation not permitted"};
    }
    registered_ = on;
    return success();
  }
  bool registered_ = false;
};

}  // namespace lumarin
