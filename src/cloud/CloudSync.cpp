#include "cloud/CloudSync.h"

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

Json objectOrEmpty(const std::string& body) {
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

std::string CloudSync::localBlob() const { return SyncPayload::from(deps_.settings).blob(); }

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
  std::string blob = localBlob();
  if (blob == deps_.defaults.string(kLastBlobKey)) {
    return;
  }
  runPush(std::move(blob));
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
            const auto version =
                integerMember(objectOrEmpty(response.body), "version").value_or(self.baseVersion());
            self.deps_.defaults.applyChanges(
                {{kBaseVersionKey, DefaultsValue(version)}, {kLastBlobKey, DefaultsValue(blob)}});
            self.deps_.log.log("sync: pushed version=" + std::to_string(version));
            self.finish(SyncStatus::idle);
            return;
          }
          case cloud::ApiOutcome::conflict:
            // Another Mac got there first: its copy wins and this change is dropped.
            self.deps_.log.log("sync: push conflict, taking the service's copy");
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
        const Json answer = objectOrEmpty(response.body);
        const std::int64_t remoteVersion = integerMember(answer, "version").value_or(0);
        auto blobMember = answer.find("blob");
        if (remoteVersion == 0 || blobMember == answer.end() || !blobMember->is_string()) {
          // Nothing on the service yet: this Mac's settings become the first version.
          self.runPush(self.localBlob());
          return;
        }
        if (!force && self.baseVersion() >= remoteVersion) {
          std::string local = self.localBlob();
          if (local == self.deps_.defaults.string(kLastBlobKey)) {
            self.finish(SyncStatus::idle);
          } else {
            self.runPush(std::move(local));
          }
          return;
        }
        self.applyRemote(blobMember->get<std::string>(), remoteVersion);
      }));
}

void CloudSync::applyRemote(const std::string& blob, std::int64_t version) {
  auto payload = SyncPayload::decode(blob);
  if (payload.ok()) {
    // The settings' change notifications arrive synchronously while this is set, so the
    // applied copy is not pushed straight back.
    isApplyingRemote_ = true;
    payload.value().apply(deps_.settings);
    isApplyingRemote_ = false;
    deps_.log.log("sync: applied version=" + std::to_string(version));
  } else {
    // Recorded all the same, so it is not fetched again until the version grows; the next
    // local change is pushed on top of it.
    deps_.log.log("sync: undecodable copy version=" + std::to_string(version) + " (" +
                  payload.error().message + ")");
  }
  deps_.defaults.applyChanges(
      {{kBaseVersionKey, DefaultsValue(version)}, {kLastBlobKey, DefaultsValue(blob)}});
  finish(SyncStatus::idle);
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
