// The sync on virtual time with a scripted service: the debounce, first sync, pulls, conflicts,
// failures of every kind and late answers, and the payload's own form.
#include <gtest/gtest.h>

#include "base/Json.h"
#include "cloud/CloudMac.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimHttpClient.h"

namespace lumarin {
namespace {

constexpr const char* kSyncBase = "https://sync.test/";
const Uuid kAppId = *Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");

std::string remoteBlob(
    BadgeStyle style, const std::string& bundleID,
    const char* extraMembers = R"("improveDataSharing":false,"languageCode":"de",)") {
  return std::string(R"({"defaultStyle":")") + std::string(rawValue(style)) + "\"," + extraMembers +
         R"("monitoredApps":[{"bundleID":")" + bundleID +
         R"(","id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"Mail","visibility":"always"}]})";
}

std::string getAnswer(std::int64_t version, const std::string& blob) {
  return json::dump(json::Json{{"version", version}, {"blob", blob}});
}

class CloudSyncTest : public ::testing::Test {
 protected:
  // A Mac signed in to the service with synced settings at `version`; the launch's pull is
  // answered with `launchAnswer`.
  void launch(HttpResponse launchAnswer) {
    mac_.secrets.set("cloudToken", "tok");
    mac_.secrets.set("cloudDeviceId", "DEV");
    mac_.launch();
    // The launch refreshes the account (answered with a failure, which keeps the state as it
    // is, so no second pull follows) and pulls.
    http_.answerNext({500, ""});
    http_.answerNext(std::move(launchAnswer));
    scheduler_.runUntilIdle();
    http_.clearRequests();
  }
  // Launched in agreement with the service at version 5.
  void launchInSync() {
    mac_.defaults.set(CloudSync::kBaseVersionKey, std::int64_t{5});
    mac_.defaults.set(CloudSync::kLastBlobKey, mac_.blob());
    launch({200, getAnswer(5, mac_.blob())});
    ASSERT_TRUE(puts().empty());
  }
  std::vector<HttpRequest> puts() const { return http_.requests("PUT", "/api/sync/lumarin"); }
  std::vector<HttpRequest> gets() const { return http_.requests("GET", "/api/sync/lumarin"); }
  json::Json body(const HttpRequest& request) const { return json::parse(request.body).value(); }
  void addApp(const std::string& bundleID) { mac_.settings.add(bundleID, bundleID); }

  ManualScheduler scheduler_;
  SimHttpClient http_;
  test::CloudMac mac_{scheduler_, http_, kSyncBase};
};

TEST_F(CloudSyncTest, ABurstOfChangesIsOnePutTwoSecondsAfterTheLast) {
  launchInSync();
  for (int i = 0; i < 10; ++i) {
    addApp("com.example.app" + std::to_string(i));
    scheduler_.advanceBy(seconds(0.1));
  }
  scheduler_.advanceBy(seconds(1.85));  // 1.95 s after the last change
  EXPECT_TRUE(puts().empty());
  scheduler_.advanceBy(seconds(0.1));
  auto sent = puts();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].url, std::string(kSyncBase) + "api/sync/lumarin");
  EXPECT_EQ(sent[0].timeout, seconds(60));
  EXPECT_EQ(sent[0].headers,
            (std::vector<std::pair<std::string, std::string>>{{"Content-Type", "application/json"},
                                                              {"Authorization", "Bearer tok"}}));
  const auto put = body(sent[0]);
  EXPECT_EQ(test::settingsOf(put["blob"].get<std::string>()), mac_.blob());
  EXPECT_EQ(put["baseVersion"], 5);
  EXPECT_EQ(put["deviceId"], "DEV");
  EXPECT_EQ(mac_.sync->status().get(), SyncStatus::syncing);

  http_.answerNext({200, R"({"version":6})"});
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.baseVersion(), 6);
  EXPECT_EQ(test::settingsOf(mac_.lastBlob()), mac_.blob());
  EXPECT_EQ(mac_.sync->status().get(), SyncStatus::idle);
  scheduler_.advanceBy(seconds(30));
  EXPECT_EQ(puts().size(), 1u);
}

