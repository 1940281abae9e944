#include "onboarding/OnboardingCompletion.h"

#include "platform/UserDefaults.h"

namespace lumarin {

bool OnboardingCompletion::migrate(const std::vector<std::string>& legacyKeys,
                                   UserDefaults& defaults) {
  if (defaults.contains(kKey)) {
    return false;
  }
  for (const std::string& key : legacyKeys) {
    if (defaults.contains(key)) {
      defaults.set(kKey, defaults.boolValue(key));
      return true;
    }
  }
  return false;
}

}  // namespace lumarin
