#include "diagnostics/ImproveReporter.h"

#include <atomic>
#include <cmath>
#include <fstream>
#include <sstream>
#include <system_error>

#include "base/Json.h"
#include "base/Utf8.h"
#include "diagnostics/CrashConfig.h"
#include "platform/Bundle.h"
#include "platform/HttpClient.h"
#include "platform/ProcessInfo.h"
#include "platform/UserDefaults.h"

namespace lumarin {

bool ImproveConfig::enabled(const UserDefaults& defaults) {
  return defaults.boolean(kConsentKey).value_or(true);
}

// One batch on its way: the records sent, the lines kept, and how much of the file it read.
struct ImproveReporter::Batch {
  std::string body;
  std::size_t events = 0;
  std::vector<std::string> carryOver;
  std::size_t linesRead = 0;
  std::uint64_t generation = 0;
  std::function<void()> completion;
};

ImproveReporter::ImproveReporter(Dependencies deps)
    : deps_(std::move(deps)),
      queue_(deps_.scheduler.makeSerialQueue("jp.kestova.improve", QoS::utility)),
      locale_(currentLocaleIdentifier(deps_.defaults, deps_.process)) {}

void ImproveReporter::record(const std::string& name, const Properties& properties) {
  if (!ImproveConfig::enabled(deps_.defaults)) {
    return;
  }
  json::Json p = json::Json::object();
  for (const auto& [key, value] : properties) {
    if (const auto* text = std::get_if<std::string>(&value)) {
      p[key] = utf8::prefix(*text, kStringLimit);
    } else if (const auto* flag = std::get_if<bool>(&value)) {
      p[key] = *flag;
    } else if (const auto* integer = std::get_if<std::int64_t>(&value)) {
      p[key] = *integer;
    } else if (const auto* real = std::get_if<double>(&value); real && std::isfinite(*real)) {
      p[key] = *real;
    }
  }
  const double t =
      std::chrono::duration<double>(deps_.scheduler.clock().wallNow().time_since_epoch()).count();
  std::string line = json::dump(json::Json{{"t", t}, {"n", name}, {"p", std::move(p)}});
  std::weak_ptr<ImproveReporter> weak = weak_from_this();
  queue_->post([weak, line = std::move(line)] {
    auto self = weak.lock();
    if (!self) {
      return;
    }
    self->append(line);
    if (self->readQueue().size() >= kBatchSize) {
      self->flushLocked(nullptr);
    }
  });
}

void ImproveReporter::start() {
  std::weak_ptr<ImproveReporter> weak = weak_from_this();
  timer_ = queue_->scheduleRepeating(seconds(kFlushIntervalSeconds), Duration::zero(), [weak] {
    if (auto self = weak.lock()) {
      self->flushLocked(nullptr);
    }
  });
  timer_->rearm(seconds(kFirstFlushSeconds), seconds(kFlushIntervalSeconds), Duration::zero());
  if (!ImproveConfig::enabled(deps_.defaults)) {
    clearQueue();
  }
}

bool ImproveReporter::flushNow(bool sync) {
  std::weak_ptr<ImproveReporter> weak = weak_from_this();
  if (!sync) {
    queue_->post([weak] {
      if (auto self = weak.lock()) {
        self->flushLocked(nullptr);
      }
    });
    return false;
  }
  auto done = std::make_shared<std::atomic<bool>>(false);
  queue_->post([weak, done] {
    if (auto self = weak.lock()) {
      self->flushLocked([done] { done->store(true); });
    } else {
      done->store(true);
    }
  });
  return deps_.scheduler.waitFor([done] { return done->load(); }, seconds(kQuitWaitSeconds));
}

void ImproveReporter::clearQueue() {
  std::weak_ptr<ImproveReporter> weak = weak_from_this();
  queue_->post([weak] {
    if (auto self = weak.lock()) {
      ++self->generation_;
      std::error_code ignored;
      std::filesystem::remove(self->fileURL(), ignored);
    }
  });
}

void ImproveReporter::append(const std::string& line) {
  std::error_code ignored;
  std::filesystem::create_directories(deps_.directory, ignored);
  const auto path = fileURL();
  // A line torn by a killed process has no line feed: the next record starts on a line of
  // its own, so only the torn one is lost.
  bool torn = false;
  if (std::ifstream in{path, std::ios::binary | std::ios::ate}; in && in.tellg() > 0) {
    in.seekg(-1, std::ios::end);
    torn = in.get() != '\n';
  }
  std::ofstream out(path, std::ios::binary | std::ios::app);
  if (torn) {
    out << '\n';
  }
  out << line << '\n';
}

std::vector<std::string> ImproveReporter::readQueue() const {
  std::ifstream in(fileURL(), std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) {
      lines.push_back(std::move(line));
    }
  }
  return lines;
}

