#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Observable.h"
#include "l10n/AppLanguage.h"
#include "platform/UserDefaults.h"

namespace lumarin {

class FrameworkLanguage;
class FrameworkLocalization;

// The single lookup point of every user-visible text, and the current interface language.
// Main thread (the tables themselves may be read anywhere).
class L10n {
 public:
  // Reads "languageCode" and applies it (an unknown code means the system default).
  // `processPreferredLanguages` stands in when the global "AppleLanguages" is missing or empty.
  L10n(UserDefaults& defaults, FrameworkLanguage& frameworkLanguage,
       FrameworkLocalization* frameworkLocalization,
       std::function<StringArray()> processPreferredLanguages = {});
  L10n(const L10n&) = delete;
  L10n& operator=(const L10n&) = delete;

  const Observable<AppLanguage>& language() const { return language_; }

  // The text in the current language, else English, else the key itself.
  std::string string(std::string_view key) const;
  // The text with its "%@" / "%d" placeholders filled in order.
  std::string format(std::string_view key, std::initializer_list<std::string> arguments) const;

  // Switches the language at once; absent or unknown means the system default.
  void apply(const std::optional<std::string>& code);
  AppLanguage systemDefault() const;

  // (code, label) pairs of the language picker: ("", "System default") first, then the
  // fourteen languages in their own names.
  std::vector<std::pair<std::string, std::string>> pickerOptions() const;

 private:
  void overrideFrameworks(const std::optional<std::string>& code);

  UserDefaults& defaults_;
  FrameworkLanguage& frameworkLanguage_;
  FrameworkLocalization* frameworkLocalization_;
  std::function<StringArray()> processPreferredLanguages_;
  Observable<AppLanguage> language_{AppLanguage::en};
};

// Fills "%@" and "%d" placeholders in order ("%%" is a literal "%"); a placeholder without an
// argument is left as it is.
std::string fillPlaceholders(std::string_view text, const std::vector<std::string>& arguments);

}  // namespace lumarin
