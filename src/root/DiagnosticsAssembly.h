#pragma once

#include <memory>
#include <string>

#include "base/Properties.h"

namespace lumarin {

class AppSettings;
class CloudAccount;
class CrashReporter;
class DebugLog;
class ImproveReporter;
class TesterMode;
class UserDefaults;
struct CloudConfig;
struct Platform;

// The diagnostics of one run: statistics, crash reports and tester mode, wired to the web
// service and the settings; and, in runs that write a report, what they did.
class DiagnosticsAssembly {
 public:
  DiagnosticsAssembly(const Platform& platform, const DebugLog& log, AppSettings& settings,
                      const CloudConfig& cloud, const CloudAccount& account, bool keepHistory);
  DiagnosticsAssembly(const DiagnosticsAssembly&) = delete;
  DiagnosticsAssembly& operator=(const DiagnosticsAssembly&) = delete;
  ~DiagnosticsAssembly();

  ImproveReporter& improve() { return *improve_; }
  CrashReporter& crashReporter() { return *crash_; }
  TesterMode& tester() { return *tester_; }
  // Records one statistics event.
  void record(const std::string& name, const Properties& properties);

  // The report's "diagnostics": statistics recorded, crash reports sent, tester uploads.
  std::string historyJson() const;

 private:
  struct History;
  UserDefaults& defaults_;
  std::shared_ptr<ImproveReporter> improve_;
  std::unique_ptr<CrashReporter> crash_;
  std::shared_ptr<TesterMode> tester_;
  std::shared_ptr<History> history_;
};

}  // namespace lumarin