TEST_F(CloudSyncTest, AChangeUndoneBeforeTheDebounceSendsNothing) {
  launchInSync();
  mac_.settings.setDefaultStyle(BadgeStyle::dot);
  scheduler_.advanceBy(seconds(1));
  mac_.settings.setDefaultStyle(BadgeStyle::circle);
  scheduler_.advanceBy(seconds(10));
  EXPECT_TRUE(http_.requests().empty());
  EXPECT_EQ(mac_.sync->status().get(), SyncStatus::idle);
}

TEST_F(CloudSyncTest, FirstSyncAgainstAnEmptyServicePushesOnBaseZero) {
  addApp("com.apple.mail");
  // No version, version 0, or a version without a blob: nothing is stored there.
  for (const char* empty : {"{}", R"({"version":0})", R"({"version":3})"}) {
    SCOPED_TRACE(empty);
    mac_.defaults.remove(CloudSync::kBaseVersionKey);
    launch({200, empty});
    ASSERT_EQ(puts().size(), 0u);  // cleared by launch(); the push is waiting
    ASSERT_EQ(http_.waitingCount(), 1u);
    http_.answerNext({200, R"({"version":1})"});
    scheduler_.runUntilIdle();
    EXPECT_EQ(mac_.baseVersion(), 1);
    EXPECT_EQ(test::settingsOf(mac_.lastBlob()), mac_.blob());
  }
  // The push itself, seen once more from the start.
  mac_.defaults.remove(CloudSync::kBaseVersionKey);
  mac_.defaults.remove(CloudSync::kLastBlobKey);
  mac_.launch();
  http_.answerNext({500, ""});
  http_.answerNext({200, "{}"});
  scheduler_.runUntilIdle();
  ASSERT_EQ(puts().size(), 1u);
  EXPECT_EQ(body(puts()[0])["baseVersion"], 0);
  EXPECT_EQ(test::settingsOf(body(puts()[0])["blob"].get<std::string>()), mac_.blob());
}

TEST_F(CloudSyncTest, ThePayloadIsSortedCompactJsonOfTheThreeSettings) {
  mac_.settings.setMonitoredApps({MonitoredApp{kAppId, "com.apple.mail", "Mail", BadgeStyle::dot,
                                               std::nullopt, IconVisibility::dim}});
  mac_.settings.setLanguageCode("ja");
  EXPECT_EQ(
      mac_.blob(),
      R"({"defaultStyle":"circle","languageCode":"ja",)"
      R"("monitoredApps":[{"bundleID":"com.apple.mail","id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F",)"
      R"("name":"Mail","style":"dot","visibility":"dim"}]})");
  auto decoded = SyncPayload::decode(mac_.blob());
  ASSERT_TRUE(decoded.ok());
  EXPECT_EQ(decoded.value(), SyncPayload::from(mac_.settings));

  for (const char* bad :
       {"", "[]", R"({"monitoredApps":[]})", R"({"defaultStyle":"Dot","monitoredApps":[]})",
        R"({"defaultStyle":"dot"})", R"({"defaultStyle":"dot","monitoredApps":[{"id":"x"}]})",
        R"({"defaultStyle":"dot","monitoredApps":[],"languageCode":5})"}) {
    EXPECT_FALSE(SyncPayload::decode(bad).ok()) << bad;
  }
  // An older program's consent switch (even a malformed one) and unknown members are ignored.
  auto nulls = SyncPayload::decode(
      R"({"defaultStyle":"text","monitoredApps":[],"languageCode":null,"improveDataSharing":"yes","x":1})");
  ASSERT_TRUE(nulls.ok());
  EXPECT_FALSE(nulls.value().languageCode);
  EXPECT_EQ(nulls.value().blob(), R"({"defaultStyle":"text","monitoredApps":[]})");
  // Change times read back; entries that are not numbers are dropped, not the document.
  auto timed = SyncPayload::decode(
      R"({"changedAt":{"app.X":12.5,"defaultStyle":"soon","languageCode":3},"defaultStyle":"dot","monitoredApps":[]})");
  ASSERT_TRUE(timed.ok());
  EXPECT_EQ(timed.value().changedAt,
            (std::map<std::string, double, std::less<>>{{"app.X", 12.5}, {"languageCode", 3}}));
  EXPECT_EQ(SyncPayload::decode(timed.value().blob()).value(), timed.value());
  EXPECT_TRUE(
      SyncPayload::decode(R"({"changedAt":[1],"defaultStyle":"dot","monitoredApps":[]})").ok());
}

