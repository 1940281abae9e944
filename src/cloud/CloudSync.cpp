#include "cloud/CloudSync.h"

#include <chrono>
#include <map>
#include <utility>

#include "base/Json.h"
#include "cloud/CloudAccount.h"
#include "cloud/CloudApi.h"
#include "cloud/SyncPayload.h"
#include "diagnostics/DebugLog.h"
#include "model/AppSettings.h"
#include "platform/HttpClient.h"
#include "platform/UserDefaults.h"

namespace lumarin {
namespace {

using json::Json;

constexpr std::string_view kSyncPath = "sync/lumarin";

Json jsonObjectOrEmpty(const std::string& body) {
  auto parsed = json::parse(body);
  if (parsed.ok() && parsed.value().is_object()) {
    return std::move(parsed).value();
  }
  return Json::object();
}

std::optional<std::int64_t> integerMember(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer()) {
    return std::nullopt;
  }
  return it->get<std::int64_t>();
}

}  // namespace

CloudSync::CloudSync(Dependencies dependencies) : deps_(std::move(dependencies)) {
  enabled_.setSilently(deps_.defaults.boolean(kEnabledKey).value_or(true));
}

void CloudSync::start() {
  settingsSubscription_ = deps_.settings.observeWillChange([this] { schedulePush(); });
  seenApps_ = deps_.settings.monitoredApps().get();
  styleSubscription_ = deps_.settings.defaultStyle().observe(
      [this](const BadgeStyle&) { recordChange(std::string(SyncPayload::kStyleKey)); });
  languageSubscription_ =
      deps_.settings.languageCode().observe([this](const std::optional<std::string>&) {
        recordChange(std::string(SyncPayload::kLanguageKey));
      });
  appsSubscription_ = deps_.settings.monitoredApps().observe(
      [this](const std::vector<MonitoredApp>& apps) { recordAppChanges(apps); });
  accountSubscription_ = deps_.account.state().bind([this](const AccountState& state) {
    if (state.signedIn) {
      pullNow(false);
    }
  });
}

void CloudSync::setEnabled(bool value) {
  deps_.defaults.set(kEnabledKey, value);
  enabled_.set(value);
  if (value) {
    pullNow(false);
  }
}

bool CloudSync::canSync() const { return enabled_.get() && deps_.account.token().has_value(); }

namespace {

std::map<std::string, double, std::less<>> readTimes(const UserDefaults& defaults) {
  std::map<std::string, double, std::less<>> times;
  const Json stored = jsonObjectOrEmpty(defaults.string(CloudSync::kChangeTimesKey).value_or(""));
  for (const auto& [key, value] : stored.items()) {
    if (value.is_number()) {
      times.emplace(key, value.get<double>());
    }
  }
  return times;
}

void writeTimes(UserDefaults& defaults, const std::map<std::string, double, std::less<>>& times) {
  Json object = Json::object();
  for (const auto& [key, value] : times) {
    object[key] = value;
  }
  defaults.set(CloudSync::kChangeTimesKey, json::dump(object));
}

// Apps by id (the first entry of an id), so comparing two long lists costs no square.
using AppsById = std::map<Uuid, const MonitoredApp*>;

AppsById byId(const std::vector<MonitoredApp>& apps) {
  AppsById index;
  for (const auto& app : apps) {
    index.emplace(app.id, &app);
  }
  return index;
}

// Whether `app` is absent from `apps` or differs from the entry there.
bool changedFrom(const AppsById& apps, const MonitoredApp& app) {
  auto it = apps.find(app.id);
  return it == apps.end() || *it->second != app;
}

}  // namespace

void CloudSync::recordChange(const std::string& key) { recordChanges({key}); }

void CloudSync::recordChanges(const std::vector<std::string>& keys) {
  if (isApplyingRemote_ || keys.empty()) {
    return;  // the service's copy brings its own times
  }
  auto times = readTimes(deps_.defaults);
  const double now =
      std::chrono::duration<double>(deps_.scheduler.clock().wallNow().time_since_epoch()).count();
  for (const auto& key : keys) {
    times.insert_or_assign(key, now);
  }
  writeTimes(deps_.defaults, times);
}

void CloudSync::recordAppChanges(const std::vector<MonitoredApp>& apps) {
  const auto before = std::exchange(seenApps_, apps);
  if (isApplyingRemote_) {
    return;
  }
  const AppsById was = byId(before);
  const AppsById is = byId(apps);
  std::vector<std::string> keys;
  for (const auto& app : apps) {
    if (changedFrom(was, app)) {
      keys.push_back(SyncPayload::appKey(app.id));
    }
  }
  for (const auto& app : before) {
    if (!is.contains(app.id)) {
      keys.push_back(SyncPayload::appKey(app.id));
    }
  }
  recordChanges(keys);
}

