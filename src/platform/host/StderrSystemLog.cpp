#include "platform/host/StderrSystemLog.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace lumarin {

void StderrSystemLog::log(std::string_view message) {
  retain(message);
  static std::mutex mutex;
  std::string line(message);
  line += '\n';
  std::lock_guard lock(mutex);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace lumarin
