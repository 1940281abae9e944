#include <gtest/gtest.h>

#include "diagnostics/DebugLog.h"
#include "l10n/FrameworkLanguage.h"
#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "platform/host/JsonFileUserDefaults.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimLoginItems.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimSystemLog.h"
#include "platform/sim/SimUserDefaults.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

const std::vector<std::string> kAllKeys = {
    "launchAtLogin", "crashReportingEnabled",         "improveDataSharing", "defaultStyle",
    "monitoredApps", "mirrorHUDFollowsControlCenter", "onboardingCompleted"};

class AppSettingsTest : public ::testing::Test {
 protected:
  std::unique_ptr<AppSettings> open(UserDefaults& defaults) {
    return std::make_unique<AppSettings>(AppSettings::Dependencies{
        defaults, loginItems_, systemLog_, debugLog_, scheduler_.clock(), &l10n_});
  }
  std::unique_ptr<AppSettings> open() { return open(defaults_); }

  test::TempDir dir_;
  ManualScheduler scheduler_;
  SimUserDefaults defaults_;
  FrameworkLanguage framework_;
  L10n l10n_{defaults_, framework_, nullptr};
  SimLoginItems loginItems_;
  SimSystemLog systemLog_;
  DebugLog debugLog_{dir_ / "log", scheduler_.clock()};
};

TEST_F(AppSettingsTest, FreshDomainGivesTheDefaultsAndWritesNothing) {
  const std::size_t writesBefore = defaults_.writeCount();
  auto s = open();
  EXPECT_FALSE(*s->launchAtLogin());
  EXPECT_TRUE(*s->crashReportingEnabled());
  EXPECT_TRUE(*s->improveDataSharing());
  EXPECT_FALSE(s->languageCode()->has_value());
  EXPECT_EQ(*s->defaultStyle(), BadgeStyle::circle);
  EXPECT_TRUE(s->monitoredApps()->empty());
  EXPECT_TRUE(*s->mirrorHUDFollowsControlCenter());
  EXPECT_FALSE(*s->hasCompletedOnboarding());
  EXPECT_EQ(defaults_.writeCount(), writesBefore);
  EXPECT_EQ(loginItems_.calls, 0);  // loading never touches the login item

  s->setMirrorHUDFollowsControlCenter(false);  // the first assignment writes every key
  for (const auto& key : kAllKeys) {
    EXPECT_TRUE(defaults_.contains(key)) << key;
  }
  EXPECT_FALSE(defaults_.contains("languageCode"));
}

TEST_F(AppSettingsTest, WrongTypesAndWrongCaseFallBack) {
  defaults_.set("crashReportingEnabled", std::string("no"));  // not a boolean: default true
  defaults_.set("improveDataSharing", false);
  defaults_.set("defaultStyle", std::string("Dot"));
  defaults_.set("mirrorHUDFollowsControlCenter", std::int64_t{0});
  defaults_.set("launchAtLogin", std::string("YES"));  // the platform's boolean reading
  defaults_.set("monitoredApps", std::string("[]"));   // a string, not data
  auto s = open();
  EXPECT_TRUE(*s->crashReportingEnabled());
  EXPECT_FALSE(*s->improveDataSharing());
  EXPECT_EQ(*s->defaultStyle(), BadgeStyle::circle);
  EXPECT_TRUE(*s->mirrorHUDFollowsControlCenter());
  EXPECT_TRUE(*s->launchAtLogin());
  EXPECT_TRUE(s->monitoredApps()->empty());
  defaults_.set("defaultStyle", std::string("dot"));
  EXPECT_EQ(*open()->defaultStyle(), BadgeStyle::dot);
}

TEST_F(AppSettingsTest, LegacyOnboardingKeyIsMigratedOnce) {
  defaults_.set("hasCompletedOnboarding", true);
  EXPECT_TRUE(*open()->hasCompletedOnboarding());
  EXPECT_EQ(defaults_.boolean("onboardingCompleted"), true);
  EXPECT_TRUE(defaults_.contains("hasCompletedOnboarding"));  // left in place
  defaults_.set("onboardingCompleted", false);
  EXPECT_FALSE(*open()->hasCompletedOnboarding());  // the new key wins once present
}

TEST_F(AppSettingsTest, AddRemoveAndUpdateFollowTheirRules) {
  auto s = open();
  std::vector<std::string> order;
  auto will = s->observeWillChange([&] { order.push_back("will"); });
  auto did = s->monitoredApps().observe([&](const auto&) { order.push_back("did"); });
  const MonitoredApp mail = s->add("com.apple.mail", "Mail");
  EXPECT_EQ(mail.visibility, IconVisibility::always);
  EXPECT_FALSE(mail.style);
  EXPECT_EQ(mail.id.version(), 4);
  EXPECT_EQ(s->add("com.apple.mail", "Other").id, mail.id);  // add twice: the first entry
  EXPECT_EQ(s->add("com.apple.Mail", "Case").bundleID, "com.apple.Mail");  // case-sensitive
  EXPECT_EQ(s->monitoredApps()->size(), 2u);
  EXPECT_EQ(order, (std::vector<std::string>{"will", "did", "will", "did"}));

  const std::size_t writes = defaults_.writeCount();
  s->remove(Uuid::random());  // unknown: still writes all keys
  EXPECT_EQ(defaults_.writeCount(), writes + 1);
  MonitoredApp stranger = mail;
  stranger.id = Uuid::random();
  s->update(stranger);  // unknown: writes nothing
  EXPECT_EQ(defaults_.writeCount(), writes + 1);

  MonitoredApp changed = mail;
  changed.color = BadgeColor::purple;
  s->update(changed);
  EXPECT_EQ(s->monitoredApps()->at(0), changed);  // replaced in place
  s->remove(mail.id);
  ASSERT_EQ(s->monitoredApps()->size(), 1u);
  EXPECT_EQ(open()->monitoredApps().get(), s->monitoredApps().get());  // persisted
}

