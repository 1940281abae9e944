#include "platform/host/XdgLoginItems.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace lumarin {

XdgLoginItems::XdgLoginItems(std::filesystem::path autostartDirectory,
                             std::filesystem::path executable, std::vector<std::string> options)
    : directory_(std::move(autostartDirectory)),
      executable_(std::move(executable)),
      options_(std::move(options)) {}

std::string XdgLoginItems::execValue(const std::filesystem::path& executable) {
  std::string out = "\"";
  for (char c : executable.string()) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') {
      out += '\\';
    }
    out += c;
  }
  out += '"';
  return out;
}

Status XdgLoginItems::registerMainApp() {
  std::error_code error;
  std::filesystem::create_directories(directory_, error);
  if (error) {
    return Error{"The folder " + directory_.string() + " could not be created: " + error.message()};
  }
  const auto temp = entryFile().string() + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Lumarin\n"
           "Comment=Notification badges and every menu bar item in your menu bar\n"
           "Exec="
        << execValue(executable_);
    for (const auto& option : options_) {
      out << ' ' << option;
    }
    out << "\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "X-GNOME-Autostart-enabled=true\n";
    out.close();
    if (!out) {
      std::filesystem::remove(temp, error);
      return Error{"The login item could not be written to " + directory_.string() + "."};
    }
  }
  std::filesystem::rename(temp, entryFile(), error);
  if (error) {
    std::filesystem::remove(temp, error);
    return Error{"The login item could not be saved: " + error.message()};
  }
  return success();
}

Status XdgLoginItems::unregisterMainApp() {
  std::error_code error;
  std::filesystem::remove(entryFile(), error);
  if (error) {
    return Error{"The login item could not be removed: " + error.message()};
  }
  return success();
}

bool XdgLoginItems::isRegistered() const {
  std::error_code error;
  return std::filesystem::exists(entryFile(), error);
}

}  // namespace lumarin
