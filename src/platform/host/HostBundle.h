#pragma once

#include <map>

#include "platform/Bundle.h"

namespace lumarin {

// The program's bundle on this machine: the executable's directory stands for the bundle and
// the Info dictionary is fixed at build time ("SUFeedURL" only when the build names a feed).
class HostBundle final : public Bundle {
 public:
  HostBundle();
  std::optional<std::string> bundleIdentifier() const override;
  std::filesystem::path bundlePath() const override;
  std::filesystem::path executablePath() const override { return executable_; }
  std::optional<std::string> infoString(const std::string& key) const override;

 private:
  std::filesystem::path executable_;
  std::map<std::string, std::string> info_;
};

}  // namespace lumarin