TEST_F(AppSettingsTest, SideEffectsOfAssignments) {
  auto s = open();
  int cleared = 0;
  s->setStatisticsQueueClearer([&] { ++cleared; });
  s->setImproveDataSharing(true);
  s->setImproveDataSharing(false);
  EXPECT_EQ(cleared, 1);

  s->setLanguageCode("ja");
  EXPECT_EQ(*l10n_.language(), AppLanguage::ja);
  EXPECT_EQ(defaults_.string("languageCode"), "ja");
  s->setLanguageCode(std::nullopt);
  EXPECT_FALSE(defaults_.contains("languageCode"));
  EXPECT_EQ(*l10n_.language(), AppLanguage::en);

  s->setLaunchAtLogin(true);
  EXPECT_TRUE(loginItems_.isRegistered());
  loginItems_.refuse = true;
  s->setLaunchAtLogin(false);
  EXPECT_TRUE(loginItems_.isRegistered());  // the refused change left it registered
  EXPECT_FALSE(*s->launchAtLogin());        // the user's choice stays
  ASSERT_EQ(systemLog_.lines().size(), 1u);
  EXPECT_EQ(systemLog_.lines()[0],
            "Lumarin: launch-at-login update failed: Operation not permitted");
}

TEST_F(AppSettingsTest, SeedingAddsMailAndMessagesFromTheDockOnce) {
  auto s = open();
  std::vector<DockItem> dock;
  s->setDockSnapshotProvider([&] { return dock; });
  s->seedDefaultAppsIfNeeded();  // the Dock cannot be read: try again later
  EXPECT_FALSE(defaults_.contains("didSeedApps"));
  dock = {DockItem{"com.apple.finder", "Finder", true, std::nullopt, {}},
          DockItem{"com.apple.mail", "Mail", true, std::nullopt, {}}};
  s->seedDefaultAppsIfNeeded();
  ASSERT_EQ(s->monitoredApps()->size(), 1u);
  EXPECT_EQ(s->monitoredApps()->at(0).name, "Mail");
  EXPECT_EQ(defaults_.boolean("didSeedApps"), true);
  s->remove(s->monitoredApps()->at(0).id);
  dock.push_back(DockItem{"com.apple.MobileSMS", "Messages", true, std::nullopt, {}});
  s->seedDefaultAppsIfNeeded();  // seeded once: nothing comes back
  EXPECT_TRUE(s->monitoredApps()->empty());
}

TEST_F(AppSettingsTest, UnreadableAppListIsKeptAsideBeforeItIsOverwritten) {
  const std::string broken = R"([{"id": "x", "bundleID": "com.apple.mail"}])";
  defaults_.set("monitoredApps", Bytes(broken.begin(), broken.end()));
  auto s = open();
  EXPECT_TRUE(s->monitoredApps()->empty());
  s->setDefaultStyle(BadgeStyle::text);
  const std::string backupKey = "monitoredAppsUnreadable-2026-03-01T12:00:00Z";
  ASSERT_TRUE(defaults_.data(backupKey));
  EXPECT_EQ(*defaults_.data(backupKey), Bytes(broken.begin(), broken.end()));
  EXPECT_NE(debugLog_.tail().find("settings: stored monitoredApps could not be read"),
            std::string::npos);
  EXPECT_EQ(*defaults_.data("monitoredApps"), (Bytes{'[', ']'}));
}

TEST_F(AppSettingsTest, SettingsFileRoundTripsAndSurvivesTruncationAtAnyByte) {
  SimProcessInfo process;
  const auto file = dir_ / "defaults.json";
  {
    JsonFileUserDefaults defaults(file, process, systemLog_);
    auto s = open(defaults);
    s->add("com.apple.mail", "Mail");
    auto apps = s->monitoredApps().get();
    apps[0].style = BadgeStyle::dot;
    s->setMonitoredApps(apps);
    s->setLanguageCode("pt-BR");
    s->setHasCompletedOnboarding(true);
  }
  const std::string written = test::readFile(file);
  JsonFileUserDefaults again(file, process, systemLog_);
  auto reloaded = open(again);
  EXPECT_EQ(reloaded->monitoredApps()->at(0).style, BadgeStyle::dot);
  EXPECT_EQ(*reloaded->languageCode(), "pt-BR");
  EXPECT_TRUE(*reloaded->hasCompletedOnboarding());
  reloaded->persist();
  EXPECT_EQ(test::readFile(file), written);  // read back identically

  for (std::size_t cut = 0; cut < written.size(); ++cut) {
    test::TempDir scratch;
    test::writeFile(scratch / "defaults.json", written.substr(0, cut));
    JsonFileUserDefaults truncated(scratch / "defaults.json", process, systemLog_);
    auto s = open(truncated);  // must not crash; falls back where it cannot read
    EXPECT_TRUE(s->monitoredApps()->size() <= 1u);
  }
}

}  // namespace
}  // namespace lumarin