TEST_F(CloudSyncTest, PullAtLaunchWithNothingNewerSendsNothing) {
  launchInSync();
  EXPECT_EQ(mac_.sync->status().get(), SyncStatus::idle);
  scheduler_.advanceBy(seconds(10));
  EXPECT_TRUE(http_.requests().empty());
}

TEST_F(CloudSyncTest, ANewerCopyReplacesTheSettingsAndIsNotEchoed) {
  mac_.defaults.set(CloudSync::kBaseVersionKey, std::int64_t{5});
  mac_.defaults.set(CloudSync::kLastBlobKey, mac_.blob());
  const std::string remote = remoteBlob(BadgeStyle::text, "com.apple.mail");
  launch({200, getAnswer(6, remote)});
  EXPECT_EQ(mac_.settings.defaultStyle().get(), BadgeStyle::text);
  ASSERT_EQ(mac_.settings.monitoredApps().get().size(), 1u);
  EXPECT_EQ(mac_.settings.monitoredApps().get()[0].id, kAppId);
  EXPECT_EQ(mac_.settings.languageCode().get(), "de");
  // An older Mac's consent switch does not travel.
  EXPECT_TRUE(mac_.settings.improveDataSharing().get());
  EXPECT_EQ(mac_.l10n.language().get(), AppLanguage::de);
  // Persisted in the defaults domain like any change of the user's.
  EXPECT_EQ(mac_.defaults.string("defaultStyle"), "text");
  EXPECT_EQ(mac_.baseVersion(), 6);
  EXPECT_EQ(mac_.lastBlob(), remote);
  scheduler_.advanceBy(seconds(10));
  EXPECT_TRUE(puts().empty());
}

TEST_F(CloudSyncTest, MissingOptionalMembersClearTheLanguageAndKeepTheStatisticsSwitch) {
  mac_.settings.setLanguageCode("fr");
  mac_.settings.setImproveDataSharing(false);
  launch({200, getAnswer(2, remoteBlob(BadgeStyle::dot, "com.apple.mail", ""))});
  EXPECT_FALSE(mac_.settings.languageCode().get());
  EXPECT_FALSE(mac_.defaults.contains("languageCode"));
  EXPECT_FALSE(mac_.settings.improveDataSharing().get());
  EXPECT_EQ(mac_.settings.defaultStyle().get(), BadgeStyle::dot);
}

TEST_F(CloudSyncTest, AnUndecodableCopyIsRecordedNotAppliedAndTheNextChangeGoesOnTopOfIt) {
  addApp("com.local.app");
  const auto before = mac_.blob();
  launch({200, getAnswer(9, R"({"defaultStyle":"sparkly","monitoredApps":[]})")});
  EXPECT_EQ(mac_.blob(), before);
  EXPECT_EQ(mac_.baseVersion(), 9);
  EXPECT_EQ(mac_.lastBlob(), R"({"defaultStyle":"sparkly","monitoredApps":[]})");
  EXPECT_EQ(mac_.sync->status().get(), SyncStatus::idle);
  // Not fetched again while the version stays.
  mac_.sync->pullNow(false);
  http_.answerNext({200, getAnswer(9, R"({"defaultStyle":"sparkly","monitoredApps":[]})")});
  scheduler_.runUntilIdle();
  ASSERT_EQ(puts().size(), 1u);  // the local settings differ from the recorded blob
  EXPECT_EQ(body(puts()[0])["baseVersion"], 9);
  EXPECT_EQ(body(puts()[0])["blob"], before);
}

// A copy another device (or anyone with the token) stored, nested far too deep for a tree: read
// as undecodable and recorded, so the launch neither crashes nor fetches it again.
TEST_F(CloudSyncTest, ACopyNestedTooDeepIsUndecodableAndRecorded) {
  addApp("com.local.app");
  const auto before = mac_.blob();
  const std::string hostile = R"({"defaultStyle":"text","monitoredApps":)" +
                              std::string(300000, '[') + std::string(300000, ']') + "}";
  launch({200, getAnswer(12, hostile)});
  EXPECT_EQ(mac_.blob(), before);
  EXPECT_EQ(mac_.baseVersion(), 12);
  EXPECT_EQ(mac_.logLinesContaining("sync: undecodable copy version=12 (nested deeper than 64 "
                                    "levels at byte 102)"),
            1u);
  mac_.sync->pullNow(false);
  http_.answerNext({200, getAnswer(12, hostile)});
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.logLinesContaining("sync: undecodable copy"), 1u);
}

