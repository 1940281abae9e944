#pragma once

#include <map>
#include <optional>
#include <string>

namespace lumarin {

// Facts about the running process and its system.
class ProcessInfo {
 public:
  virtual ~ProcessInfo() = default;
  virtual int processIdentifier() const = 0;
  virtual unsigned userIdentifier() const = 0;
  // Human-readable operating system version ("Version 15.2 (Build 24C101)" on a Mac).
  virtual std::string operatingSystemVersionString() const = 0;
  virtual std::map<std::string, std::string> environment() const = 0;
  virtual std::optional<std::string> environmentValue(const std::string& name) const = 0;
};

}  // namespace lumarin
