#pragma once

#include <string>

namespace lumarin {

class Bundle;
class DebugLog;
class FrameworkLanguage;
class SingleInstanceGuard;
class ProcessInfo;
class UserDefaults;

// How the steps before the application object ended: the program runs; another instance of
// this user runs (the caller ends with status 0); or the instance lock could not be taken
// safely (the caller says why and ends with status 1).
enum class StartOutcome { started, duplicate, lockRefused };

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

  // Steps 1 to 5. When another instance runs, the duplicate line is written and the caller
  // ends the process before creating anything else; a refused lock writes why.
  StartOutcome start();

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
