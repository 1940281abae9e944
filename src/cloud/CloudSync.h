#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/Observable.h"
#include "base/WeakBind.h"
#include "cloud/CloudConfig.h"
#include "cloud/SyncPayload.h"
#include "platform/Scheduler.h"

namespace lumarin {

class AppSettings;
class CloudAccount;
class DebugLog;
class HttpClient;
class UserDefaults;

enum class SyncStatus { idle, syncing, error };

// Keeps the default style, the monitored apps and the language the same on all of the user's
// Macs: one document (the blob) per account on the service, with a version the service keeps.
// Consent switches never travel. Local changes are pushed 2 s after the last one; the
// service's copy is pulled when the account becomes signed in (so at every launch while signed
// in) and when sync is switched on. A newer copy on the service, a push on a stale version
// (409) and the first sign-in of a Mac that has settings of its own are merged three ways on
// the last synced blob (`mergeSyncPayloads`), and the merge is pushed when it holds anything
// the service's copy lacks. The times of this Mac's changes, which the merge needs when both
// Macs changed the same part, are recorded as they happen ("cloudSyncChangeTimes").
//
// Requests of one Mac run one at a time. With requests overlapping, an answer could arrive
// after a later one's (a pull answered with version 5 after our own push made version 6
// applied 5's content under 6's base), and the next push would then overwrite an edit the
// service had already acknowledged. So a push or pull asked for while another runs waits for
// it, and a waiting push takes the settings as they are when it goes out.
//
// Main queue only; the network answers on the main queue. One instance per process, created
// by the composition root after the account; answers that arrive after it is gone are dropped.
class CloudSync {
 public:
  static constexpr const char* kEnabledKey = "cloudSyncEnabled";
  static constexpr const char* kBaseVersionKey = "cloudSyncBaseVersion";
  static constexpr const char* kLastBlobKey = "cloudSyncLastBlob";
  // JSON text: {"defaultStyle": seconds since 1970, "app.<id>": …} of this Mac's changes.
  static constexpr const char* kChangeTimesKey = "cloudSyncChangeTimes";
  static constexpr Duration kDebounce = seconds(2.0);

  struct Dependencies {
    AppSettings& settings;
    CloudAccount& account;
    UserDefaults& defaults;
    HttpClient& http;
    Scheduler& scheduler;
    const DebugLog& log;
    CloudConfig config;
  };

  explicit CloudSync(Dependencies dependencies);
  CloudSync(const CloudSync&) = delete;
  CloudSync& operator=(const CloudSync&) = delete;

  // Subscribes to the settings' changes and to the account's state (the current one included:
  // signed in means a pull now). Once, at launch.
  void start();

  const Observable<bool>& enabled() const { return enabled_; }
  // Stored at once; switching on pulls.
  void setEnabled(bool value);
  const Observable<SyncStatus>& status() const { return status_; }

  // The sync's own steps, public for the Account tab's future "Sync now" and for tests.
  void pullNow(bool force);
  void pushIfChanged();
  // True while a request is out.
  bool isBusy() const { return busy_; }

 private:
  void schedulePush();
  bool canSync() const;
  std::string localBlob();
  // The settings with the times of their changes: the base's for parts as the base has them,
  // this Mac's own for the others.
  SyncPayload localPayload();
  std::optional<SyncPayload> basePayload() const;
  bool localMatchesBase();
  void recordChange(const std::string& key);
  void recordChanges(const std::vector<std::string>& keys);
  void recordAppChanges(const std::vector<MonitoredApp>& apps);
  std::int64_t baseVersion() const;
  void runPull(bool force);
  void runPush(std::string blob);
  void mergeRemote(const std::string& blob, std::int64_t version);
  void finish(SyncStatus status);
  void abandon();

  Dependencies deps_;
  Observable<bool> enabled_{true};
  Observable<SyncStatus> status_{SyncStatus::idle};
  bool isApplyingRemote_ = false;
  TaskHandle pushWork_;
  Subscription settingsSubscription_;
  Subscription accountSubscription_;
  Subscription styleSubscription_;
  Subscription languageSubscription_;
  Subscription appsSubscription_;
  std::vector<MonitoredApp> seenApps_;
  bool busy_ = false;
  std::optional<bool> waitingPull_;  // its force flag
  bool waitingPush_ = false;
  WeakPtrFactory<CloudSync> weak_{this};
};

}  // namespace lumarin
