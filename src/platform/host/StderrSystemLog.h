#pragma once

#include "platform/RetainedSystemLog.h"

namespace lumarin {

// The system log of this machine is the process's standard error, one line per message; the
// recent messages are kept for reading back.
class StderrSystemLog final : public RetainedSystemLog {
 public:
  void log(std::string_view message) override;
};

}  // namespace lumarin
