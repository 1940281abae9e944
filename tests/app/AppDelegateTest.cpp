#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "app/StatusItemController.h"
#include "badges/AppStatusItemsController.h"
#include "cloud/CloudAccount.h"
#include "cloud/CloudConfig.h"
#include "cloud/CloudSync.h"
#include "diagnostics/CrashConfig.h"
#include "diagnostics/ImproveReporter.h"
#include "platform/sim/SimHttpClient.h"
#include "platform/sim/SimSecretStore.h"
#include "support/DesktopFixture.h"

namespace lumarin {
namespace {

using namespace std::chrono_literals;

class AppDelegateTest : public test::DesktopFixture {
 protected:
  void SetUp() override {
    load(R"({"apps": []})");
    // Past the first run; the onboarding decision has a test of its own.
    settings_.setHasCompletedOnboarding(true);
  }

  std::shared_ptr<AppDelegate> makeDelegate() {
    return std::make_shared<AppDelegate>(
        platform_, log_, AppServices{settings_, l10n_, monitor_, icons_, &scanner_, revision_});
  }

  sim::World& world_ = mac_.world;
  SimAppShell& shell_ = mac_.appShell;
};

TEST_F(AppDelegateTest, MainMenuHoldsQuitAndTheEditCommands) {
  auto delegate = makeDelegate();
  delegate->applicationDidFinishLaunching();
  const Menu& menu = shell_.mainMenu();
  ASSERT_EQ(menu.items.size(), 2u);
  ASSERT_TRUE(menu.items[0].submenu);
  const auto& quit = menu.items[0].submenu->items.at(0);
  EXPECT_EQ(quit.title, "Quit Lumarin");
  EXPECT_EQ(quit.keyEquivalent, "q");
  EXPECT_EQ(quit.modifiers, kModifierCommand);
  const Menu& edit = *menu.items[1].submenu;
  EXPECT_EQ(edit.title, "Edit");
  std::vector<std::string> shape;
  for (const auto& item : edit.items) {
    shape.push_back(item.isSeparator ? "-" : item.title + ":" + item.keyEquivalent);
  }
  EXPECT_EQ(shape, (std::vector<std::string>{"Undo:z", "Redo:Z", "-", "Cut:x", "Copy:c", "Paste:v",
                                             "Select All:a"}));
  EXPECT_FALSE(delegate->applicationShouldTerminateAfterLastWindowClosed());

  // The quit entry follows the interface language.
  settings_.setLanguageCode("de");
  makeDelegate()->applicationDidFinishLaunching();
  EXPECT_EQ(shell_.mainMenu().items[0].submenu->items.at(0).title, "Lumarin beenden");
}

TEST_F(AppDelegateTest, HousekeepingTicksEveryThreeSecondsWhileTheDelegateLives) {
  auto delegate = makeDelegate();
  delegate->applicationDidFinishLaunching();
  scheduler_.advanceBy(2999ms);
  EXPECT_EQ(delegate->housekeepingTicks(), 0u);
  scheduler_.advanceBy(1ms);
  EXPECT_EQ(delegate->housekeepingTicks(), 1u);
  scheduler_.advanceBy(30s);
  EXPECT_EQ(delegate->housekeepingTicks(), 11u);
  delegate.reset();
  scheduler_.advanceBy(30s);  // the timer holds the delegate weakly: it is gone with it
  monitor_.reset();           // and so is the Dock monitor's tick
  scheduler_.advanceBy(2s);
  EXPECT_EQ(scheduler_.pendingTaskCount(), 0u);
}

TEST_F(AppDelegateTest, LaunchStartsTheDockMonitorWatchingTheMonitoredApps) {
  sim::InstalledBundle mail;
  mail.bundleID = "com.apple.mail";
  mail.name = "Mail";
  mail.path = "/System/Applications/Mail.app";
  world_.installBundle(mail);
  sim::DockTile tile;
  tile.bundleID = "com.apple.mail";
  tile.badge = "3";
  world_.addTile(tile);
  settings_.add("com.apple.mail", "Mail");
  auto delegate = makeDelegate();
  delegate->applicationDidFinishLaunching();
  scheduler_.runUntilIdle();
  ASSERT_EQ(monitor_->items()->count("com.apple.mail"), 1u);
  world_.setBadge("com.apple.mail", "4");
  scheduler_.advanceBy(1s);
  EXPECT_EQ(monitor_->items()->at("com.apple.mail").badge->count, 4);
  // First-run seeding reads the Dock through the monitor.
  settings_.remove(settings_.monitoredApps()->at(0).id);
  settings_.seedDefaultAppsIfNeeded();
  EXPECT_EQ(settings_.monitoredApps()->size(), 1u);
}

TEST_F(AppDelegateTest, LaunchCreatesTheOwnItemThenTheAppItemsAndHousekeepingRefreshesThem) {
  settings_.add("com.apple.mail", "Mail");
  process_.env["LUMARIN_DEBUG"] = "";
  auto delegate = makeDelegate();
  delegate->applicationDidFinishLaunching();
  const auto items = mac_.statusBar.items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->autosaveName(), "Lumarin.ControlItem.Main");
  EXPECT_EQ(items[1]->autosaveName(), "lumarin.com.apple.mail");
  EXPECT_EQ(*revision_.value, 1);
  scheduler_.advanceBy(3s);
  // The tick refreshes the own item (which dumps its frame) and then each app item's frame.
  const auto lines = systemLog_.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2].rfind("Lumarin[debug] item=main visible=1 frame={{", 0), 0u);
  EXPECT_EQ(lines.back().rfind("Lumarin[debug] item=com.apple.mail visible=1", 0), 0u);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) {
                            return l.find("item=com.apple.mail") != std::string::npos;
                          }),
            1);
  // The item menu's settings entry opens the apps tab; until the window exists the request
  // is on record.
  ASSERT_TRUE(mac_.statusBar.click("com.apple.mail", true, 1, 0));
  ASSERT_TRUE(mac_.statusBar.choose({"Settings…"}));
  EXPECT_EQ(delegate->requests(), (std::vector<std::string>{"settings:apps"}));
}

