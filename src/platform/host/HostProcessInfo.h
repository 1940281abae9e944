#pragma once

#include "platform/ProcessInfo.h"

namespace lumarin {

// The real process: identifiers from the kernel, the live environment.
class HostProcessInfo final : public ProcessInfo {
 public:
  int processIdentifier() const override;
  unsigned userIdentifier() const override;
  std::string operatingSystemVersionString() const override;
  std::map<std::string, std::string> environment() const override;
  std::optional<std::string> environmentValue(const std::string& name) const override;
};

}  // namespace lumarin