void ImproveReporter::rewriteQueue(const std::vector<std::string>& lines) const {
  std::error_code ignored;
  const auto path = fileURL();
  if (lines.empty()) {
    std::filesystem::remove(path, ignored);
    return;
  }
  const auto temporary = path.string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    for (const auto& line : lines) {
      out << line << '\n';
    }
    out.flush();
    if (!out) {
      std::filesystem::remove(temporary, ignored);
      return;
    }
  }
  std::filesystem::rename(temporary, path, ignored);
}

std::string ImproveReporter::uploadBody(const std::vector<std::string>& records) const {
  json::Json events = json::Json::array();
  for (const auto& record : records) {
    if (auto parsed = json::parse(record)) {
      events.push_back(parsed.value());
    }
  }
  return json::dump(json::Json{{"app", "lumarin"},
                               {"installID", CrashConfig::installID(deps_.defaults)},
                               {"appVersion", bundleVersion(deps_.bundle, "?")},
                               {"build", bundleBuild(deps_.bundle, "?")},
                               {"os", deps_.process.operatingSystemVersionString()},
                               {"arch", "arm64"},
                               {"locale", locale_},
                               {"events", std::move(events)}});
}

void ImproveReporter::flushLocked(std::function<void()> completion) {
  auto complete = [&completion] {
    if (completion) {
      completion();
    }
  };
  if (!ImproveConfig::enabled(deps_.defaults) || inFlight_) {
    complete();
    return;
  }
  const auto lines = readQueue();
  if (lines.empty()) {
    complete();
    return;
  }
  const double cutoff =
      std::chrono::duration<double>(deps_.scheduler.clock().wallNow().time_since_epoch()).count() -
      kMaxAgeSeconds;
  auto batch = std::make_shared<Batch>();
  batch->linesRead = lines.size();
  batch->generation = generation_;
  std::vector<std::string> records;
  for (const auto& line : lines) {
    auto parsed = json::parse(line);
    if (!parsed || !parsed->is_object()) {
      continue;
    }
    auto t = parsed->find("t");
    if (t == parsed->end() || !t->is_number() || t->get<double>() < cutoff) {
      continue;
    }
    if (records.size() < kBatchSize) {
      records.push_back(line);
    } else {
      batch->carryOver.push_back(line);
    }
  }
  if (records.empty()) {
    rewriteQueue(batch->carryOver);
    complete();
    return;
  }
  batch->body = uploadBody(records);
  batch->events = records.size();
  batch->completion = std::move(completion);
  inFlight_ = true;
  send(batch);
}

void ImproveReporter::send(const std::shared_ptr<Batch>& batch) {
  HttpRequest request;
  request.method = "POST";
  request.url = deps_.baseURL + std::string(ImproveConfig::kEndpoint);
  request.headers.emplace_back("Content-Type", "application/json");
  request.body = batch->body;
  request.timeout = seconds(kUploadTimeoutSeconds);
  std::weak_ptr<ImproveReporter> weak = weak_from_this();
  // The answer lands on a queue of the scheduler's, which outlives the reporter, and then
  // comes to the reporter's own queue while the reporter still exists.
  deps_.http.send(std::move(request), deps_.scheduler.globalQueue(QoS::utility),
                  [weak, batch](const HttpResponse& response) {
                    auto self = weak.lock();
                    if (!self) {
                      if (batch->completion) {
                        batch->completion();
                      }
                      return;
                    }
                    const int status = response.status;
                    self->queue_->post([self, batch, status] { self->finish(batch, status); });
                  });
}

void ImproveReporter::finish(const std::shared_ptr<Batch>& batch, int status) {
  inFlight_ = false;
  if (status >= 200 && status <= 499 && batch->generation == generation_) {
    // The batch and the dropped lines go; what was appended while it was on its way stays.
    auto lines = readQueue();
    std::vector<std::string> kept = batch->carryOver;
    for (std::size_t i = std::min(batch->linesRead, lines.size()); i < lines.size(); ++i) {
      kept.push_back(std::move(lines[i]));
    }
    rewriteQueue(kept);
  }
  if (uploadObserver_) {
    uploadObserver_(status, batch->events);
  }
  if (batch->completion) {
    batch->completion();
  }
}

}  // namespace lumarin