std::optional<SyncPayload> CloudSync::basePayload() const {
  auto blob = deps_.defaults.string(kLastBlobKey);
  if (!blob) {
    return std::nullopt;
  }
  auto decoded = SyncPayload::decode(*blob);
  if (!decoded.ok()) {
    return std::nullopt;
  }
  return std::move(decoded).value();
}

SyncPayload CloudSync::localPayload() {
  SyncPayload payload = SyncPayload::from(deps_.settings);
  const auto base = basePayload();
  if (base) {
    payload.changedAt = base->changedAt;
  }
  const auto times = readTimes(deps_.defaults);
  const double now =
      std::chrono::duration<double>(deps_.scheduler.clock().wallNow().time_since_epoch()).count();
  auto changed = [&](const std::string& key) {
    if (auto it = times.find(key); it != times.end()) {
      payload.changedAt.insert_or_assign(key, it->second);
    } else if (base) {
      // Changed before the times were recorded (an older program): as of now.
      payload.changedAt.insert_or_assign(key, now);
    } else {
      payload.changedAt.erase(key);
    }
  };
  if (!base || base->defaultStyle != payload.defaultStyle) {
    changed(std::string(SyncPayload::kStyleKey));
  }
  if (!base || base->languageCode != payload.languageCode) {
    changed(std::string(SyncPayload::kLanguageKey));
  }
  const AppsById baseApps = base ? byId(base->monitoredApps) : AppsById{};
  for (const auto& app : payload.monitoredApps) {
    if (!base || changedFrom(baseApps, app)) {
      changed(SyncPayload::appKey(app.id));
    }
  }
  if (base) {
    const AppsById localApps = byId(payload.monitoredApps);
    for (const auto& app : base->monitoredApps) {
      if (!localApps.contains(app.id)) {
        changed(SyncPayload::appKey(app.id));
      }
    }
  }
  return payload;
}

std::string CloudSync::localBlob() { return localPayload().blob(); }

// Equal settings need no push, whatever the texts: a blob of an older program carries the
// statistics switch, which this one leaves out, and pushing only for that would make the two
// programs push back and forth.
bool CloudSync::localMatchesBase() {
  const auto base = basePayload();
  return base && SyncPayload::from(deps_.settings).sameSettings(*base);
}

std::int64_t CloudSync::baseVersion() const {
  return deps_.defaults.integer(kBaseVersionKey).value_or(0);
}

void CloudSync::schedulePush() {
  if (isApplyingRemote_ || !canSync()) {
    return;
  }
  pushWork_.cancel();
  pushWork_ = deps_.scheduler.mainQueue().postAfter(
      kDebounce, weak_.bind([](CloudSync& self) { self.pushIfChanged(); }));
}

void CloudSync::pushIfChanged() {
  if (!canSync()) {
    return;
  }
  if (busy_) {
    // The blob is taken when the push really goes out: by then a pull may have replaced the
    // settings this one would have sent.
    waitingPush_ = true;
    return;
  }
  if (localMatchesBase()) {
    return;
  }
  runPush(localBlob());
}

void CloudSync::pullNow(bool force) {
  if (!canSync()) {
    return;
  }
  if (busy_) {
    waitingPull_ = waitingPull_.value_or(false) || force;
    return;
  }
  runPull(force);
}

void CloudSync::runPush(std::string blob) {
  auto token = deps_.account.token();
  if (!token) {
    abandon();
    return;
  }
  busy_ = true;
  status_.set(SyncStatus::syncing);
  const Json body = {
      {"blob", blob}, {"baseVersion", baseVersion()}, {"deviceId", deps_.account.deviceId()}};
  deps_.http.send(
      cloud::apiRequest(deps_.config, "PUT", kSyncPath, token, json::dump(body)),
      deps_.scheduler.mainQueue(),
      weak_.bind([blob = std::move(blob)](CloudSync& self, const HttpResponse& response) {
        switch (cloud::classify(response.status)) {
          case cloud::ApiOutcome::success: {
            const auto version = integerMember(jsonObjectOrEmpty(response.body), "version")
                                     .value_or(self.baseVersion());
            self.deps_.defaults.applyChanges(
                {{kBaseVersionKey, DefaultsValue(version)}, {kLastBlobKey, DefaultsValue(blob)}});
            self.deps_.log.log("sync: pushed version=" + std::to_string(version));
            self.finish(SyncStatus::idle);
            return;
          }
          case cloud::ApiOutcome::conflict:
            // Another Mac got there first: its copy is merged with this one's changes.
            self.deps_.log.log("sync: push conflict, merging with the service's copy");
            self.runPull(true);
            return;
          case cloud::ApiOutcome::unauthorized:
          case cloud::ApiOutcome::failure:
            self.deps_.log.log("sync: push failed status=" + std::to_string(response.status));
            self.finish(SyncStatus::error);
            return;
        }
      }));
}

