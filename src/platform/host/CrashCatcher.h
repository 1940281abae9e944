#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "platform/Diagnostics.h"

namespace lumarin {

class Queue;

// This machine's stand-in for the system's crash collection. Once installed, a fatal signal
// (a bad access, an illegal instruction, an arithmetic fault, an abort, a trap) writes a crash
// record into `directory` with async-signal-safe calls only — the signal, its code and
// sender, the operating system's version and the architecture prepared at installation, and
// the crashing thread's call stack — and then lets the signal take its course (the handler
// installed before, or the default action). At the next launch the records are delivered to
// the subscribers as diagnostics, once: each record is removed after its delivery. A record
// that cannot be read back (a link, another user's file, too large, not a record) is set aside
// under the extension ".unreadable" and named in the log.
class CrashCatcher final : public DiagnosticManager {
 public:
  CrashCatcher(std::filesystem::path directory, std::string osVersion, std::string architecture);

  // Installs the process's signal handlers (the last installation's directory wins).
  void install();
  // Deliveries run as tasks of `queue`, which must outlive the catcher. Until one is set,
  // subscribers are called on the subscribing thread.
  void setDeliveryQueue(Queue& queue) { queue_ = &queue; }

  // Where the catcher says what it set aside; nothing is said until one is set.
  void setLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }

  void addSubscriber(Subscriber subscriber) override;

  // A record's bytes, read without following a link and only from a regular file of this
  // user no larger than a record can be; the error says which condition failed.
  static Result<std::string> readRecord(const std::filesystem::path& path);

  const std::filesystem::path& directory() const { return directory_; }

  // One record's text as a diagnostic; nothing when it is not a crash record, or holds more
  // frames, longer lines or more bytes than the handler writes.
  static std::optional<CrashDiagnostic> parseRecord(std::string_view text);

 private:
  std::filesystem::path directory_;
  std::string osVersion_;
  std::string architecture_;
  void note(const std::string& line) const;

  Queue* queue_ = nullptr;
  std::function<void(const std::string&)> log_;
};

}  // namespace lumarin
