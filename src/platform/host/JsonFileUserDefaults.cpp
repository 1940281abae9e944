#include "platform/host/JsonFileUserDefaults.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>

#include "base/Iso8601.h"
#include "base/Json.h"
#include "platform/DefaultsJson.h"
#include "platform/ProcessInfo.h"
#include "platform/SystemLog.h"

namespace lumarin {

using json::Json;

struct JsonFileUserDefaults::Unknown {
  std::map<std::string, Json, std::less<>> values;
};

namespace {

std::string languageFromLocale(std::string locale) {
  if (auto cut = locale.find_first_of(".@"); cut != std::string::npos) {
    locale.resize(cut);
  }
  if (locale.empty() || locale == "C" || locale == "POSIX") {
    return {};
  }
  for (char& c : locale) {
    if (c == '_') {
      c = '-';
    }
  }
  return locale;
}

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

StringArray JsonFileUserDefaults::languagesFromEnvironment(const ProcessInfo& process) {
  StringArray out;
  if (auto list = process.environmentValue("LANGUAGE"); list && !list->empty()) {
    std::stringstream stream(*list);
    std::string entry;
    while (std::getline(stream, entry, ':')) {
      if (auto code = languageFromLocale(entry); !code.empty()) {
        out.push_back(code);
      }
    }
    if (!out.empty()) {
      return out;
    }
  }
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (auto value = process.environmentValue(name); value && !value->empty()) {
      if (auto code = languageFromLocale(*value); !code.empty()) {
        out.push_back(code);
      }
      break;
    }
  }
  return out;
}

JsonFileUserDefaults::JsonFileUserDefaults(std::filesystem::path file, const ProcessInfo& process,
                                           SystemLog& log)
    : file_(std::move(file)),
      log_(log),
      globalLanguages_(languagesFromEnvironment(process)),
      unknown_(std::make_unique<Unknown>()) {
  load();
}

JsonFileUserDefaults::~JsonFileUserDefaults() = default;

void JsonFileUserDefaults::removeStaleTemporaries() {
  // A process killed between writing its temporary file and renaming it leaves the file
  // behind; without this, such files would pile up next to the settings forever. A temporary
  // of a process that still runs is left alone, and so is one younger than a minute: a writer
  // in another PID namespace sharing this directory (a sandbox) looks dead from here, but
  // finishes its write within milliseconds.
  constexpr auto kMinimumAge = std::chrono::minutes(1);
  std::error_code error;
  const std::string prefix = file_.filename().string() + ".tmp-";
  for (const auto& entry : std::filesystem::directory_iterator(file_.parent_path(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0) {
      continue;
    }
    const std::string digits = name.substr(prefix.size());
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    const auto pid = static_cast<pid_t>(std::stol(digits));
    const auto modified = std::filesystem::last_write_time(entry.path(), error);
    const bool old =
        !error && std::filesystem::file_time_type::clock::now() - modified > kMinimumAge;
    if (old && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH) {
      std::filesystem::remove(entry.path(), error);
    }
  }
}

void JsonFileUserDefaults::load() {
  std::error_code error;
  removeStaleTemporaries();
  if (!std::filesystem::exists(file_, error)) {
    return;
  }
  std::string reason;
  {
    std::ifstream in(file_, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    if (!in.good() && !in.eof()) {
      reason = "it could not be read";
    } else {
      auto parsed = json::parse(buffer.str());
      if (!parsed) {
        reason = parsed.error().message;
      } else if (!parsed->is_object()) {
        reason = "it does not hold a JSON object";
      } else {
        for (const auto& [key, raw] : parsed->items()) {
          if (auto value = decodeDefaultsValue(raw)) {
            values_.emplace(key, std::move(*value));
          } else {
            unknown_->values.emplace(key, raw);
          }
        }
        return;
      }
    }
  }
  // Keep the unreadable file for the user (and for us) instead of overwriting it later.
  const std::string stamp = iso8601::formatUtc(std::chrono::system_clock::now());
  std::string compact;
  for (char c : stamp) {
    if (c != '-' && c != ':') {
      compact += c;
    }
  }
  std::filesystem::path aside = file_;
  aside += ".unreadable-" + compact;
  std::filesystem::rename(file_, aside, error);
  log_.log("Lumarin: the settings file " + file_.string() + " could not be read (" + reason +
           "); " + (error ? "it was left in place" : "it was kept as " + aside.string()) +
           " and the defaults are used");
}

void JsonFileUserDefaults::save() {
  Json root = Json::object();
  for (const auto& [key, raw] : unknown_->values) {
    root[key] = raw;
  }
  for (const auto& [key, value] : values_) {
    root[key] = encodeDefaultsValue(value);
  }
  const std::string text = json::dump(root, 2) + "\n";

  std::error_code error;
  const auto dir = file_.parent_path();
  std::filesystem::create_directories(dir, error);
  std::filesystem::path temp = file_;
  temp += ".tmp-" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    log_.log("Lumarin: could not write the settings file " + file_.string());
    return;
  }
  const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
  ::close(fd);
  if (!written) {
    std::filesystem::remove(temp, error);
    log_.log("Lumarin: could not write the settings file " + file_.string());
    return;
  }
  std::filesystem::rename(temp, file_, error);
  if (error) {
    std::filesystem::remove(temp, error);
    log_.log("Lumarin: could not replace the settings file " + file_.string());
    return;
  }
  // Make the rename itself durable.
  if (const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
}

std::optional<DefaultsValue> JsonFileUserDefaults::object(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) {
    return std::nullopt;
  }
  return it->second;
}

void JsonFileUserDefaults::set(std::string_view key, DefaultsValue value) {
  std::lock_guard lock(mutex_);
  unknown_->values.erase(std::string(key));
  values_.insert_or_assign(std::string(key), std::move(value));
  save();
}

void JsonFileUserDefaults::remove(std::string_view key) {
  std::lock_guard lock(mutex_);
  const bool known = values_.erase(std::string(key)) > 0;
  const bool unknown = unknown_->values.erase(std::string(key)) > 0;
  if (known || unknown) {
    save();
  }
}

void JsonFileUserDefaults::applyChanges(const std::vector<DefaultsChange>& changes) {
  std::lock_guard lock(mutex_);
  for (const auto& change : changes) {
    unknown_->values.erase(change.key);
    if (change.value) {
      values_.insert_or_assign(change.key, *change.value);
    } else {
      values_.erase(change.key);
    }
  }
  save();
}

void JsonFileUserDefaults::setGlobalLanguages(StringArray languages) {
  std::lock_guard lock(mutex_);
  globalLanguages_ = std::move(languages);
}

std::optional<DefaultsValue> JsonFileUserDefaults::globalObject(std::string_view key) const {
  std::lock_guard lock(mutex_);
  if (key == "AppleLanguages" && !globalLanguages_.empty()) {
    return globalLanguages_;
  }
  return std::nullopt;
}

}  // namespace lumarin
