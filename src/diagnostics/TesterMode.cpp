#include "diagnostics/TesterMode.h"

#include <ctime>

#include "base/Iso8601.h"
#include "base/Json.h"
#include "diagnostics/CrashConfig.h"
#include "diagnostics/DebugLog.h"
#include "platform/Bundle.h"
#include "platform/HttpClient.h"
#include "platform/ProcessInfo.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"

namespace lumarin {

namespace {

constexpr const char* kEnabledKey = "testerModeEnabled";
constexpr const char* kLastExportKey = "testerLastExport";

using SystemTime = std::chrono::system_clock::time_point;

double secondsSince1970(SystemTime t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

// "2026-03-01 12:00:05 +0000".
std::string windowStart(SystemTime t) {
  std::string iso = iso8601::formatUtc(t);  // "2026-03-01T12:00:05Z"
  iso[10] = ' ';
  iso.pop_back();
  return iso + " +0000";
}

}  // namespace

TesterMode::TesterMode(Dependencies deps) : deps_(std::move(deps)) {
  enabled_.setSilently(deps_.defaults.boolean(kEnabledKey).value_or(false));
  if (auto date = deps_.defaults.date(kLastExportKey)) {
    lastExport_ = SystemTime(std::chrono::duration_cast<SystemTime::duration>(
        std::chrono::duration<double>(date->secondsSince1970)));
  } else {
    lastExport_ = deps_.scheduler.clock().wallNow() -
                  std::chrono::duration_cast<SystemTime::duration>(
                      std::chrono::duration<double>(kExportIntervalSeconds));
  }
}

void TesterMode::start() {
  if (!enabled_.get()) {
    return;
  }
  deps_.debugLog.log("tester: session start (v" + bundleVersion(deps_.bundle, "dev") + " build " +
                     bundleBuild(deps_.bundle, "0") + ")");
  scheduleTimer();
  upload();
}

void TesterMode::toggle() {
  const bool on = !enabled_.get();
  enabled_.set(on);
  deps_.defaults.set(kEnabledKey, on);
  if (on) {
    deps_.debugLog.log("tester: mode ON");
    scheduleTimer();
    upload();
  } else {
    deps_.debugLog.log("tester: mode OFF");
    upload();
    if (timer_) {
      timer_->cancel();
      timer_.reset();
    }
  }
}

void TesterMode::scheduleTimer() {
  if (timer_) {
    timer_->cancel();
  }
  std::weak_ptr<TesterMode> weak = weak_from_this();
  Queue& main = deps_.scheduler.mainQueue();
  timer_ = main.scheduleRepeating(seconds(kExportIntervalSeconds), Duration::zero(), [weak, &main] {
    main.post([weak] {
      if (auto self = weak.lock()) {
        self->upload();
      }
    });
  });
}

std::string TesterMode::exportSystemLog(SystemTime since) const {
  auto entries = deps_.systemLog.entriesSince(since, kMaxLogLines);
  if (!entries) {
    return "(oslog export failed: " + entries.error().message + ")";
  }
  std::string out;
  for (const auto& entry : *entries) {
    if (!out.empty()) {
      out += '\n';
    }
    out += iso8601::formatUtc(entry.date) + " [" + entry.category + "] " + entry.message;
  }
  return out;
}

std::string TesterMode::composeText(const std::string& debugLogTail, SystemTime since,
                                    const std::vector<std::string>& privateTexts) const {
  std::string text = "== app log (DebugLog) ==\n" + debugLogTail +
                     "\n\n== unified log (own process, since " + windowStart(since) + ") ==\n" +
                     exportSystemLog(since);
  text = withoutPrivateTexts(withoutHomeDirectory(std::move(text), deps_.home), privateTexts);
  if (text.size() > kMaxUploadBytes) {
    // The newest part is kept, cut at a character boundary; the service takes at most a
    // megabyte, so the limit is in bytes.
    std::size_t start = text.size() - kMaxUploadBytes;
    while (start < text.size() && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
      ++start;
    }
    text.erase(0, start);
  }
  return text;
}

void TesterMode::upload() {
  // The window moves on before the upload: a failed upload is not repeated.
  const SystemTime since = lastExport_;
  lastExport_ = deps_.scheduler.clock().wallNow();
  deps_.defaults.set(kLastExportKey, Date{secondsSince1970(lastExport_)});
  std::string tail = deps_.debugLog.tail();
  std::vector<std::string> privateTexts =
      deps_.privateTexts ? deps_.privateTexts() : std::vector<std::string>{};
  std::weak_ptr<TesterMode> weak = weak_from_this();
  deps_.scheduler.globalQueue(QoS::utility)
      .post([weak, since, tail = std::move(tail), privateTexts = std::move(privateTexts)] {
        auto self = weak.lock();
        if (!self) {
          return;
        }
        const Dependencies& d = self->deps_;
        const std::string body =
            json::dump(json::OrderedJson{{"type", "testlog"},
                                         {"app", "lumarin"},
                                         {"installID", CrashConfig::installID(d.defaults)},
                                         {"appVersion", bundleVersion(d.bundle, "dev")},
                                         {"build", bundleBuild(d.bundle, "0")},
                                         {"osVersion", d.process.operatingSystemVersionString()},
                                         {"log", self->composeText(tail, since, privateTexts)}});
        HttpRequest request;
        request.method = "POST";
        request.url = d.baseURL + "api/testlog";
        request.headers.emplace_back("Content-Type", "application/json");
        request.body = body;
        request.timeout = seconds(kTimeoutSeconds);
        d.http.send(std::move(request), d.scheduler.globalQueue(QoS::utility),
                    [](const HttpResponse&) {});
        if (self->uploadObserver_) {
          self->uploadObserver_(body);
        }
      });
}

bool TesterTapCounter::tap(SystemTime now) {
  if (lastClick_ == SystemTime::min() ||
      now - lastClick_ > std::chrono::duration_cast<SystemTime::duration>(
                             std::chrono::duration<double>(kMaxGapSeconds))) {
    clicks_ = 0;
  }
  lastClick_ = now;
  ++clicks_;
  if (clicks_ >= kTapsToToggle) {
    clicks_ = 0;
    return true;
  }
  return false;
}

}  // namespace lumarin
