#pragma once

#include <string>
#include <vector>

namespace lumarin {

class UserDefaults;

// Older versions kept the completion flag under other keys. Copies the first legacy value into
// "onboardingCompleted" (as a boolean) when that key has none; the legacy keys stay.
class OnboardingCompletion {
 public:
  static constexpr const char* kKey = "onboardingCompleted";
  static constexpr const char* kLegacyKey = "hasCompletedOnboarding";

  // True when a value was copied.
  static bool migrate(const std::vector<std::string>& legacyKeys, UserDefaults& defaults);
};

}  // namespace lumarin
