// Two Macs of one user, each with its own defaults, keychain and settings, sync through the
// real lumarin-service on a loopback port. Both sign in through the real browser flow; then,
// in each of many seeded interleavings, they edit at the same time while the test decides when
// each request reaches the service and when each answer reaches its Mac. At the end both must
// hold the same settings as the service, and no edit the service acknowledged may be missing.
#include <gtest/gtest.h>
#include <httplib.h>

#include <condition_variable>
#include <map>
#include <random>
#include <set>

#include "base/Json.h"
#include "cloud/CloudMac.h"
#include "cloud/ServiceProcess.h"
#include "platform/host/CurlHttpClient.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimProcessInfo.h"

namespace lumarin {
namespace {

using json::Json;

constexpr int kInterleavings = 200;
constexpr int kStepsPerInterleaving = 40;

using test::roundTrip;

std::set<std::string> editedApps(const std::string& blob) {
  std::set<std::string> apps;
  auto payload = SyncPayload::decode(blob);
  if (payload.ok()) {
    for (const auto& app : payload.value().monitoredApps) {
      if (app.bundleID.starts_with("com.edit.")) {
        apps.insert(app.bundleID);
      }
    }
  }
  return apps;
}

// Stands between the Macs and the real client: requests wait until the test transmits them
// (one at a time, so the service sees them in the test's order), and answers wait until the
// test delivers them to their Mac.
class Network {
 public:
  struct Call {
    HttpRequest request;
    Queue* queue = nullptr;
    HttpClient::Completion completion;
    HttpResponse response;
  };

  class Port final : public HttpClient {
   public:
    explicit Port(Network& network) : network_(network) {}
    void send(HttpRequest request, Queue& replyQueue, Completion completion) override {
      network_.unsent_.push_back(Call{std::move(request), &replyQueue, std::move(completion), {}});
    }

   private:
    Network& network_;
  };

  Network(HttpClient& real, ManualScheduler& scheduler) : real_(real), scheduler_(scheduler) {}

  bool idle() const { return unsent_.empty() && held_.empty(); }
  std::size_t unsentCount() const { return unsent_.size(); }
  std::size_t heldCount() const { return held_.size(); }

  void transmit(std::size_t index) {
    Call call = std::move(unsent_[index]);
    unsent_.erase(unsent_.begin() + static_cast<std::ptrdiff_t>(index));
    call.response = roundTrip(real_, call.request);
    if (call.request.method == "PUT" && call.response.status >= 200 && call.response.status < 300) {
      const Json body = json::parse(call.request.body).value();
      const Json answer = json::parse(call.response.body).value();
      acknowledged[answer["version"].get<std::int64_t>()] = body["blob"].get<std::string>();
    }
    held_.push_back(std::move(call));
  }

  void deliver(std::size_t index) {
    Call call = std::move(held_[index]);
    held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(index));
    call.queue->post([completion = std::move(call.completion), response = call.response] {
      completion(response);
    });
    scheduler_.runUntilIdle();
  }

  // Blobs the service accepted, by the version it gave them.
  std::map<std::int64_t, std::string> acknowledged;

