#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "platform/UserDefaults.h"

namespace lumarin {

class ProcessInfo;
class SystemLog;

// The program's defaults domain as a JSON file that keeps every value's kind: booleans,
// integers and doubles are JSON literals ("1.0" stays a double), strings and string arrays
// are themselves, data is {"$data": base64}, dates {"$date": seconds since 1970}. Values of a
// shape this build does not know are kept and written back untouched.
//
// Every change rewrites the file atomically (temporary file, fsync, rename), so a crash never
// leaves a torn file. A file that cannot be read is moved aside under a dated name and
// reported once on the system log, never silently destroyed. Writers are serialised.
//
// The global domain is read-only: "AppleLanguages" comes from LANGUAGE, else LC_ALL,
// LC_MESSAGES, LANG ("ja_JP.UTF-8" gives "ja-JP").
class JsonFileUserDefaults final : public UserDefaults {
 public:
  JsonFileUserDefaults(std::filesystem::path file, const ProcessInfo& process, SystemLog& log);
  ~JsonFileUserDefaults() override;

  std::optional<DefaultsValue> object(std::string_view key) const override;
  void set(std::string_view key, DefaultsValue value) override;
  void remove(std::string_view key) override;
  void applyChanges(const std::vector<DefaultsChange>& changes) override;
  std::optional<DefaultsValue> globalObject(std::string_view key) const override;

  const std::filesystem::path& file() const { return file_; }
  // The simulated Mac's global languages replace the environment's.
  void setGlobalLanguages(StringArray languages);

  // The preferred languages a POSIX locale environment stands for.
  static StringArray languagesFromEnvironment(const ProcessInfo& process);

 private:
  struct Unknown;
  void load();
  void save();
  void removeStaleTemporaries();

  std::filesystem::path file_;
  SystemLog& log_;
  StringArray globalLanguages_;
  mutable std::mutex mutex_;
  std::map<std::string, DefaultsValue, std::less<>> values_;
  std::unique_ptr<Unknown> unknown_;
};

}  // namespace lumarin
