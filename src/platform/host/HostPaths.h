#pragma once

#include "platform/Paths.h"

namespace lumarin {

class ProcessInfo;

// The XDG locations of this machine: Application Support is $XDG_DATA_HOME (else
// ~/.local/share), the temporary directory $TMPDIR (else /tmp); the program's defaults file
// lives under $XDG_CONFIG_HOME (else ~/.config).
class HostPaths final : public Paths {
 public:
  explicit HostPaths(const ProcessInfo& process);
  std::filesystem::path applicationSupportDirectory() const override;
  std::filesystem::path temporaryDirectory() const override;
  std::filesystem::path privateDirectory() const override;
  std::filesystem::path configurationDirectory() const;

 private:
  std::filesystem::path home() const;
  const ProcessInfo& process_;
};

}  // namespace lumarin
