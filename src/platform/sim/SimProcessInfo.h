#pragma once

#include "platform/ProcessInfo.h"

namespace lumarin {

// Scripted process facts for the simulated Mac. Plain settable fields.
class SimProcessInfo final : public ProcessInfo {
 public:
  int pid = 4242;
  unsigned uid = 501;
  std::string osVersion = "Version 15.2 (Build 24C101)";
  std::map<std::string, std::string> env;

  int processIdentifier() const override { return pid; }
  unsigned userIdentifier() const override { return uid; }
  std::string operatingSystemVersionString() const override { return osVersion; }
  std::map<std::string, std::string> environment() const override { return env; }
  std::optional<std::string> environmentValue(const std::string& name) const override {
    auto it = env.find(name);
    if (it == env.end()) {
      return std::nullopt;
    }
    return it->second;
  }
};

}  // namespace lumarin
