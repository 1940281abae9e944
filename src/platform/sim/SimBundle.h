#pragma once

#include <map>

#include "platform/Bundle.h"

namespace lumarin {

// A scripted bundle for the simulated Mac: the Info dictionary is a plain map.
class SimBundle final : public Bundle {
 public:
  SimBundle() {
    info["CFBundleIdentifier"] = "com.kestova.Lumarin";
    info["CFBundleShortVersionString"] = "1.0";
    info["CFBundleVersion"] = "100";
  }

  std::map<std::string, std::string> info;
  std::filesystem::path path = "/Applications/Lumarin.app";

  std::optional<std::string> bundleIdentifier() const override {
    return infoString("CFBundleIdentifier");
  }
  std::filesystem::path bundlePath() const override { return path; }
  std::filesystem::path executablePath() const override {
    return path / "Contents" / "MacOS" / "Lumarin";
  }
  std::optional<std::string> infoString(const std::string& key) const override {
    auto it = info.find(key);
    if (it == info.end()) {
      return std::nullopt;
    }
    return it->second;
  }
};

}  // namespace lumarin