TEST_F(AppDelegateTest, LaunchRefreshesAStoredAccountAndStartsTheSync) {
  SimHttpClient http;
  SimSecretStore secrets;
  const CloudConfig config = CloudConfig::fromEnvironment(process_);
  CloudAccount account(
      CloudAccount::Dependencies{http, secrets, mac_.workspace, scheduler_, log_, config});
  CloudSync sync(
      CloudSync::Dependencies{settings_, account, defaults_, http, scheduler_, log_, config});
  auto launch = [&] {
    auto delegate =
        std::make_shared<AppDelegate>(platform_, log_,
                                      AppServices{settings_, l10n_, monitor_, icons_, &scanner_,
                                                  revision_, nullptr, nullptr, &account, &sync});
    delegate->applicationDidFinishLaunching();
    scheduler_.runUntilIdle();
    return delegate;
  };
  // Signed out: no request leaves.
  auto first = launch();
  EXPECT_TRUE(http.requests().empty());
  // With a token stored the account is refreshed at launch (and the sync pulls).
  secrets.set(CloudAccount::kTokenItem, std::string("secret-token"));
  CloudAccount stored(
      CloudAccount::Dependencies{http, secrets, mac_.workspace, scheduler_, log_, config});
  auto delegate =
      std::make_shared<AppDelegate>(platform_, log_,
                                    AppServices{settings_, l10n_, monitor_, icons_, &scanner_,
                                                revision_, nullptr, nullptr, &stored, nullptr});
  delegate->applicationDidFinishLaunching();
  scheduler_.runUntilIdle();
  EXPECT_EQ(http.requests("GET", "api/me").size(), 1u);
  // The token never reaches the debug log.
  EXPECT_EQ(log_.tail().find("secret-token"), std::string::npos);
}

// Statistics are anonymous: with an account signed in they still go without its token, so the
// service cannot file them (and the installation's identifier in them) under the account.
TEST_F(AppDelegateTest, StatisticsOfASignedInAccountGoWithoutItsToken) {
  SimHttpClient http;
  SimSecretStore secrets;
  secrets.set(CloudAccount::kTokenItem, std::string("secret-token"));
  const CloudConfig config = CloudConfig::fromEnvironment(process_);
  CloudAccount account(
      CloudAccount::Dependencies{http, secrets, mac_.workspace, scheduler_, log_, config});
  ASSERT_TRUE(account.token());
  auto improve = std::make_shared<ImproveReporter>(ImproveReporter::Dependencies{
      scheduler_, defaults_, http, bundle_, process_, dir_ / "support", config.baseURL});
  AppServices services{settings_, l10n_,   monitor_, icons_,   &scanner_,
                       revision_, nullptr, nullptr,  &account, nullptr};
  services.improve = improve.get();
  auto delegate = std::make_shared<AppDelegate>(platform_, log_, services);
  delegate->applicationDidFinishLaunching();
  scheduler_.runUntilIdle();
  improve->record("sample", {{"n", std::int64_t{1}}});
  improve->flushNow(false);
  scheduler_.runUntilIdle();
  const auto uploads = http.requests("POST", "api/improve");
  ASSERT_EQ(uploads.size(), 1u);
  for (const auto& [name, value] : uploads[0].headers) {
    EXPECT_NE(name, "Authorization");
    EXPECT_NE(name, "Cookie");
    EXPECT_EQ(value.find("secret-token"), std::string::npos) << name;
  }
  EXPECT_EQ(uploads[0].body.find("secret-token"), std::string::npos);
  // The account's own requests carry the token, and never the installation's identifier.
  const auto me = http.requests("GET", "api/me");
  ASSERT_FALSE(me.empty());
  const std::string installID =
      defaults_.string(std::string(CrashConfig::kInstallIDKey)).value_or("<none>");
  ASSERT_NE(uploads[0].body.find(installID), std::string::npos);
  for (const auto& request : http.requests()) {
    if (request.url.find("api/improve") != std::string::npos) {
      continue;
    }
    EXPECT_EQ(request.body.find(installID), std::string::npos) << request.url;
    EXPECT_EQ(request.url.find(installID), std::string::npos) << request.url;
  }
}

