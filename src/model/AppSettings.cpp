#include "model/AppSettings.h"

#include <algorithm>

#include "base/Iso8601.h"
#include "diagnostics/DebugLog.h"
#include "l10n/L10n.h"
#include "platform/LoginItems.h"
#include "platform/Scheduler.h"
#include "platform/SystemLog.h"

namespace lumarin {

namespace {

constexpr const char* kLaunchAtLogin = "launchAtLogin";
constexpr const char* kCrashReporting = "crashReportingEnabled";
constexpr const char* kImprove = "improveDataSharing";
constexpr const char* kLanguage = "languageCode";
constexpr const char* kDefaultStyle = "defaultStyle";
constexpr const char* kApps = "monitoredApps";
constexpr const char* kFollowCC = "mirrorHUDFollowsControlCenter";
constexpr const char* kOnboarding = "onboardingCompleted";
constexpr const char* kLegacyOnboarding = "hasCompletedOnboarding";
constexpr const char* kDidSeed = "didSeedApps";

std::string bytesToString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
Bytes stringToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace

AppSettings::AppSettings(Dependencies dependencies) : deps_(dependencies) { load(); }

void AppSettings::load() {
  loading_ = true;
  UserDefaults& d = deps_.defaults;
  launchAtLogin_.setSilently(d.boolValue(kLaunchAtLogin));
  crashReportingEnabled_.setSilently(d.boolean(kCrashReporting).value_or(true));
  improveDataSharing_.setSilently(d.boolean(kImprove).value_or(true));
  languageCode_.setSilently(d.string(kLanguage));
  const std::string style = d.string(kDefaultStyle).value_or("");
  defaultStyle_.setSilently(style == "text"  ? BadgeStyle::text
                            : style == "dot" ? BadgeStyle::dot
                                             : BadgeStyle::circle);

  std::vector<MonitoredApp> apps;
  if (auto stored = d.object(kApps)) {
    if (const auto* bytes = std::get_if<Bytes>(&*stored)) {
      auto decoded = decodeMonitoredApps(bytesToString(*bytes));
      if (decoded) {
        apps = std::move(decoded).value();
      } else {
        unreadableApps_ = *stored;
        unreadableReason_ = decoded.error().message;
      }
    } else {
      unreadableApps_ = *stored;
      unreadableReason_ = "not binary data";
    }
  }
  monitoredApps_.setSilently(std::move(apps));
  mirrorHUDFollowsControlCenter_.setSilently(d.boolean(kFollowCC).value_or(true));

  // Older versions stored the onboarding flag under another key.
  if (!d.contains(kOnboarding) && d.contains(kLegacyOnboarding)) {
    d.set(kOnboarding, d.boolValue(kLegacyOnboarding));
  }
  hasCompletedOnboarding_.setSilently(d.boolValue(kOnboarding));
  loading_ = false;
}

template <typename T>
void AppSettings::assign(Observable<T>& field, T value) {
  willChange_.emit();
  field.set(std::move(value));
  persist();
}

void AppSettings::setLaunchAtLogin(bool value) {
  assign(launchAtLogin_, value);
  applyLaunchAtLogin();
}

void AppSettings::setCrashReportingEnabled(bool value) { assign(crashReportingEnabled_, value); }

void AppSettings::setImproveDataSharing(bool value) {
  assign(improveDataSharing_, value);
  if (!value && clearStatisticsQueue_) {
    clearStatisticsQueue_();
  }
}

void AppSettings::setLanguageCode(const std::optional<std::string>& value) {
  assign(languageCode_, value);
  if (deps_.l10n != nullptr) {
    deps_.l10n->apply(value);
  }
}

void AppSettings::setDefaultStyle(BadgeStyle value) { assign(defaultStyle_, value); }

void AppSettings::setMonitoredApps(std::vector<MonitoredApp> value) {
  assign(monitoredApps_, std::move(value));
}

void AppSettings::setMirrorHUDFollowsControlCenter(bool value) {
  assign(mirrorHUDFollowsControlCenter_, value);
}

void AppSettings::setHasCompletedOnboarding(bool value) { assign(hasCompletedOnboarding_, value); }

void AppSettings::persist() {
  if (loading_) {
    return;
  }
  std::vector<DefaultsChange> changes;
  changes.push_back({kLaunchAtLogin, *launchAtLogin_});
  changes.push_back({kCrashReporting, *crashReportingEnabled_});
  changes.push_back({kImprove, *improveDataSharing_});
  if (languageCode_->has_value() && !languageCode_->value().empty()) {
    changes.push_back({kLanguage, languageCode_->value()});
  } else {
    changes.push_back({kLanguage, std::nullopt});
  }
  changes.push_back({kDefaultStyle, std::string(rawValue(*defaultStyle_))});
  if (unreadableApps_) {
    // The list in memory is empty because the stored one could not be read; keep the stored
    // bytes under a dated key before they are overwritten, so nothing is lost silently.
    const std::string backupKey =
        "monitoredAppsUnreadable-" + iso8601::formatUtc(deps_.clock.wallNow());
    changes.push_back({backupKey, *unreadableApps_});
    deps_.debugLog.log("settings: stored monitoredApps could not be read (" + unreadableReason_ +
                       "); kept as " + backupKey);
    unreadableApps_.reset();
  }
  changes.push_back({kApps, stringToBytes(encodeMonitoredApps(*monitoredApps_))});
  changes.push_back({kFollowCC, *mirrorHUDFollowsControlCenter_});
  changes.push_back({kOnboarding, *hasCompletedOnboarding_});
  deps_.defaults.applyChanges(changes);
}

void AppSettings::applyLaunchAtLogin() {
  const Status result =
      *launchAtLogin_ ? deps_.loginItems.registerMainApp() : deps_.loginItems.unregisterMainApp();
  if (!result) {
    deps_.systemLog.log("Lumarin: launch-at-login update failed: " + result.error().message);
  }
}

MonitoredApp AppSettings::add(const std::string& bundleID, const std::string& name) {
  for (const auto& app : *monitoredApps_) {
    if (app.bundleID == bundleID) {
      return app;
    }
  }
  MonitoredApp app;
  app.id = Uuid::random();
  app.bundleID = bundleID;
  app.name = name;
  app.visibility = IconVisibility::always;
  auto apps = *monitoredApps_;
  apps.push_back(app);
  setMonitoredApps(std::move(apps));
  return app;
}

void AppSettings::remove(const Uuid& id) {
  auto apps = *monitoredApps_;
  apps.erase(std::remove_if(apps.begin(), apps.end(),
                            [&](const MonitoredApp& app) { return app.id == id; }),
             apps.end());
  setMonitoredApps(std::move(apps));
}

void AppSettings::update(const MonitoredApp& app) {
  auto apps = *monitoredApps_;
  auto it = std::find_if(apps.begin(), apps.end(),
                         [&](const MonitoredApp& entry) { return entry.id == app.id; });
  if (it == apps.end()) {
    return;
  }
  *it = app;
  setMonitoredApps(std::move(apps));
}

void AppSettings::seedDefaultAppsIfNeeded() {
  if (!monitoredApps_->empty() || deps_.defaults.boolValue(kDidSeed)) {
    return;
  }
  const std::vector<DockItem> dock = dockSnapshot_ ? dockSnapshot_() : std::vector<DockItem>{};
  if (dock.empty()) {
    return;  // a later call tries again
  }
  deps_.defaults.set(kDidSeed, true);
  for (const auto& item : dock) {
    if (item.bundleID == "com.apple.MobileSMS" || item.bundleID == "com.apple.mail") {
      add(item.bundleID, item.name);
    }
  }
}

}  // namespace lumarin