TEST_F(CloudSyncTest, AConflictMergesTheServicesCopyWithTheLocalEdit) {
  launchInSync();
  addApp("com.local.kept");
  scheduler_.advanceBy(seconds(2));
  ASSERT_EQ(puts().size(), 1u);
  http_.answerNext({409, R"({"error":"stale","version":5})"});
  scheduler_.runUntilIdle();
  ASSERT_EQ(gets().size(), 1u);
  // Another Mac added an app and changed the style on the same base.
  const std::string remote = remoteBlob(BadgeStyle::dot, "com.remote.kept", "");
  http_.answerNext({200, getAnswer(6, remote)});
  scheduler_.runUntilIdle();
  std::vector<std::string> apps;
  for (const auto& app : mac_.settings.monitoredApps().get()) {
    apps.push_back(app.bundleID);
  }
  EXPECT_EQ(apps, (std::vector<std::string>{"com.remote.kept", "com.local.kept"}));
  EXPECT_EQ(mac_.settings.defaultStyle().get(), BadgeStyle::dot);
  EXPECT_EQ(mac_.lastBlob(), remote);
  EXPECT_EQ(mac_.baseVersion(), 6);
  // The merge goes out on top of the service's version.
  ASSERT_EQ(puts().size(), 2u);
  EXPECT_EQ(body(puts()[1])["baseVersion"], 6);
  auto pushed = SyncPayload::decode(body(puts()[1])["blob"].get<std::string>());
  ASSERT_TRUE(pushed.ok());
  EXPECT_TRUE(pushed.value().sameSettings(SyncPayload::from(mac_.settings)));
  http_.answerNext({200, R"({"version":7})"});
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.baseVersion(), 7);
  EXPECT_EQ(mac_.sync->status().get(), SyncStatus::idle);
  EXPECT_EQ(mac_.logLinesContaining("merged version=6 with this Mac's changes; pushing the merge"),
            1u);
  scheduler_.advanceBy(seconds(10));
  EXPECT_EQ(puts().size(), 2u);
}

// A Mac that has settings of its own signs in to an account that has some: both are kept, the
// account's style wins over a style this Mac never chose, and an app both watch stays one.
TEST_F(CloudSyncTest, TheFirstSignInMergesInsteadOfReplacing) {
  addApp("com.apple.mail");
  addApp("com.first.mac");
  launch({200, getAnswer(4, remoteBlob(BadgeStyle::text, "com.apple.mail", ""))});
  std::vector<std::string> apps;
  for (const auto& app : mac_.settings.monitoredApps().get()) {
    apps.push_back(app.bundleID);
  }
  EXPECT_EQ(apps, (std::vector<std::string>{"com.apple.mail", "com.first.mac"}));
  EXPECT_EQ(mac_.settings.monitoredApps().get()[0].id, kAppId);
  EXPECT_EQ(mac_.settings.defaultStyle().get(), BadgeStyle::text);
  ASSERT_EQ(http_.waitingCount(), 1u);  // the merge's push
  http_.answerNext({200, R"({"version":5})"});
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.baseVersion(), 5);
}

// Consent is each Mac's own: never sent, never taken.
TEST_F(CloudSyncTest, ConsentChoicesNeverTravel) {
  launchInSync();
  mac_.settings.setImproveDataSharing(false);
  mac_.settings.setCrashReportingEnabled(false);
  scheduler_.advanceBy(seconds(10));
  EXPECT_TRUE(puts().empty()) << "a consent switch alone is no change to sync";
  addApp("com.example.a");
  scheduler_.advanceBy(seconds(2));
  ASSERT_EQ(puts().size(), 1u);
  const std::string sent = body(puts()[0])["blob"].get<std::string>();
  EXPECT_EQ(sent.find("improveDataSharing"), std::string::npos) << sent;
  EXPECT_EQ(sent.find("crashReporting"), std::string::npos) << sent;
  http_.answerNext({200, R"({"version":6})"});
  scheduler_.runUntilIdle();
  // An older Mac's copy with the statistics switch on changes nothing here.
  mac_.sync->pullNow(false);
  http_.answerNext({200, getAnswer(7, remoteBlob(BadgeStyle::dot, "com.apple.mail",
                                                 R"("improveDataSharing":true,)"))});
  scheduler_.runUntilIdle();
  EXPECT_FALSE(mac_.settings.improveDataSharing().get());
  EXPECT_FALSE(mac_.settings.crashReportingEnabled().get());
}

