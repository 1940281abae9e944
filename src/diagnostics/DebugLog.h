#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace lumarin {

class Clock;

// The always-on diagnostic log: "tester.log" plus one older "tester.log.1" in the program's
// Application Support directory. Each line is "2026-03-01T12:00:05Z message\n" (UTC, whole
// seconds). The current file is rotated before a write once it exceeds 524,288 bytes.
//
// Callable from any thread: one process-wide lock serialises every append, rotation and tail
// read, across all instances. Every line opens and closes the file, so nothing is lost when
// the process dies and nothing is buffered. Failures (a missing or read-only directory, a
// full disk) are swallowed: logging never throws, blocks on anything but the lock, or stops
// the caller.
class DebugLog {
 public:
  static constexpr std::uintmax_t kRotationThreshold = 524'288;
  static constexpr std::size_t kTailCharacters = 262'144;

  // `directory` is created (with its parents) on every access.
  DebugLog(std::filesystem::path directory, const Clock& clock);
  DebugLog(const DebugLog&) = delete;
  DebugLog& operator=(const DebugLog&) = delete;

  // The directory for a bundle: Application Support / bundle identifier, or "Lumarin" when
  // the bundle has none.
  static std::filesystem::path directoryFor(const std::filesystem::path& applicationSupport,
                                            const std::string& bundleIdentifier);

  void log(std::string_view message) const;
  // "tester.log.1" then "tester.log", cut to the last 262,144 characters.
  std::string tail() const;

  std::filesystem::path currentFile() const { return directory_ / "tester.log"; }
  std::filesystem::path previousFile() const { return directory_ / "tester.log.1"; }

 private:
  std::filesystem::path directory_;
  const Clock& clock_;
};

}  // namespace lumarin
