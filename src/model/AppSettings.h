#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Observable.h"
#include "model/DockItem.h"
#include "model/MonitoredApp.h"
#include "platform/UserDefaults.h"

namespace lumarin {

class Clock;
class DebugLog;
class L10n;
class LoginItems;
class SystemLog;

// The user's settings: loaded from the program's defaults domain at construction, written
// back (every key) on every assignment. Also owns the list of monitored apps, the login item
// and the one-time seeding of default apps. Main thread only; one instance per process,
// created by the composition root and kept for its life.
class AppSettings {
 public:
  struct Dependencies {
    UserDefaults& defaults;
    LoginItems& loginItems;
    SystemLog& systemLog;
    const DebugLog& debugLog;
    const Clock& clock;
    L10n* l10n = nullptr;  // the language switch; absent in tests that do not need it
  };

  explicit AppSettings(Dependencies dependencies);
  AppSettings(const AppSettings&) = delete;
  AppSettings& operator=(const AppSettings&) = delete;

  // Fields: read and observe through the Observable, assign through the setter.
  const Observable<bool>& launchAtLogin() const { return launchAtLogin_; }
  const Observable<bool>& crashReportingEnabled() const { return crashReportingEnabled_; }
  const Observable<bool>& improveDataSharing() const { return improveDataSharing_; }
  const Observable<std::optional<std::string>>& languageCode() const { return languageCode_; }
  const Observable<BadgeStyle>& defaultStyle() const { return defaultStyle_; }
  const Observable<std::vector<MonitoredApp>>& monitoredApps() const { return monitoredApps_; }
  const Observable<bool>& mirrorHUDFollowsControlCenter() const {
    return mirrorHUDFollowsControlCenter_;
  }
  const Observable<bool>& hasCompletedOnboarding() const { return hasCompletedOnboarding_; }

  void setLaunchAtLogin(bool value);
  void setCrashReportingEnabled(bool value);
  void setImproveDataSharing(bool value);
  void setLanguageCode(const std::optional<std::string>& value);
  void setDefaultStyle(BadgeStyle value);
  void setMonitoredApps(std::vector<MonitoredApp> value);
  void setMirrorHUDFollowsControlCenter(bool value);
  void setHasCompletedOnboarding(bool value);

  // Fired before any field changes, once per assignment.
  [[nodiscard]] Subscription observeWillChange(std::function<void()> handler) {
    return willChange_.subscribe(std::move(handler));
  }

  // The entry with this bundle identifier (case-sensitive) when there is one; otherwise a new
  // entry (fresh id, no own style or colour, always visible) appended to the list.
  MonitoredApp add(const std::string& bundleID, const std::string& name);
  // Drops every entry with this id; assigns (and persists) even when nothing matched.
  void remove(const Uuid& id);
  // Replaces the entry with the same id in place; does nothing when there is none.
  void update(const MonitoredApp& app);
  // First-run defaults: Messages and Mail when they are in the Dock. Runs once ("didSeedApps"),
  // and not at all while the Dock cannot be read.
  void seedDefaultAppsIfNeeded();

  // Collaborators that arrive with later parts of the program.
  void setDockSnapshotProvider(std::function<std::vector<DockItem>()> provider) {
    dockSnapshot_ = std::move(provider);
  }
  void setStatisticsQueueClearer(std::function<void()> clearer) {
    clearStatisticsQueue_ = std::move(clearer);
  }

  // Writes every key. Nothing while loading.
  void persist();

 private:
  template <typename T>
  void assign(Observable<T>& field, T value);
  void load();
  void applyLaunchAtLogin();

  Dependencies deps_;
  bool loading_ = false;
  Signal<> willChange_;
  Observable<bool> launchAtLogin_{false};
  Observable<bool> crashReportingEnabled_{true};
  Observable<bool> improveDataSharing_{true};
  Observable<std::optional<std::string>> languageCode_;
  Observable<BadgeStyle> defaultStyle_{BadgeStyle::circle};
  Observable<std::vector<MonitoredApp>> monitoredApps_;
  Observable<bool> mirrorHUDFollowsControlCenter_{true};
  Observable<bool> hasCompletedOnboarding_{false};
  // A stored app list that could not be read, kept until the first persist saves it aside.
  std::optional<DefaultsValue> unreadableApps_;
  std::string unreadableReason_;
  std::function<std::vector<DockItem>()> dockSnapshot_;
  std::function<void()> clearStatisticsQueue_;
};

}  // namespace lumarin
