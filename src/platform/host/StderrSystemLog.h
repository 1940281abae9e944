#pragma once

#include "platform/SystemLog.h"

namespace lumarin {

// The system log of this machine is the process's standard error, one line per message.
class StderrSystemLog final : public SystemLog {
 public:
  void log(std::string_view message) override;
};

}  // namespace lumarin
