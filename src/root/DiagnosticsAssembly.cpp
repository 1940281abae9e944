#include "root/DiagnosticsAssembly.h"

#include <cmath>
#include <mutex>

#include "base/Json.h"
#include "cloud/CloudAccount.h"
#include "cloud/CloudConfig.h"
#include "diagnostics/CrashReporter.h"
#include "diagnostics/DebugLog.h"
#include "diagnostics/ImproveReporter.h"
#include "diagnostics/TesterMode.h"
#include "model/AppSettings.h"
#include "platform/Bundle.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#include "platform/ProcessInfo.h"
#include "platform/Scheduler.h"

namespace lumarin {

namespace {

json::Json toJson(const Properties& properties) {
  json::Json out = json::Json::object();
  for (const auto& [key, value] : properties) {
    std::visit([&out, &k = key](const auto& v) { out[k] = v; }, value);
  }
  return out;
}

}  // namespace

// What the diagnostics did, in run time; kept only when a report is asked for. Written from
// several queues.
struct DiagnosticsAssembly::History {
  explicit History(const Clock& c) : clock(c), start(c.monotonicNow()) {}
  double now() const { return std::round(toSeconds(clock.monotonicNow() - start) * 1000) / 1000; }
  void add(json::Json& list, json::Json entry) {
    std::lock_guard lock(mutex);
    list.push_back(std::move(entry));
  }

  const Clock& clock;
  Duration start;
  std::mutex mutex;
  json::Json statistics = json::Json::array();
  json::Json crashReports = json::Json::array();
  json::Json testerUploads = json::Json::array();
};

DiagnosticsAssembly::DiagnosticsAssembly(const Platform& p, const DebugLog& log,
                                         AppSettings& settings, const CloudConfig& cloud,
                                         const CloudAccount& account, bool keepHistory)
    : defaults_(*p.defaults),
      history_(keepHistory ? std::make_shared<History>(*p.clock) : nullptr) {
  const std::string home = p.processInfo->environmentValue("HOME").value_or("");
  const auto directory = DebugLog::directoryFor(p.paths->applicationSupportDirectory(),
                                                p.bundle->bundleIdentifier().value_or(""));
  improve_ = std::make_shared<ImproveReporter>(ImproveReporter::Dependencies{
      *p.scheduler, *p.defaults, *p.http, *p.bundle, *p.processInfo, directory, cloud.baseURL});
  std::weak_ptr<ImproveReporter> weakImprove = improve_;
  settings.setStatisticsQueueClearer([weakImprove] {
    if (auto improve = weakImprove.lock()) {
      improve->clearQueue();
    }
  });
  crash_ = std::make_unique<CrashReporter>(CrashReporter::Dependencies{
      // Read from the stored setting: deliveries come on a thread of the system's choosing,
      // and the settings store belongs to the main thread.
      [defaults = p.defaults] { return defaults->boolean("crashReportingEnabled").value_or(true); },
      *p.defaults, *p.http, p.scheduler->globalQueue(QoS::utility), *p.bundle, cloud.baseURL,
      home});
  tester_ = std::make_shared<TesterMode>(TesterMode::Dependencies{
      *p.defaults, *p.scheduler, log, *p.systemLog, *p.http, *p.bundle, *p.processInfo,
      cloud.baseURL, home, [&account] {
        return std::vector<std::string>{account.token().value_or(""), account.state()->email};
      }});
  if (auto history = history_) {
    crash_->setSentObserver([history](const std::string& report) {
      // The installation's identifier is new in every run that keeps its settings in memory;
      // the report stays the same from run to run without it.
      json::Json sent = json::parse(report).valueOr(json::Json::object());
      if (sent.is_object() && sent.contains("installID")) {
        sent["installID"] = "(this installation)";
      }
      history->add(history->crashReports, json::Json{{"at", history->now()}, {"report", sent}});
    });
    // The uploads' texts hold the debug log of earlier runs too: only when they went.
    tester_->setUploadObserver([history](const std::string&) {
      history->add(history->testerUploads, json::Json{{"at", history->now()}});
    });
  }
}

DiagnosticsAssembly::~DiagnosticsAssembly() = default;

void DiagnosticsAssembly::record(const std::string& name, const Properties& properties) {
  improve_->record(name, properties);
  if (history_ && ImproveConfig::enabled(defaults_)) {
    history_->add(
        history_->statistics,
        json::Json{{"at", history_->now()}, {"name", name}, {"properties", toJson(properties)}});
  }
}

std::string DiagnosticsAssembly::historyJson() const {
  if (!history_) {
    return "{}";
  }
  std::lock_guard lock(history_->mutex);
  return json::dump(json::Json{{"statistics", history_->statistics},
                               {"crashReports", history_->crashReports},
                               {"testerUploads", history_->testerUploads}});
}

}  // namespace lumarin
