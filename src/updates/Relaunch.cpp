#include "updates/Relaunch.h"

#include <spawn.h>
#include <unistd.h>

#include <cstring>
#include <system_error>

extern char** environ;

namespace lumarin {

Status relaunchAfterExit(const std::filesystem::path& executable,
                         const std::vector<std::string>& arguments, pid_t waitFor) {
  // "$1" is the process to wait for, "$2" the program, the rest its arguments; nothing is
  // spliced into the script itself.
  static constexpr const char* kScript =
      "pid=$1; shift; while kill -0 \"$pid\" 2>/dev/null; do sleep 0.2; done; exec \"$@\"";
  std::vector<std::string> argv = {
      "/bin/sh", "-c", kScript, "lumarin-relaunch", std::to_string(waitFor), executable.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> raw;
  raw.reserve(argv.size() + 1);
  for (auto& a : argv) {
    raw.push_back(a.data());
  }
  raw.push_back(nullptr);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own process group: the helper outlives the program and its terminal's signals.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t child = 0;
  const int rc = posix_spawn(&child, "/bin/sh", nullptr, &attributes, raw.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    return Error{"cannot start the relaunch helper: " + std::generic_category().message(rc)};
  }
  return success();
}

}  // namespace lumarin