TEST_F(CloudSyncTest, UnauthorizedNeverSignsOut) {
  launchInSync();
  mac_.sync->pullNow(false);
  http_.answerNext({401, ""});
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.sync->status().get(), SyncStatus::idle);

  addApp("com.example.a");
  scheduler_.advanceBy(seconds(2));
  http_.answerNext({401, ""});
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.sync->status().get(), SyncStatus::error);
  EXPECT_TRUE(mac_.account->state().get().signedIn);
  EXPECT_EQ(mac_.secrets.get("cloudToken"), "tok");
  EXPECT_EQ(mac_.baseVersion(), 5);
}

// The service down, broken or answering nonsense: the main queue never waits, nothing local is
// lost or marked as synced, and the next change tries again.
TEST_F(CloudSyncTest, FailedPushesKeepTheSettingsAndRetryOnTheNextChange) {
  launchInSync();
  const std::string synced = *mac_.lastBlob();
  int n = 0;
  for (const HttpResponse& failure :
       {HttpResponse{0, ""}, HttpResponse{500, R"({"version":99})"}, HttpResponse{503, "<html>"},
        HttpResponse{404, ""}, HttpResponse{302, ""}}) {
    SCOPED_TRACE(failure.status);
    addApp("com.example.app" + std::to_string(n++));
    scheduler_.advanceBy(seconds(2));
    ASSERT_EQ(http_.waitingCount(), 1u);
    http_.answerNext(failure);
    scheduler_.runUntilIdle();
    EXPECT_EQ(mac_.sync->status().get(), SyncStatus::error);
    EXPECT_EQ(mac_.baseVersion(), 5);
    EXPECT_EQ(mac_.lastBlob(), synced);
    EXPECT_EQ(mac_.settings.monitoredApps().get().size(), static_cast<std::size_t>(n));
  }
  EXPECT_EQ(puts().size(), 5u);
  // A success whose body is garbage still counts: the version stays, the blob is recorded.
  addApp("com.example.last");
  scheduler_.advanceBy(seconds(2));
  http_.answerNext({200, "\xff\xfe garbage"});
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.sync->status().get(), SyncStatus::idle);
  EXPECT_EQ(mac_.baseVersion(), 5);
  EXPECT_EQ(test::settingsOf(mac_.lastBlob()), mac_.blob());
}

TEST_F(CloudSyncTest, FailedAndNonsensePullsChangeNoSetting) {
  launchInSync();
  addApp("com.local.app");
  scheduler_.advanceBy(seconds(2));
  http_.answerNext({200, R"({"version":6})"});
  scheduler_.runUntilIdle();
  const auto settings = mac_.blob();
  for (const HttpResponse& answer :
       {HttpResponse{0, ""}, HttpResponse{500, ""},
        HttpResponse{200, R"({"version":"7","blob":1})"},
        HttpResponse{200, R"({"version":7.5,"blob":"{}"})"}, HttpResponse{200, "null"}}) {
    mac_.sync->pullNow(false);
    http_.answerNext(answer);
    scheduler_.runUntilIdle();
    EXPECT_EQ(mac_.blob(), settings) << answer.body;
    // Answers without a usable version read as "nothing stored" and push this Mac's copy.
    while (http_.answerNext({200, R"({"version":6})"})) {
      scheduler_.runUntilIdle();
    }
  }
  EXPECT_EQ(mac_.blob(), settings);
}

TEST_F(CloudSyncTest, ALateAnswerBlocksNothingAndTheWaitingPushSendsTheNewestSettings) {
  launchInSync();
  addApp("com.example.first");
  scheduler_.advanceBy(seconds(2));
  ASSERT_EQ(puts().size(), 1u);
  // No answer for 50 s: the main queue goes on, changes are debounced, and the second push
  // waits for the first.
  addApp("com.example.second");
  scheduler_.advanceBy(seconds(5));
  mac_.settings.setDefaultStyle(BadgeStyle::text);
  scheduler_.advanceBy(seconds(45));
  EXPECT_EQ(puts().size(), 1u);
  EXPECT_TRUE(mac_.sync->isBusy());
  http_.answerNext({200, R"({"version":6})"});
  scheduler_.runUntilIdle();
  ASSERT_EQ(puts().size(), 2u);
  EXPECT_EQ(body(puts()[1])["baseVersion"], 6);
  EXPECT_EQ(test::settingsOf(body(puts()[1])["blob"].get<std::string>()), mac_.blob());
}