void CloudSync::runPull(bool force) {
  if (!canSync()) {
    abandon();
    return;
  }
  busy_ = true;
  status_.set(SyncStatus::syncing);
  deps_.http.send(
      cloud::apiRequest(deps_.config, "GET", kSyncPath, deps_.account.token()),
      deps_.scheduler.mainQueue(),
      weak_.bind([force](CloudSync& self, const HttpResponse& response) {
        const auto outcome = cloud::classify(response.status);
        if (outcome == cloud::ApiOutcome::unauthorized) {
          // Signing out is the account's decision (on its refresh), not the sync's.
          self.finish(SyncStatus::idle);
          return;
        }
        if (outcome != cloud::ApiOutcome::success) {
          self.deps_.log.log("sync: pull failed status=" + std::to_string(response.status));
          self.finish(SyncStatus::error);
          return;
        }
        const Json answer = jsonObjectOrEmpty(response.body);
        const std::int64_t remoteVersion = integerMember(answer, "version").value_or(0);
        auto blobMember = answer.find("blob");
        if (remoteVersion == 0 || blobMember == answer.end() || !blobMember->is_string()) {
          // Nothing on the service yet: this Mac's settings become the first version.
          self.runPush(self.localBlob());
          return;
        }
        if (!force && self.baseVersion() >= remoteVersion) {
          if (self.localMatchesBase()) {
            self.finish(SyncStatus::idle);
          } else {
            self.runPush(self.localBlob());
          }
          return;
        }
        self.mergeRemote(blobMember->get<std::string>(), remoteVersion);
      }));
}

void CloudSync::mergeRemote(const std::string& blob, std::int64_t version) {
  auto remote = SyncPayload::decode(blob);
  if (!remote.ok()) {
    // Recorded all the same, so it is not fetched again until the version grows; the next
    // local change is pushed on top of it.
    deps_.log.log("sync: undecodable copy version=" + std::to_string(version) + " (" +
                  remote.error().message + ")");
    deps_.defaults.applyChanges(
        {{kBaseVersionKey, DefaultsValue(version)}, {kLastBlobKey, DefaultsValue(blob)}});
    finish(SyncStatus::idle);
    return;
  }
  const bool firstSync = !deps_.defaults.string(kLastBlobKey).has_value();
  const SyncPayload local = localPayload();
  const SyncPayload merged = mergeSyncPayloads(basePayload(), local, remote.value());
  if (!merged.sameSettings(local)) {
    // The settings' change notifications arrive synchronously while this is set, so the
    // applied copy is neither pushed straight back nor taken for this Mac's own change.
    isApplyingRemote_ = true;
    merged.apply(deps_.settings);
    isApplyingRemote_ = false;
  }
  deps_.defaults.applyChanges(
      {{kBaseVersionKey, DefaultsValue(version)}, {kLastBlobKey, DefaultsValue(blob)}});
  if (merged.sameSettings(remote.value())) {
    deps_.log.log("sync: applied version=" + std::to_string(version));
    finish(SyncStatus::idle);
    return;
  }
  deps_.log.log("sync: merged version=" + std::to_string(version) + " with this Mac's " +
                (firstSync ? "settings (first sync)" : "changes") + "; pushing the merge");
  runPush(merged.blob());
}

void CloudSync::abandon() {
  // Signed out or switched off in the middle of a chain (a conflict's pull, a first push):
  // nothing was sent, so a "syncing" begun by the chain ends as "idle".
  finish(status_.get() == SyncStatus::syncing ? SyncStatus::idle : status_.get());
}

void CloudSync::finish(SyncStatus status) {
  busy_ = false;
  if (status_.get() != status) {
    status_.set(status);
  }
  if (waitingPull_) {
    const bool force = *waitingPull_;
    waitingPull_.reset();
    pullNow(force);
    if (busy_) {
      return;
    }
  }
  if (waitingPush_) {
    waitingPush_ = false;
    pushIfChanged();
  }
}

}  // namespace lumarin
