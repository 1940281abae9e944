#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/Result.h"

namespace lumarin {

// Starts `executable` with `arguments` once the process `waitFor` has ended, so that the
// freshly installed program does not meet the old one's single-instance lock. A small
// detached shell waits for the old process; the caller ends its own process right after.
Status relaunchAfterExit(const std::filesystem::path& executable,
                         const std::vector<std::string>& arguments, pid_t waitFor);

}  // namespace lumarin
