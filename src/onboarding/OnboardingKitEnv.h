#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumarin {

class ProcessInfo;

// The environment variables that force onboarding open and pin it to one page, for testers and
// for pictures of single pages. `legacyEnv` lists further names read the same way.
class OnboardingKitEnv {
 public:
  static constexpr const char* kForced = "KESTOVA_ONBOARDING";
  static constexpr const char* kPage = "KESTOVA_ONBOARDING_PAGE";

  // True when KESTOVA_ONBOARDING (or a legacy name) is exactly "1".
  static bool forced(const ProcessInfo& process, const std::vector<std::string>& legacyEnv = {});
  // The 0-based page of the first name whose value is a decimal integer; not yet clamped.
  static std::optional<long long> pinnedPage(const ProcessInfo& process,
                                             const std::vector<std::string>& legacyEnv = {});
  // A whole value of optional sign ("+" or "-") and decimal digits that fits a long long.
  static std::optional<long long> parseDecimal(std::string_view text);
};

}  // namespace lumarin
