#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/LoginItems.h"

namespace lumarin {

// The login item of this machine: an XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/com.kestova.Lumarin.desktop) that starts the executable, with
// `options` after it (plain option words such as "--desktop", written as they are).
class XdgLoginItems final : public LoginItems {
 public:
  XdgLoginItems(std::filesystem::path autostartDirectory, std::filesystem::path executable,
                std::vector<std::string> options = {});

  Status registerMainApp() override;
  Status unregisterMainApp() override;
  bool isRegistered() const override;

  std::filesystem::path entryFile() const { return directory_ / "com.kestova.Lumarin.desktop"; }
  // The Exec= value: the path quoted as the desktop entry format requires.
  static std::string execValue(const std::filesystem::path& executable);

 private:
  std::filesystem::path directory_;
  std::filesystem::path executable_;
  std::vector<std::string> options_;
};

}  // namespace lumarin