TEST_F(CloudSyncTest, AnAnswerSlowerThanTheTimeoutIsAFailure) {
  launchInSync();
  http_.script("PUT", "/api/sync/lumarin", {200, R"({"version":6})"}, seconds(90));
  addApp("com.example.slow");
  scheduler_.advanceBy(seconds(2 + 59.9));
  EXPECT_EQ(mac_.sync->status().get(), SyncStatus::syncing);
  scheduler_.advanceBy(seconds(0.2));
  EXPECT_EQ(mac_.sync->status().get(), SyncStatus::error);
  EXPECT_EQ(mac_.baseVersion(), 5);
}

// A pull asked for while our push is out must not go before the push's answer: answered out
// of order, the push's commit would record version 6 for settings the pull had rolled back.
TEST_F(CloudSyncTest, RequestsOfOneMacRunOneAtATime) {
  launchInSync();
  addApp("com.example.pushed");
  scheduler_.advanceBy(seconds(2));
  mac_.sync->setEnabled(false);
  mac_.sync->setEnabled(true);  // switching on pulls
  EXPECT_TRUE(gets().empty());
  http_.answerNext({200, R"({"version":6})"});
  scheduler_.runUntilIdle();
  ASSERT_EQ(gets().size(), 1u);
  http_.answerNext({200, getAnswer(6, *mac_.lastBlob())});
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.settings.monitoredApps().get().back().bundleID, "com.example.pushed");
  EXPECT_FALSE(mac_.sync->isBusy());
}

TEST_F(CloudSyncTest, SwitchedOffSyncsNothingAndSwitchingOnPulls) {
  launchInSync();
  mac_.sync->setEnabled(false);
  EXPECT_EQ(mac_.defaults.boolean(CloudSync::kEnabledKey), false);
  addApp("com.example.offline");
  scheduler_.advanceBy(seconds(10));
  EXPECT_TRUE(http_.requests().empty());
  mac_.sync->setEnabled(true);
  EXPECT_EQ(mac_.defaults.boolean(CloudSync::kEnabledKey), true);
  ASSERT_EQ(gets().size(), 1u);
  http_.answerNext({200, getAnswer(5, *mac_.lastBlob())});
  scheduler_.runUntilIdle();
  ASSERT_EQ(puts().size(), 1u);  // the change made while off
  EXPECT_EQ(test::settingsOf(body(puts()[0])["blob"].get<std::string>()), mac_.blob());
}

TEST_F(CloudSyncTest, SwitchedOffDuringAConflictEndsIdleWithoutPulling) {
  launchInSync();
  addApp("com.example.kept");
  scheduler_.advanceBy(seconds(2));
  mac_.sync->setEnabled(false);
  http_.answerNext({409, R"({"version":8})"});
  scheduler_.runUntilIdle();
  EXPECT_TRUE(gets().empty());
  EXPECT_EQ(mac_.sync->status().get(), SyncStatus::idle);
  EXPECT_FALSE(mac_.sync->isBusy());
  EXPECT_EQ(mac_.settings.monitoredApps().get().back().bundleID, "com.example.kept");
}

TEST_F(CloudSyncTest, TheSwitchIsReadFromTheDefaultsAndSignedOutMacsSendNothing) {
  mac_.defaults.set(CloudSync::kEnabledKey, std::string("NO"));  // not a boolean: on
  mac_.launch();
  EXPECT_TRUE(mac_.sync->enabled().get());
  addApp("com.example.a");
  scheduler_.advanceBy(seconds(10));
  EXPECT_TRUE(http_.requests().empty());

  mac_.defaults.set(CloudSync::kEnabledKey, false);
  mac_.secrets.set("cloudToken", "tok");
  mac_.launch();
  EXPECT_FALSE(mac_.sync->enabled().get());
  http_.answerNext({200, "{}"});  // the refresh
  scheduler_.runUntilIdle();
  EXPECT_TRUE(gets().empty());
}

