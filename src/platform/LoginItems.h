#pragma once

#include "base/Result.h"

namespace lumarin {

// Launching the program when the user logs in (SMAppService.mainApp). Failures carry a
// localised description for the system log.
class LoginItems {
 public:
  virtual ~LoginItems() = default;
  virtual Status registerMainApp() = 0;
  virtual Status unregisterMainApp() = 0;
  virtual bool isRegistered() const = 0;
};

}  // namespace lumarin
