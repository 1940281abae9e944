#include "onboarding/OnboardingKitEnv.h"

#include <charconv>

#include "platform/ProcessInfo.h"

namespace lumarin {

bool OnboardingKitEnv::forced(const ProcessInfo& process,
                              const std::vector<std::string>& legacyEnv) {
  if (process.environmentValue(kForced) == "1") {
    return true;
  }
  for (const std::string& name : legacyEnv) {
    if (process.environmentValue(name) == "1") {
      return true;
    }
  }
  return false;
}

std::optional<long long> OnboardingKitEnv::pinnedPage(const ProcessInfo& process,
                                                      const std::vector<std::string>& legacyEnv) {
  std::vector<std::string> names{kPage};
  names.insert(names.end(), legacyEnv.begin(), legacyEnv.end());
  for (const std::string& name : names) {
    if (const auto value = process.environmentValue(name)) {
      if (const auto page = parseDecimal(*value)) {
        return page;
      }
    }
  }
  return std::nullopt;
}

std::optional<long long> OnboardingKitEnv::parseDecimal(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    // "+-3" is not a number.
    if (!text.empty() && text.front() == '-') {
      return std::nullopt;
    }
  }
  if (text.empty()) {
    return std::nullopt;
  }
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || ptr != end) {
    return std::nullopt;
  }
  return value;
}

}  // namespace lumarin
