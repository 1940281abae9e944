#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumarin {

// One crash of the program as the system recorded it (MXCrashDiagnostic).
struct CrashDiagnostic {
  std::string osVersion;             // metadata.osVersion
  std::string platformArchitecture;  // metadata.platformArchitecture
  // callStackTree.JSONRepresentation(): bytes, normally UTF-8 JSON.
  std::string callStackTree;
  std::optional<std::int64_t> signal;
  std::optional<std::int64_t> exceptionType;
  std::optional<std::int64_t> exceptionCode;
  std::optional<std::string> terminationReason;
};

// One delivery's worth of diagnostics (MXDiagnosticPayload). Only crashes are modelled in
// full; the other kinds are counted so a payload without crashes can still be told apart.
struct DiagnosticPayload {
  std::vector<CrashDiagnostic> crashDiagnostics;
  int hangDiagnostics = 0;
  int cpuExceptionDiagnostics = 0;
  int diskWriteExceptionDiagnostics = 0;
};

// The system's diagnostic delivery (MXMetricManager). Diagnostics the system collected about
// earlier runs of the program reach each subscriber, some time after it subscribed, on a
// thread of the system's choosing. A delivery is made once.
class DiagnosticManager {
 public:
  using Subscriber = std::function<void(const std::vector<DiagnosticPayload>&)>;
  virtual ~DiagnosticManager() = default;
  virtual void addSubscriber(Subscriber subscriber) = 0;
};

}  // namespace lumarin
