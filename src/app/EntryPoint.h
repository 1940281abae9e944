#pragma once

#include <string>

namespace lumarin {

class Bundle;
class DebugLog;
class FrameworkLanguage;
class SingleInstanceGuard;
class ProcessInfo;
class UserDefaults;

// The process-wide values the entry point fixes before the application object exists.
struct StartupInfo {
  std::string bundleID;  // "com.kestova.Lumarin" when the bundle has none
  std::string version;   // CFBundleShortVersionString, else "dev"
  std::string build;     // CFBundleVersion, else "0"
};

// The steps that run before the application object is created, in their order: the language
// bootstrap, the instance lock and the start line. Main thread.
class EntryPoint {
 public:
  EntryPoint(UserDefaults& defaults, FrameworkLanguage& frameworkLanguage, const Bundle& bundle,
             const ProcessInfo& process, SingleInstanceGuard& guard, const DebugLog& log);

  static StartupInfo readStartupInfo(const Bundle& bundle);

  // Step 1: a non-empty "languageCode" becomes the program's own "AppleLanguages" (one
  // element) and the frameworks' language; otherwise both are cleared.
  void bootstrapLanguage();

  // Steps 1 to 5. False when another instance runs: the duplicate line is written and the
  // caller ends the process with status 0 before creating anything else.
  bool start();

  const StartupInfo& info() const { return info_; }

 private:
  UserDefaults& defaults_;
  FrameworkLanguage& frameworkLanguage_;
  const Bundle& bundle_;
  const ProcessInfo& process_;
  SingleInstanceGuard& guard_;
  const DebugLog& log_;
  StartupInfo info_;
};

}  // namespace lumarin