TEST_F(CloudSyncTest, SigningInPulls) {
  mac_.launch();
  mac_.account->signIn();
  ASSERT_TRUE(
      mac_.account->handleCallback("lumarin://auth?code=c&state=" + *mac_.account->pendingState()));
  http_.answerNext({200, R"({"token":"tok"})"});
  scheduler_.runUntilIdle();
  ASSERT_EQ(gets().size(), 1u);
  EXPECT_EQ(gets()[0].headers.back().second, "Bearer tok");
}

TEST_F(CloudSyncTest, AnswersAfterTheSyncIsGoneAreDropped) {
  launchInSync();
  addApp("com.example.a");
  scheduler_.advanceBy(seconds(2));
  mac_.sync.reset();
  http_.answerNext({200, R"({"version":6})"});
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.baseVersion(), 5);
}

MonitoredApp app(const char* id, const char* bundleID) {
  return MonitoredApp{*Uuid::parse(id), bundleID,     bundleID,
                      std::nullopt,     std::nullopt, IconVisibility::always};
}

// The merge on its own: which side each part comes from.
TEST(SyncMergeTest, EachPartComesFromTheSideThatChangedItOrFromTheNewerChange) {
  const char* kOne = "11111111-1111-4111-8111-111111111111";
  const char* kTwo = "22222222-2222-4222-8222-222222222222";
  const char* kThree = "33333333-3333-4333-8333-333333333333";
  SyncPayload base;
  base.monitoredApps = {app(kOne, "one"), app(kTwo, "two"), app(kThree, "three")};
  SyncPayload local = base;
  SyncPayload remote = base;
  const std::string one = SyncPayload::appKey(*Uuid::parse(kOne));
  const std::string two = SyncPayload::appKey(*Uuid::parse(kTwo));
  const std::string three = SyncPayload::appKey(*Uuid::parse(kThree));
  // Both changed app one: the later change (here) wins. Only the service changed the style;
  // only this Mac removed app three; both changed the language, the service's change later.
  local.monitoredApps[0].color = BadgeColor::green;
  local.changedAt[one] = 200;
  remote.monitoredApps[0].color = BadgeColor::purple;
  remote.changedAt[one] = 100;
  remote.defaultStyle = BadgeStyle::dot;
  remote.changedAt["defaultStyle"] = 50;
  local.monitoredApps.pop_back();
  local.changedAt[three] = 10;
  local.languageCode = "de";
  local.changedAt["languageCode"] = 300;
  remote.languageCode = "ja";
  remote.changedAt["languageCode"] = 400;
  const auto merged = mergeSyncPayloads(base, local, remote);
  ASSERT_EQ(merged.monitoredApps.size(), 2u);
  EXPECT_EQ(merged.monitoredApps[0].color, BadgeColor::green);
  EXPECT_EQ(merged.monitoredApps[1].bundleID, "two");
  EXPECT_EQ(merged.defaultStyle, BadgeStyle::dot);
  EXPECT_EQ(merged.languageCode, "ja");
  EXPECT_EQ(merged.changedAt.at(one), 200);
  EXPECT_EQ(merged.changedAt.at("languageCode"), 400);

  // Equal or unknown times: the service's copy. An app edited there but removed here without
  // a time stays, with the service's edit.
  SyncPayload local2 = base;
  local2.monitoredApps.erase(local2.monitoredApps.begin() + 1);
  SyncPayload remote2 = base;
  remote2.monitoredApps[1].visibility = IconVisibility::hide;
  remote2.changedAt[two] = 5;
  const auto kept = mergeSyncPayloads(base, local2, remote2);
  ASSERT_EQ(kept.monitoredApps.size(), 3u);
  EXPECT_EQ(kept.monitoredApps[1].visibility, IconVisibility::hide);

  // No common copy: nothing counts as removed; apps of both sides are kept.
  const auto first = mergeSyncPayloads(std::nullopt, SyncPayload{{}, {app(kOne, "one")}, {}, {}},
                                       SyncPayload{{}, {app(kTwo, "two")}, {}, {}});
  ASSERT_EQ(first.monitoredApps.size(), 2u);
  EXPECT_EQ(first.monitoredApps[0].bundleID, "two");
  EXPECT_EQ(first.monitoredApps[1].bundleID, "one");
}

