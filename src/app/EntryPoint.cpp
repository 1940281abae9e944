#include "app/EntryPoint.h"

#include "app/SingleInstanceGuard.h"
#include "diagnostics/DebugLog.h"
#include "l10n/FrameworkLanguage.h"
#include "platform/Bundle.h"
#include "platform/ProcessInfo.h"
#include "platform/UserDefaults.h"

namespace lumarin {

EntryPoint::EntryPoint(UserDefaults& defaults, FrameworkLanguage& frameworkLanguage,
                       const Bundle& bundle, const ProcessInfo& process, SingleInstanceGuard& guard,
                       const DebugLog& log)
    : defaults_(defaults),
      frameworkLanguage_(frameworkLanguage),
      bundle_(bundle),
      process_(process),
      guard_(guard),
      log_(log) {}

StartupInfo EntryPoint::readStartupInfo(const Bundle& bundle) {
  StartupInfo info;
  info.bundleID = bundle.bundleIdentifier().value_or("com.kestova.Lumarin");
  if (info.bundleID.empty()) {
    info.bundleID = "com.kestova.Lumarin";
  }
  info.version = bundle.infoString("CFBundleShortVersionString").value_or("dev");
  info.build = bundle.infoString("CFBundleVersion").value_or("0");
  return info;
}

void EntryPoint::bootstrapLanguage() {
  const auto code = defaults_.string("languageCode");
  if (code && !code->empty()) {
    defaults_.set("AppleLanguages", StringArray{*code});
    frameworkLanguage_.setCode(*code);
  } else {
    defaults_.remove("AppleLanguages");
    frameworkLanguage_.setCode(std::nullopt);
  }
}

StartOutcome EntryPoint::start() {
  bootstrapLanguage();
  info_ = readStartupInfo(bundle_);
  const std::string pid = std::to_string(process_.processIdentifier());
  switch (guard_.acquire(info_.bundleID)) {
    case SingleInstanceGuard::Outcome::heldElsewhere:
      log_.log("startup: duplicate instance rejected pid=" + pid);
      return StartOutcome::duplicate;
    case SingleInstanceGuard::Outcome::refused:
      log_.log("startup: instance lock refused pid=" + pid + " (" + guard_.refusal() + ")");
      return StartOutcome::lockRefused;
    case SingleInstanceGuard::Outcome::acquired:
      break;
  }
  log_.log("startup: acquired instance lock pid=" + pid + " version=" + info_.version +
           " build=" + info_.build + " path=" + bundle_.bundlePath().string());
  return StartOutcome::started;
}

}  // namespace lumarin
