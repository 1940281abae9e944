#pragma once

#include <string_view>

namespace lumarin {

// The system log (os_log / NSLog). Unlike the debug log it is not kept by the program.
class SystemLog {
 public:
  virtual ~SystemLog() = default;
  virtual void log(std::string_view message) = 0;
};

}  // namespace lumarin
