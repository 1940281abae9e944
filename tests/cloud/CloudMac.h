#pragma once

#include <memory>
#include <string>

#include "cloud/CloudAccount.h"
#include "cloud/CloudSync.h"
#include "cloud/SyncPayload.h"
#include "diagnostics/DebugLog.h"
#include "l10n/FrameworkLanguage.h"
#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "platform/sim/SimLoginItems.h"
#include "platform/sim/SimSecretStore.h"
#include "platform/sim/SimSystemLog.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimWorkspace.h"
#include "platform/sim/World.h"
#include "support/TempDir.h"

namespace lumarin::test {

// A blob's settings without the change times the sync adds, in the form `CloudMac::blob`
// gives; "<undecodable>" for anything else.
inline std::string settingsOf(const std::string& blob) {
  auto payload = SyncPayload::decode(blob);
  if (!payload.ok()) {
    return "<undecodable>";
  }
  SyncPayload settings = std::move(payload).value();
  settings.changedAt.clear();
  return settings.blob();
}
inline std::string settingsOf(const std::optional<std::string>& blob) {
  return blob ? settingsOf(*blob) : "<none>";
}

// One Mac of the user's, as far as the account and the sync see it: its own defaults domain,
// keychain, settings, browser and debug log, talking to the service through `http`. The
// account and the sync are made by `launch()`, as the application delegate does.
struct CloudMac {
  CloudMac(Scheduler& onScheduler, HttpClient& client, std::string serviceURL)
      : scheduler(onScheduler), http(client), baseURL(std::move(serviceURL)) {}

  // A new account object, as at a launch (the sync, which observes it, goes first).
  void makeAccount() {
    sync.reset();
    account = std::make_unique<CloudAccount>(
        CloudAccount::Dependencies{http, secrets, workspace, scheduler, log, CloudConfig{baseURL}});
  }
  void launch() {
    makeAccount();
    sync = std::make_unique<CloudSync>(CloudSync::Dependencies{
        settings, *account, defaults, http, scheduler, log, CloudConfig{baseURL}});
    if (account->token()) {
      account->refresh();
    }
    sync->start();
  }

  std::string blob() const { return SyncPayload::from(settings).blob(); }
  std::int64_t baseVersion() const {
    return defaults.integer(CloudSync::kBaseVersionKey).value_or(0);
  }
  std::optional<std::string> lastBlob() const { return defaults.string(CloudSync::kLastBlobKey); }
  std::size_t logLinesContaining(const std::string& text) const {
    const std::string tail = log.tail();
    std::size_t count = 0;
    for (auto at = tail.find(text); at != std::string::npos; at = tail.find(text, at + 1)) {
      ++count;
    }
    return count;
  }

  Scheduler& scheduler;
  HttpClient& http;
  std::string baseURL;
  TempDir dir;
  SimUserDefaults defaults;
  SimSecretStore secrets;
  sim::World world;
  sim::SimWorkspace workspace{world, scheduler};
  SimSystemLog systemLog;
  DebugLog log{dir / "log", scheduler.clock()};
  FrameworkLanguage frameworkLanguage;
  L10n l10n{defaults, frameworkLanguage, nullptr};
  SimLoginItems loginItems;
  AppSettings settings{
      AppSettings::Dependencies{defaults, loginItems, systemLog, log, scheduler.clock(), &l10n}};
  std::unique_ptr<CloudAccount> account;
  std::unique_ptr<CloudSync> sync;
};

}  // namespace lumarin::test
