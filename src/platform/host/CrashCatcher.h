#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Diagnostics.h"

namespace lumarin {

class Queue;

// This machine's stand-in for the system's crash collection. Once installed, a fatal signal
// (a bad access, an illegal instruction, an arithmetic fault, an abort, a trap) writes a crash
// record into `directory` with async-signal-safe calls only — the signal, its code and
// sender, the operating system's version and the architecture prepared at installation, and
// the crashing thread's call stack — and then lets the signal take its course (the handler
// installed before, or the default action). At the next launch the records are delivered to
// the subscribers as diagnostics, once: each record is removed after its delivery.
class CrashCatcher final : public DiagnosticManager {
 public:
  CrashCatcher(std::filesystem::path directory, std::string osVersion, std::string architecture);

  // Installs the process's signal handlers (the last installation's directory wins).
  void install();
  // Deliveries run as tasks of `queue`, which must outlive the catcher. Until one is set,
  // subscribers are called on the subscribing thread.
  void setDeliveryQueue(Queue& queue) { queue_ = &queue; }

  void addSubscriber(Subscriber subscriber) override;

  const std::filesystem::path& directory() const { return directory_; }

  // One record's text as a diagnostic; nothing when it is not a crash record.
  static std::optional<CrashDiagnostic> parseRecord(std::string_view text);

 private:
  std::filesystem::path directory_;
  std::string osVersion_;
  std::string architecture_;
  Queue* queue_ = nullptr;
};

}  // namespace lumarin