 private:
  HttpClient& real_;
  ManualScheduler& scheduler_;
  std::vector<Call> unsent_;
  std::vector<Call> held_;
};

struct Credentials {
  std::string token;
  std::string deviceId;
};

class TwoMacsSyncTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir();
    service_ = new test::ServiceProcess(dir_->path());
    client_ = new CurlHttpClient();
    if (!service_->running()) {
      return;
    }
    // The base URL arrives as it does for a developer's run: through the environment.
    SimProcessInfo process;
    process.env["LUMARIN_SERVICE_URL"] = service_->baseURL();
    baseURL_ = CloudConfig::fromEnvironment(process).baseURL;
    macA_ = new Credentials(signIn("create"));
    macB_ = new Credentials(signIn("signin"));
  }

  static void TearDownTestSuite() {
    delete macA_;
    delete macB_;
    delete client_;
    delete service_;  // stops the service
    delete dir_;
  }

  void SetUp() override {
    ASSERT_TRUE(service_->running()) << service_->startOutput();
    ASSERT_FALSE(macA_->token.empty());
    ASSERT_FALSE(macB_->token.empty());
  }

  // The whole sign-in of a fresh Mac: the account opens the connect page, the user submits the
  // form (as the browser would), the service redirects to the program's URL, the account
  // exchanges the code.
  static Credentials signIn(const std::string& action) {
    ManualScheduler scheduler;
    Network network(*client_, scheduler);
    Network::Port port(network);
    test::CloudMac mac(scheduler, port, baseURL_);
    mac.launch();
    mac.account->signIn();
    const std::string opened = mac.workspace.openedURLs().at(0);
    const std::string query = opened.substr(opened.find('?') + 1);
    httplib::Params form;
    httplib::detail::parse_query_text(query, form);
    form.emplace("email", "two.macs@example.com");
    form.emplace("password", "correct horse battery");
    form.emplace("action", action);
    httplib::Client browser("127.0.0.1", service_->port());
    auto page = browser.Post("/app/connect", form);
    if (!page || page->status != 303) {
      ADD_FAILURE() << "sign-in page: " << (page ? page->body : "no answer");
      return {};
    }
    EXPECT_TRUE(mac.account->handleCallback(page->get_header_value("Location")));
    while (!network.idle()) {
      if (network.unsentCount() > 0) {
        network.transmit(0);
      } else {
        network.deliver(0);
      }
    }
    EXPECT_TRUE(mac.account->state().get().signedIn);
    return Credentials{mac.account->token().value_or(""), mac.account->deviceId()};
  }

  static std::string emptySettingsBlob() { return SyncPayload{}.blob(); }

  // A third device puts empty settings on the service, so each interleaving starts from the
  // same document whatever the one before left.
  static void resetService() {
    auto get = roundTrip(*client_, HttpRequest{"GET",
                                               baseURL_ + "api/sync/lumarin",
                                               {{"Authorization", "Bearer " + macA_->token}},
                                               "",
                                               seconds(60)});
    const Json current = json::parse(get.body).value();
    const Json put = {{"blob", emptySettingsBlob()},
                      {"baseVersion", current.value("version", std::int64_t{0})},
                      {"deviceId", "reset"}};
    auto answer = roundTrip(*client_, HttpRequest{"PUT",
                                                  baseURL_ + "api/sync/lumarin",
                                                  {{"Content-Type", "application/json"},
                                                   {"Authorization", "Bearer " + macA_->token}},
                                                  json::dump(put),
                                                  seconds(60)});
    ASSERT_EQ(answer.status, 200) << answer.body;
  }

  static std::string serviceBlob() {
    auto get = roundTrip(*client_, HttpRequest{"GET",
                                               baseURL_ + "api/sync/lumarin",
                                               {{"Authorization", "Bearer " + macA_->token}},
                                               "",
                                               seconds(60)});
    return json::parse(get.body).value().value("blob", "");
  }

  static test::TempDir* dir_;
  static test::ServiceProcess* service_;
  static CurlHttpClient* client_;
  static std::string baseURL_;
  static Credentials* macA_;
  static Credentials* macB_;
};

test::TempDir* TwoMacsSyncTest::dir_ = nullptr;
test::ServiceProcess* TwoMacsSyncTest::service_ = nullptr;
CurlHttpClient* TwoMacsSyncTest::client_ = nullptr;
std::string TwoMacsSyncTest::baseURL_;
Credentials* TwoMacsSyncTest::macA_ = nullptr;
Credentials* TwoMacsSyncTest::macB_ = nullptr;

