#include "diagnostics/DebugLog.h"

#include <cstdio>
#include <mutex>
#include <system_error>

#include "base/Iso8601.h"
#include "base/Utf8.h"
#include "platform/Scheduler.h"

namespace lumarin {

namespace {

// The one lock of the debug log for the whole process, created on first use.
std::mutex& logLock() {
  static std::mutex mutex;
  return mutex;
}

std::string readWholeFile(const std::filesystem::path& path) {
  std::string out;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return out;
  }
  char buffer[65536];
  for (;;) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
    if (n == 0) {
      break;
    }
    out.append(buffer, n);
  }
  std::fclose(file);
  return out;
}

}  // namespace

DebugLog::DebugLog(std::filesystem::path directory, const Clock& clock)
    : directory_(std::move(directory)), clock_(clock) {}

std::filesystem::path DebugLog::directoryFor(const std::filesystem::path& applicationSupport,
                                             const std::string& bundleIdentifier) {
  return applicationSupport / (bundleIdentifier.empty() ? "Lumarin" : bundleIdentifier);
}

void DebugLog::log(std::string_view message) const {
  try {
    std::string line = iso8601::formatUtc(clock_.wallNow());
    line += ' ';
    line += message;
    line += '\n';

    std::lock_guard lock(logLock());
    std::error_code error;
    std::filesystem::create_directories(directory_, error);
    const auto current = currentFile();
    const auto size = std::filesystem::file_size(current, error);
    if (!error && size > kRotationThreshold) {
      std::filesystem::remove(previousFile(), error);
      std::filesystem::rename(current, previousFile(), error);
    }
    // Append mode creates the file when it is missing (for instance right after a rotation).
    std::FILE* file = std::fopen(current.c_str(), "ab");
    if (file == nullptr) {
      return;
    }
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
  } catch (...) {
    // Out of memory or a filesystem exception: the log is best effort by design.
  }
}

std::string DebugLog::tail() const {
  try {
    std::lock_guard lock(logLock());
    std::error_code error;
    std::filesystem::create_directories(directory_, error);
    std::string text = readWholeFile(previousFile());
    text += readWholeFile(currentFile());
    return std::string(utf8::suffix(text, kTailCharacters));
  } catch (...) {
    return {};
  }
}

}  // namespace lumarin
