#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

namespace lumarin {

// One message of the system log as the log store gives it back.
struct SystemLogEntry {
  std::chrono::system_clock::time_point date;
  std::string category;
  std::string message;
};

// The system log (os_log / NSLog). Unlike the debug log it is not kept by the program.
class SystemLog {
 public:
  static constexpr std::string_view kDefaultCategory = "default";

  virtual ~SystemLog() = default;
  virtual void log(std::string_view message) = 0;

  // The log store, restricted to this process: its message entries from `since` on, oldest
  // first, at most `limit` of them. A failure says why the store could not be read.
  virtual Result<std::vector<SystemLogEntry>> entriesSince(
      std::chrono::system_clock::time_point since, std::size_t limit) const = 0;
};

}  // namespace lumarin