TEST_F(AppDelegateTest, GetURLEventsCompleteAPendingSignInAndOpenTheAccountTab) {
  SimHttpClient http;
  SimSecretStore secrets;
  const CloudConfig config = CloudConfig::fromEnvironment(process_);
  CloudAccount account(
      CloudAccount::Dependencies{http, secrets, mac_.workspace, scheduler_, log_, config});
  auto delegate =
      std::make_shared<AppDelegate>(platform_, log_,
                                    AppServices{settings_, l10n_, monitor_, icons_, &scanner_,
                                                revision_, nullptr, nullptr, &account, nullptr});
  delegate->applicationDidFinishLaunching();
  scheduler_.runUntilIdle();
  // Nothing, something that is no URL, another link: ignored.
  for (const std::optional<std::string>& object :
       {std::optional<std::string>(), std::optional<std::string>("not a url"),
        std::optional<std::string>("lumarin://auth code=1"),
        std::optional<std::string>("lumarin://auth?code=abc&state=nothing-pending")}) {
    EXPECT_TRUE(mac_.appShell.deliverGetURL(object));
  }
  EXPECT_TRUE(delegate->requests().empty());
  // The callback of the sign-in in progress.
  account.signIn();
  const std::string callback = "lumarin://auth?code=the-code&state=" + *account.pendingState();
  EXPECT_TRUE(mac_.appShell.deliverGetURL(callback));
  EXPECT_EQ(delegate->requests(), (std::vector<std::string>{"settings:account"}));
  EXPECT_EQ(http.requests("POST", "api/app/token").size(), 1u);
  // The code never reaches the debug log; the event does.
  EXPECT_EQ(log_.tail().find("the-code"), std::string::npos);
  EXPECT_NE(log_.tail().find("url: get-URL event lumarin://auth\n"), std::string::npos);
  EXPECT_FALSE(AppDelegate::isURL("1http://x"));
  EXPECT_TRUE(AppDelegate::isURL("x-apple.systempreferences:com.apple.preference"));
}

TEST_F(AppDelegateTest, TerminationWritesItsLine) {
  process_.pid = 777;
  makeDelegate()->applicationWillTerminate();
  EXPECT_NE(log_.tail().find(" startup: applicationWillTerminate pid=777\n"), std::string::npos);
}

TEST_F(AppDelegateTest, LaunchShowsOnboardingOnlyWhenTheFirstRunOrThePermissionAsks) {
  std::vector<std::string> shown;
  auto launch = [&] {
    AppServices services{settings_, l10n_, monitor_, icons_, &scanner_, revision_};
    services.showOnboarding = [&shown](bool atPermissions, const std::function<void()>& done) {
      shown.push_back(atPermissions ? "permissions" : "start");
      if (done) {
        done();  // the user finishes it at once
      }
    };
    auto delegate = std::make_shared<AppDelegate>(platform_, log_, services);
    delegate->applicationDidFinishLaunching();
    scheduler_.runUntilIdle();
    return delegate;
  };
  // The first run: from the start; finishing it seeds the apps and opens the general tab.
  settings_.setHasCompletedOnboarding(false);
  auto first = launch();
  EXPECT_EQ(shown, std::vector<std::string>{"start"});
  EXPECT_EQ(first->requests(), std::vector<std::string>{"settings:general"});
  // Later runs: nothing while trusted, the permission page while not.
  settings_.setHasCompletedOnboarding(true);
  shown.clear();
  EXPECT_TRUE(launch()->requests().empty());
  EXPECT_TRUE(shown.empty());
  world_.setAccessibilityTrusted(false);
  launch();
  EXPECT_EQ(shown, std::vector<std::string>{"permissions"});
  // The environment forces the whole guide.
  process_.env["KESTOVA_ONBOARDING"] = "1";
  shown.clear();
  launch();
  EXPECT_EQ(shown, std::vector<std::string>{"start"});
}

}  // namespace
}  // namespace lumarin
