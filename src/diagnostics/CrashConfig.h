#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumarin {

class Bundle;
class ProcessInfo;
class UserDefaults;

// What the three diagnostics uploads (statistics, crash reports, tester logs) share: where
// they go and which installation they come from.
struct CrashConfig {
  static constexpr std::string_view kEndpoint = "api/crash";
  static constexpr std::string_view kInstallIDKey = "crashInstallID";

  // The installation identifier: the string under "crashInstallID", created as a new
  // upper-case UUID and stored there on first use. Callable from any thread.
  static std::string installID(UserDefaults& defaults);
};

// "CFBundleShortVersionString" / "CFBundleVersion", or `fallback` when missing or empty.
std::string bundleVersion(const Bundle& bundle, const std::string& fallback);
std::string bundleBuild(const Bundle& bundle, const std::string& fallback);

// The user's current locale identifier ("en_US"): the system's "AppleLocale", else the
// process's locale variables without encoding or modifier; "en_US" when none says more.
std::string currentLocaleIdentifier(const UserDefaults& defaults, const ProcessInfo& process);

// Uploads never carry the user's home directory: each occurrence of `home` at the start of a
// path becomes "~".
std::string withoutHomeDirectory(std::string text, const std::string& home);
// Nor what the user keeps private (the account's token and e-mail address): each occurrence
// of one of `texts` (those of four characters or more) becomes "<private>".
std::string withoutPrivateTexts(std::string text, const std::vector<std::string>& texts);

}  // namespace lumarin
