#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace lumarin {

// The program's own bundle: identifier, path and Info dictionary.
class Bundle {
 public:
  virtual ~Bundle() = default;
  virtual std::optional<std::string> bundleIdentifier() const = 0;
  // The bundle's location (on this machine: the directory of the executable).
  virtual std::filesystem::path bundlePath() const = 0;
  virtual std::filesystem::path executablePath() const = 0;
  // A string entry of the Info dictionary ("CFBundleShortVersionString", "CFBundleVersion",
  // "SUFeedURL", ...); absent when the key is missing or not a string.
  virtual std::optional<std::string> infoString(const std::string& key) const = 0;
};

}  // namespace lumarin
