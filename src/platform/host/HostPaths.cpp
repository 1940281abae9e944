#include "platform/host/HostPaths.h"

#include <pwd.h>
#include <unistd.h>

#include "platform/ProcessInfo.h"
#include "platform/host/LocalURLChannel.h"

namespace lumarin {

namespace {

// XDG says relative values are invalid and must be ignored.
std::optional<std::filesystem::path> absoluteVariable(const ProcessInfo& process,
                                                      const char* name) {
  auto value = process.environmentValue(name);
  if (!value || value->empty() || (*value)[0] != '/') {
    return std::nullopt;
  }
  return std::filesystem::path(*value);
}

}  // namespace

HostPaths::HostPaths(const ProcessInfo& process) : process_(process) {}

std::filesystem::path HostPaths::home() const {
  if (auto home = absoluteVariable(process_, "HOME")) {
    return *home;
  }
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir) {
    return entry->pw_dir;
  }
  return "/";
}

std::filesystem::path HostPaths::applicationSupportDirectory() const {
  if (auto dir = absoluteVariable(process_, "XDG_DATA_HOME")) {
    return *dir;
  }
  return home() / ".local" / "share";
}

std::filesystem::path HostPaths::temporaryDirectory() const {
  if (auto dir = absoluteVariable(process_, "TMPDIR")) {
    return *dir;
  }
  return "/tmp";
}

std::filesystem::path HostPaths::privateDirectory() const {
  return LocalURLChannel::privateDirectory(process_.environmentValue("XDG_RUNTIME_DIR"),
                                           temporaryDirectory(), process_.userIdentifier());
}

std::filesystem::path HostPaths::configurationDirectory() const {
  if (auto dir = absoluteVariable(process_, "XDG_CONFIG_HOME")) {
    return *dir;
  }
  return home() / ".config";
}

}  // namespace lumarin
