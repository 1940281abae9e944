#include "platform/host/HostProcessInfo.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace lumarin {

int ProcessInfo_pid();

int HostProcessInfo::processIdentifier() const { return static_cast<int>(::getpid()); }

unsigned HostProcessInfo::userIdentifier() const { return static_cast<unsigned>(::getuid()); }

std::string HostProcessInfo::operatingSystemVersionString() const {
  struct utsname name {};
  if (::uname(&name) != 0) {
    return "Unknown";
  }
  return std::string(name.sysname) + " " + name.release + " (" + name.machine + ")";
}

std::map<std::string, std::string> HostProcessInfo::environment() const {
  std::map<std::string, std::string> out;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* eq = std::strchr(*entry, '=');
    if (eq != nullptr) {
      out.emplace(std::string(*entry, static_cast<std::size_t>(eq - *entry)), std::string(eq + 1));
    }
  }
  return out;
}

std::optional<std::string> HostProcessInfo::environmentValue(const std::string& name) const {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) {
    return std::nullopt;
  }
  return std::string(value);
}

}  // namespace lumarin