TEST_F(TwoMacsSyncTest, ConcurrentEditsConvergeAndKeepEveryAcknowledgedEdit) {
  int conflicts = 0;
  int pushes = 0;
  for (int seed = 1; seed <= kInterleavings; ++seed) {
    SCOPED_TRACE("interleaving seed " + std::to_string(seed));
    resetService();
    std::mt19937 random(static_cast<std::uint32_t>(seed));
    auto chance = [&](int percent) {
      return std::uniform_int_distribution<int>(0, 99)(random) < percent;
    };
    auto pick = [&](std::size_t count) {
      return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
    };

    ManualScheduler scheduler;
    Network network(*client_, scheduler);
    Network::Port portA(network);
    Network::Port portB(network);
    test::CloudMac a(scheduler, portA, baseURL_);
    test::CloudMac b(scheduler, portB, baseURL_);
    test::CloudMac* macs[] = {&a, &b};
    const Credentials* credentials[] = {macA_, macB_};
    for (int i = 0; i < 2; ++i) {
      macs[i]->secrets.set("cloudToken", credentials[i]->token);
      macs[i]->secrets.set("cloudDeviceId", credentials[i]->deviceId);
      if (chance(15)) {
        macs[i]->defaults.set(CloudSync::kEnabledKey, false);
      }
      macs[i]->launch();
    }

    int edits = 0;
    for (int step = 0; step < kStepsPerInterleaving; ++step) {
      const int roll = std::uniform_int_distribution<int>(0, 99)(random);
      test::CloudMac& mac = *macs[pick(2)];
      if (roll < 25) {
        const std::string id = "com.edit." + std::to_string(seed) + "." + std::to_string(edits++);
        mac.settings.add(id, id);
      } else if (roll < 32) {
        mac.settings.setDefaultStyle(kAllBadgeStyles[pick(kAllBadgeStyles.size())]);
      } else if (roll < 36) {
        const std::optional<std::string> languages[] = {std::nullopt, "de", "ja"};
        mac.settings.setLanguageCode(languages[pick(3)]);
      } else if (roll < 55) {
        scheduler.advanceBy(seconds(std::uniform_real_distribution<double>(0, 2.5)(random)));
      } else if (roll < 76) {
        if (network.unsentCount() > 0) {
          network.transmit(pick(network.unsentCount()));
        }
      } else if (roll < 97) {
        if (network.heldCount() > 0) {
          network.deliver(pick(network.heldCount()));
        }
      } else {
        mac.sync->setEnabled(!mac.sync->enabled().get());
      }
    }

    // Every switch on, then let everything in flight and every pending push finish; then each
    // Mac pulls as at its next launch, twice round, so each sees the other's last push.
    for (auto* mac : macs) {
      if (!mac->sync->enabled().get()) {
        mac->sync->setEnabled(true);
      }
    }
    auto settle = [&] {
      for (int guard = 0; guard < 10000; ++guard) {
        if (network.unsentCount() > 0) {
          network.transmit(pick(network.unsentCount()));
        } else if (network.heldCount() > 0) {
          network.deliver(pick(network.heldCount()));
        } else if (scheduler.nextDueTime()) {
          scheduler.advanceBy(seconds(3));
        } else {
          return;
        }
      }
      FAIL() << "the Macs never went quiet";
    };
    settle();
    for (int round = 0; round < 2; ++round) {
      for (auto* mac : macs) {
        mac->sync->pullNow(false);
        settle();
      }
    }

    const std::string onService = serviceBlob();
    ASSERT_EQ(a.blob(), b.blob());
    auto served = SyncPayload::decode(onService);
    ASSERT_TRUE(served.ok()) << onService;
    ASSERT_TRUE(served.value().sameSettings(SyncPayload::from(a.settings))) << onService;
    EXPECT_EQ(a.sync->status().get(), SyncStatus::idle);
    EXPECT_EQ(b.sync->status().get(), SyncStatus::idle);
    // Each acknowledged version keeps the edits of the one before it, and the end keeps them
    // all.
    const std::set<std::string> finalApps = editedApps(onService);
    std::optional<std::set<std::string>> previous;
    std::int64_t previousVersion = 0;
    for (const auto& [version, blob] : network.acknowledged) {
      const auto apps = editedApps(blob);
      if (previous && version == previousVersion + 1) {
        for (const auto& app : *previous) {
          ASSERT_TRUE(apps.contains(app)) << app << " acknowledged in version " << previousVersion
                                          << " is missing from version " << version;
        }
      }
      for (const auto& app : apps) {
        ASSERT_TRUE(finalApps.contains(app)) << app << " acknowledged in version " << version;
      }
      previous = apps;
      previousVersion = version;
    }
    pushes += static_cast<int>(network.acknowledged.size());
    conflicts += static_cast<int>(a.logLinesContaining("sync: push conflict") +
                                  b.logLinesContaining("sync: push conflict"));
  }
  // The interleavings must really have raced: pushes were accepted and some lost to the other
  // Mac.
  EXPECT_GT(pushes, kInterleavings);
  EXPECT_GT(conflicts, 10);
  std::cout << "[ figures  ] " << kInterleavings << " interleavings: " << pushes
            << " pushes accepted, " << conflicts << " conflicts settled\n";
}

}  // namespace
}  // namespace lumarin

