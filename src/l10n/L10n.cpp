#include "l10n/L10n.h"

#include "l10n/FrameworkLanguage.h"
#include "l10n/LocalizationTables.h"
#include "platform/FrameworkLocalization.h"

namespace lumarin {

L10n::L10n(UserDefaults& defaults, FrameworkLanguage& frameworkLanguage,
           FrameworkLocalization* frameworkLocalization,
           std::function<StringArray()> processPreferredLanguages)
    : defaults_(defaults),
      frameworkLanguage_(frameworkLanguage),
      frameworkLocalization_(frameworkLocalization),
      processPreferredLanguages_(std::move(processPreferredLanguages)) {
  const auto stored = defaults_.string("languageCode");
  const auto chosen = stored ? languageFromCode(*stored) : std::nullopt;
  language_.setSilently(chosen.value_or(systemDefault()));
  overrideFrameworks(stored);
}

std::string L10n::string(std::string_view key) const {
  std::string k(key);
  const auto& current = LocalizationTables::table(language_.get());
  if (auto it = current.find(k); it != current.end()) {
    return it->second;
  }
  const auto& english = LocalizationTables::table(AppLanguage::en);
  if (auto it = english.find(k); it != english.end()) {
    return it->second;
  }
  return k;
}

std::string L10n::format(std::string_view key, std::initializer_list<std::string> arguments) const {
  return fillPlaceholders(string(key), std::vector<std::string>(arguments));
}

void L10n::apply(const std::optional<std::string>& code) {
  overrideFrameworks(code);
  const auto chosen = code ? languageFromCode(*code) : std::nullopt;
  language_.set(chosen.value_or(systemDefault()));
}

AppLanguage L10n::systemDefault() const {
  StringArray preferred;
  if (auto global = defaults_.globalObject("AppleLanguages");
      global && std::holds_alternative<StringArray>(*global)) {
    preferred = std::get<StringArray>(*global);
  }
  if (preferred.empty() && processPreferredLanguages_) {
    preferred = processPreferredLanguages_();
  }
  return languageForPreferences(preferred);
}

void L10n::overrideFrameworks(const std::optional<std::string>& code) {
  const bool known = code && languageFromCode(*code).has_value();
  if (known) {
    defaults_.set("AppleLanguages", StringArray{*code});
    frameworkLanguage_.setCode(*code);
  } else {
    defaults_.remove("AppleLanguages");
    frameworkLanguage_.setCode(std::nullopt);
  }
  if (frameworkLocalization_ != nullptr) {
    frameworkLocalization_->useLanguage(frameworkLanguage_.code());
  }
}

std::vector<std::pair<std::string, std::string>> L10n::pickerOptions() const {
  std::vector<std::pair<std::string, std::string>> options;
  options.emplace_back("", string("common.systemDefault"));
  for (AppLanguage language : kAllLanguages) {
    options.emplace_back(std::string(languageCode(language)),
                         std::string(languageDisplayName(language)));
  }
  return options;
}

std::string fillPlaceholders(std::string_view text, const std::vector<std::string>& arguments) {
  std::string out;
  out.reserve(text.size() + 16);
  std::size_t next = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size()) {
      const char c = text[i + 1];
      if (c == '%') {
        out += '%';
        ++i;
        continue;
      }
      if ((c == '@' || c == 'd') && next < arguments.size()) {
        out += arguments[next++];
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

}  // namespace lumarin
