// The sync on virtual time with a scripted service: the debounce, first sync, pulls, conflicts,
// failures of every kind and late answers, and the payload's own form.
#include <gtest/gtest.h>

#include "base/Json.h"
#include "cloud/CloudMac.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimHttpClient.h"

namespace lumarin {
namespace {

constexpr const char* kBase = "https://sync.test/";
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
  test::CloudMac mac_{scheduler_, http_, kBase};
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
  EXPECT_EQ(sent[0].url, std::string(kBase) + "api/sync/lumarin");
  EXPECT_EQ(sent[0].timeout, seconds(60));
  EXPECT_EQ(sent[0].headers,
            (std::vector<std::pair<std::string, std::string>>{{"Content-Type", "application/json"},
                                                              {"Authorization", "Bearer tok"}}));
  const auto put = body(sent[0]);
  EXPECT_EQ(put["blob"], mac_.blob());
  EXPECT_EQ(put["baseVersion"], 5);
  EXPECT_EQ(put["deviceId"], "DEV");
  EXPECT_EQ(mac_.sync->status().get(), SyncStatus::syncing);

  http_.answerNext({200, R"({"version":6})"});
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.baseVersion(), 6);
  EXPECT_EQ(mac_.lastBlob(), mac_.blob());
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
    EXPECT_EQ(mac_.lastBlob(), mac_.blob());
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
  EXPECT_EQ(body(puts()[0])["blob"], mac_.blob());
}

TEST_F(CloudSyncTest, ThePayloadIsSortedCompactJsonOfTheFourSettings) {
  mac_.settings.setMonitoredApps({MonitoredApp{kAppId, "com.apple.mail", "Mail", BadgeStyle::dot,
                                               std::nullopt, IconVisibility::dim}});
  mac_.settings.setLanguageCode("ja");
  EXPECT_EQ(
      mac_.blob(),
      R"({"defaultStyle":"circle","improveDataSharing":true,"languageCode":"ja",)"
      R"("monitoredApps":[{"bundleID":"com.apple.mail","id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F",)"
      R"("name":"Mail","style":"dot","visibility":"dim"}]})");
  auto decoded = SyncPayload::decode(mac_.blob());
  ASSERT_TRUE(decoded.ok());
  EXPECT_EQ(decoded.value(), SyncPayload::from(mac_.settings));

  for (const char* bad :
       {"", "[]", R"({"monitoredApps":[]})", R"({"defaultStyle":"Dot","monitoredApps":[]})",
        R"({"defaultStyle":"dot"})", R"({"defaultStyle":"dot","monitoredApps":[{"id":"x"}]})",
        R"({"defaultStyle":"dot","monitoredApps":[],"languageCode":5})",
        R"({"defaultStyle":"dot","monitoredApps":[],"improveDataSharing":"yes"})"}) {
    EXPECT_FALSE(SyncPayload::decode(bad).ok()) << bad;
  }
  auto nulls = SyncPayload::decode(
      R"({"defaultStyle":"text","monitoredApps":[],"languageCode":null,"improveDataSharing":null,"x":1})");
  ASSERT_TRUE(nulls.ok());
  EXPECT_FALSE(nulls.value().languageCode);
  EXPECT_FALSE(nulls.value().improveDataSharing);
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
  EXPECT_FALSE(mac_.settings.improveDataSharing().get());
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

TEST_F(CloudSyncTest, AConflictTakesTheServicesCopyEvenWhenItsVersionIsNotNewer) {
  launchInSync();
  addApp("com.local.lost");
  scheduler_.advanceBy(seconds(2));
  ASSERT_EQ(puts().size(), 1u);
  http_.answerNext({409, R"({"error":"stale","version":5})"});
  scheduler_.runUntilIdle();
  ASSERT_EQ(gets().size(), 1u);
  const std::string remote = remoteBlob(BadgeStyle::dot, "com.remote.kept");
  http_.answerNext({200, getAnswer(5, remote)});  // forced: applied although base is 5 too
  scheduler_.runUntilIdle();
  ASSERT_EQ(mac_.settings.monitoredApps().get().size(), 1u);
  EXPECT_EQ(mac_.settings.monitoredApps().get()[0].bundleID, "com.remote.kept");
  EXPECT_EQ(mac_.lastBlob(), remote);
  EXPECT_EQ(mac_.sync->status().get(), SyncStatus::idle);
  scheduler_.advanceBy(seconds(10));
  EXPECT_EQ(puts().size(), 1u);
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
  EXPECT_EQ(mac_.lastBlob(), mac_.blob());
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
  EXPECT_EQ(body(puts()[1])["blob"], mac_.blob());
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
  EXPECT_EQ(body(puts()[0])["blob"], mac_.blob());
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

}  // namespace
}  // namespace lumarin
