#include "diagnostics/CrashReporter.h"

#include "base/Json.h"
#include "base/Utf8.h"
#include "diagnostics/CrashConfig.h"
#include "platform/Bundle.h"
#include "platform/HttpClient.h"

namespace lumarin {

void CrashReporter::subscribe(DiagnosticManager& manager) {
  // The reporter lives as long as the process; the manager calls back on its own thread.
  manager.addSubscriber(
      [this](const std::vector<DiagnosticPayload>& payloads) { didReceive(payloads); });
}

void CrashReporter::didReceive(const std::vector<DiagnosticPayload>& payloads) {
  // Switched off, the delivery is dropped, not kept for later.
  if (!deps_.enabled()) {
    return;
  }
  for (const auto& payload : payloads) {
    for (const auto& crash : payload.crashDiagnostics) {
      send(report(crash));
    }
  }
}

std::string CrashReporter::report(const CrashDiagnostic& diagnostic) const {
  const std::string& stack = diagnostic.callStackTree;
  json::OrderedJson r = {
      {"type", "crash"},
      {"app", "lumarin"},
      {"installID", CrashConfig::installID(deps_.defaults)},
      {"appVersion", bundleVersion(deps_.bundle, "?")},
      {"build", bundleBuild(deps_.bundle, "?")},
      {"osVersion", diagnostic.osVersion},
      {"arch", diagnostic.platformArchitecture},
      {"callStack", utf8::isValid(stack) ? withoutHomeDirectory(stack, deps_.home) : ""},
  };
  if (diagnostic.signal) {
    r["signal"] = *diagnostic.signal;
  }
  if (diagnostic.exceptionType) {
    r["exceptionType"] = *diagnostic.exceptionType;
  }
  if (diagnostic.exceptionCode) {
    r["exceptionCode"] = *diagnostic.exceptionCode;
  }
  if (diagnostic.terminationReason) {
    r["terminationReason"] = *diagnostic.terminationReason;
  }
  return json::dump(r);
}

void CrashReporter::send(const std::string& report) {
  HttpRequest request;
  request.method = "POST";
  request.url = deps_.baseURL + std::string(CrashConfig::kEndpoint);
  request.headers.emplace_back("Content-Type", "application/json");
  request.body = report;
  request.timeout = seconds(kTimeoutSeconds);
  deps_.http.send(std::move(request), deps_.replyQueue, [](const HttpResponse&) {});
  if (sentObserver_) {
    sentObserver_(report);
  }
}

}  // namespace lumarin