namespace lumarin {
namespace {

// Both Macs start from the same synced document with two apps; each edits a different one
// while the other's push is under way. The later push meets a 409, and the merge keeps both
// edits on both Macs and on the service.
TEST_F(TwoMacsSyncTest, EditsOfDifferentAppsOnTheSameBaseAreBothKept) {
  resetService();
  ManualScheduler scheduler;
  Network network(*client_, scheduler);
  Network::Port portA(network);
  Network::Port portB(network);
  test::CloudMac a(scheduler, portA, baseURL_);
  test::CloudMac b(scheduler, portB, baseURL_);
  auto settle = [&] {
    for (int guard = 0; guard < 1000 && !network.idle(); ++guard) {
      if (network.unsentCount() > 0) {
        network.transmit(0);
      } else {
        network.deliver(0);
      }
    }
    ASSERT_TRUE(network.idle());
  };
  auto advance = [&] {
    scheduler.advanceBy(CloudSync::kDebounce);
    settle();
  };
  a.secrets.set("cloudToken", macA_->token);
  a.secrets.set("cloudDeviceId", macA_->deviceId);
  b.secrets.set("cloudToken", macB_->token);
  b.secrets.set("cloudDeviceId", macB_->deviceId);
  a.launch();
  settle();
  a.settings.add("com.base.one", "One");
  a.settings.add("com.base.two", "Two");
  advance();
  b.launch();
  settle();
  ASSERT_EQ(b.settings.monitoredApps().get().size(), 2u);

  auto edit = [](test::CloudMac& mac, const std::string& bundleID, auto change) {
    auto apps = mac.settings.monitoredApps().get();
    for (auto& app : apps) {
      if (app.bundleID == bundleID) {
        change(app);
      }
    }
    mac.settings.setMonitoredApps(apps);
  };
  edit(a, "com.base.one", [](MonitoredApp& app) { app.color = BadgeColor::blue; });
  scheduler.advanceBy(seconds(1));
  edit(b, "com.base.two", [](MonitoredApp& app) { app.visibility = IconVisibility::hide; });
  scheduler.advanceBy(CloudSync::kDebounce);
  // Both pushes go out on the same base version; A's arrives first.
  ASSERT_EQ(network.unsentCount(), 2u);
  settle();
  // A learns of B's merge at its next pull.
  a.sync->pullNow(false);
  settle();

  auto check = [](const SyncPayload& payload, const std::string& who) {
    ASSERT_EQ(payload.monitoredApps.size(), 2u) << who;
    for (const auto& app : payload.monitoredApps) {
      if (app.bundleID == "com.base.one") {
        EXPECT_EQ(app.color, BadgeColor::blue) << who;
        EXPECT_EQ(app.visibility, IconVisibility::always) << who;
      } else {
        EXPECT_EQ(app.bundleID, "com.base.two") << who;
        EXPECT_EQ(app.visibility, IconVisibility::hide) << who;
        EXPECT_FALSE(app.color) << who;
      }
    }
  };
  check(SyncPayload::from(a.settings), "A");
  check(SyncPayload::from(b.settings), "B");
  auto served = SyncPayload::decode(serviceBlob());
  ASSERT_TRUE(served.ok());
  check(served.value(), "service");
  EXPECT_EQ(b.logLinesContaining("sync: push conflict, merging with the service's copy"), 1u);
}

}  // namespace
}  // namespace lumarin
