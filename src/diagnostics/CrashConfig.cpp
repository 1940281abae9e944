#include "diagnostics/CrashConfig.h"

#include <mutex>

#include "base/Uuid.h"
#include "platform/Bundle.h"
#include "platform/ProcessInfo.h"
#include "platform/UserDefaults.h"

namespace lumarin {

std::string CrashConfig::installID(UserDefaults& defaults) {
  // One lock for the read and the first write, so two threads asking at once agree.
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  if (auto stored = defaults.string(kInstallIDKey)) {
    return *stored;
  }
  std::string id = Uuid::random().toString();
  defaults.set(kInstallIDKey, id);
  return id;
}

namespace {

std::string infoOr(const Bundle& bundle, const std::string& key, const std::string& fallback) {
  auto value = bundle.infoString(key);
  return value && !value->empty() ? *value : fallback;
}

}  // namespace

std::string bundleVersion(const Bundle& bundle, const std::string& fallback) {
  return infoOr(bundle, "CFBundleShortVersionString", fallback);
}

std::string bundleBuild(const Bundle& bundle, const std::string& fallback) {
  return infoOr(bundle, "CFBundleVersion", fallback);
}

std::string currentLocaleIdentifier(const UserDefaults& defaults, const ProcessInfo& process) {
  if (auto value = defaults.globalObject("AppleLocale")) {
    if (const auto* text = std::get_if<std::string>(&*value); text && !text->empty()) {
      return *text;
    }
  }
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    auto value = process.environmentValue(name);
    if (!value || value->empty()) {
      continue;
    }
    std::string id = value->substr(0, value->find_first_of(".@"));
    if (id.empty() || id == "C" || id == "POSIX") {
      break;
    }
    return id;
  }
  return "en_US";
}

std::string withoutHomeDirectory(std::string text, const std::string& home) {
  std::string_view trimmed = home;
  while (trimmed.size() > 1 && trimmed.back() == '/') {
    trimmed.remove_suffix(1);
  }
  if (trimmed.size() < 2) {
    return text;
  }
  std::string out;
  out.reserve(text.size());
  std::size_t from = 0;
  for (auto at = text.find(trimmed); at != std::string::npos; at = text.find(trimmed, at + 1)) {
    // Only whole path components: "/home/ann" in "/home/anna" is someone else's.
    const std::size_t end = at + trimmed.size();
    const char next = end < text.size() ? text[end] : '/';
    if (std::string_view("/ \n\"'):").find(next) == std::string_view::npos) {
      continue;
    }
    out.append(text, from, at - from);
    out += '~';
    from = end;
    at = end - 1;
  }
  out.append(text, from, std::string::npos);
  return out;
}

std::string withoutPrivateTexts(std::string text, const std::vector<std::string>& texts) {
  for (const auto& secret : texts) {
    if (secret.size() < 4) {
      continue;
    }
    std::string out;
    std::size_t from = 0;
    for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, from)) {
      out.append(text, from, at - from);
      out += "<private>";
      from = at + secret.size();
    }
    out.append(text, from, std::string::npos);
    text = std::move(out);
  }
  return text;
}

}  // namespace lumarin