// Each Mac added the same app, each entry with its own id: one badge, the service's entry.
// One id is one entry, even in a list that names it twice.
TEST(SyncMergeTest, TheSameAppAddedOnBothMacsIsKeptOnce) {
  const char* kHere = "11111111-1111-4111-8111-111111111111";
  const char* kThere = "22222222-2222-4222-8222-222222222222";
  const char* kOther = "33333333-3333-4333-8333-333333333333";
  const std::string here = SyncPayload::appKey(*Uuid::parse(kHere));
  SyncPayload local{{}, {app(kHere, "com.example.mail")}, {}, {{here, 900}}};
  local.monitoredApps[0].color = BadgeColor::green;
  const SyncPayload remote{
      {}, {app(kOther, "com.example.other"), app(kThere, "com.example.mail")}, {}, {}};
  for (const auto& base :
       {std::optional<SyncPayload>(), std::optional<SyncPayload>(SyncPayload{})}) {
    SCOPED_TRACE(base ? "after a base without apps" : "first sign-in");
    const auto merged = mergeSyncPayloads(base, local, remote);
    EXPECT_EQ(merged.monitoredApps, remote.monitoredApps);
    EXPECT_FALSE(merged.changedAt.contains(here));
  }
  // A broken list naming one id twice comes out with the id once, the first entry's.
  SyncPayload twice = remote;
  twice.monitoredApps.push_back(app(kThere, "com.example.impostor"));
  EXPECT_EQ(mergeSyncPayloads(std::nullopt, SyncPayload{}, twice).monitoredApps,
            remote.monitoredApps);
  EXPECT_EQ(mergeSyncPayloads(twice, twice, twice).monitoredApps, remote.monitoredApps);
  // Another app added here is still added.
  local.monitoredApps.push_back(app(kOther, "com.example.third"));
  local.monitoredApps.back().id = *Uuid::parse("44444444-4444-4444-8444-444444444444");
  const auto merged = mergeSyncPayloads(SyncPayload{}, local, remote);
  ASSERT_EQ(merged.monitoredApps.size(), 3u);
  EXPECT_EQ(merged.monitoredApps[2].bundleID, "com.example.third");
}

// A copy written by an older program: the statistics switch, no change times. It decodes, its
// switch is dropped, and in a merge a change here with a time beats its change without one;
// with no time on either side the service's copy wins.
TEST(SyncMergeTest, CopiesOfOlderProgramsDecodeAndMerge) {
  const char* kOne = "11111111-1111-4111-8111-111111111111";
  auto older = SyncPayload::decode(
      R"({"defaultStyle":"dot","improveDataSharing":true,"languageCode":"de","monitoredApps":[)"
      R"({"bundleID":"one","id":"11111111-1111-4111-8111-111111111111","name":"one",)"
      R"("visibility":"hide"}]})");
  ASSERT_TRUE(older.ok());
  const SyncPayload& remote = older.value();
  EXPECT_TRUE(remote.changedAt.empty());
  EXPECT_EQ(remote.blob().find("improveDataSharing"), std::string::npos);

  SyncPayload base;
  base.monitoredApps = {app(kOne, "one")};
  SyncPayload local = base;
  local.defaultStyle = BadgeStyle::text;
  local.monitoredApps[0].visibility = IconVisibility::dim;
  const auto untimed = mergeSyncPayloads(base, local, remote);
  EXPECT_EQ(untimed.defaultStyle, BadgeStyle::dot);
  EXPECT_EQ(untimed.monitoredApps[0].visibility, IconVisibility::hide);
  EXPECT_EQ(untimed.languageCode, "de");  // changed there only

  local.changedAt["defaultStyle"] = 10;
  local.changedAt[SyncPayload::appKey(*Uuid::parse(kOne))] = 10;
  const auto timed = mergeSyncPayloads(base, local, remote);
  EXPECT_EQ(timed.defaultStyle, BadgeStyle::text);
  ASSERT_EQ(timed.monitoredApps.size(), 1u);
  EXPECT_EQ(timed.monitoredApps[0].visibility, IconVisibility::dim);
  EXPECT_EQ(timed.changedAt.at("defaultStyle"), 10);
}

}  // namespace
}  // namespace lumarin
