// The account on virtual time with a scripted service: PKCE, the callback's checks, the token
// exchange, refresh and sign-out, and what is kept where.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "cloud/CloudMac.h"
#include "cloud/Pkce.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimHttpClient.h"

namespace lumarin {
namespace {

constexpr const char* kBase = "https://sync.test/";

class CloudAccountTest : public ::testing::Test {
 protected:
  void SetUp() override { mac_.makeAccount(); }

  // Starts a sign-in and returns the callback the service would send for it.
  std::string callbackFor(const std::string& code) {
    mac_.account->signIn();
    return "lumarin://auth?code=" + code + "&state=" + *mac_.account->pendingState();
  }
  std::string tokenRequestBody() {
    auto posts = http_.requests("POST", "/api/app/token");
    return posts.empty() ? "" : posts.back().body;
  }

  ManualScheduler scheduler_;
  SimHttpClient http_;
  test::CloudMac mac_{scheduler_, http_, kBase};
};

TEST(PkceTest, Rfc7636VectorAndUrlSafeRandomStrings) {
  EXPECT_EQ(pkce::challenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
            "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  std::set<std::string> seen;
  for (int i = 0; i < 300; ++i) {
    const std::string verifier = pkce::randomURLBase64(32);
    ASSERT_EQ(verifier.size(), 43u);
    ASSERT_EQ(verifier.find_first_of("+/="), std::string::npos) << verifier;
    seen.insert(verifier);
  }
  EXPECT_EQ(seen.size(), 300u);
  EXPECT_EQ(pkce::randomURLBase64(16).size(), 22u);
}

TEST_F(CloudAccountTest, SignInOpensTheConnectPageWithThreeItemsInOrder) {
  mac_.account->signIn();
  const auto verifier = *mac_.account->pendingVerifier();
  const auto state = *mac_.account->pendingState();
  ASSERT_EQ(mac_.workspace.openedURLs().size(), 1u);
  EXPECT_EQ(mac_.workspace.openedURLs()[0],
            std::string(kBase) + "app/connect?app=lumarin&challenge=" + pkce::challenge(verifier) +
                "&state=" + state);
  // A second sign-in replaces the pending one; the first one's callback no longer matches.
  mac_.account->signIn();
  EXPECT_NE(*mac_.account->pendingState(), state);
  EXPECT_FALSE(mac_.account->handleCallback("lumarin://auth?code=c&state=" + state));
  EXPECT_TRUE(http_.requests().empty());
}

TEST_F(CloudAccountTest, CallbacksThatDoNotCompleteTheSignInChangeNothing) {
  mac_.account->signIn();
  const std::string state = *mac_.account->pendingState();
  for (const std::string& url : std::vector<std::string>{
           "lumarin://other?code=c&state=" + state,       // host is not "auth"
           "lumarin://AUTH?code=c&state=" + state,        // exact host only
           "lumarin://auth?code=c&state=" + state + "x",  // another state
           "lumarin://auth?code=c",                       // no state
           "lumarin://auth?code=c&state",                 // a state item without a value
           "lumarin://auth?state=" + state,               // no code
           "lumarin://auth/?code&state=" + state,         // a code item without a value
           "not a url",
       }) {
    EXPECT_FALSE(mac_.account->handleCallback(url)) << url;
  }
  EXPECT_EQ(mac_.account->pendingState(), state);
  EXPECT_TRUE(mac_.account->pendingVerifier());
  EXPECT_TRUE(http_.requests().empty());
  // The first "state" item counts; the scheme is not examined.
  EXPECT_TRUE(
      mac_.account->handleCallback("x-other://auth?state=" + state + "&code=c%2Bd&state=z"));
}

TEST_F(CloudAccountTest, TheRightCallbackExchangesOnceWithTheVerifier) {
  const std::string url = callbackFor("the%20code");
  const std::string verifier = *mac_.account->pendingVerifier();
  ASSERT_TRUE(mac_.account->handleCallback(url));
  EXPECT_FALSE(mac_.account->pendingState());
  EXPECT_FALSE(mac_.account->pendingVerifier());
  EXPECT_FALSE(mac_.account->handleCallback(url));  // arriving twice

  auto posts = http_.requests("POST", "/api/app/token");
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].url, std::string(kBase) + "api/app/token");
  const auto deviceId = mac_.secrets.get(CloudAccount::kDeviceIdItem);
  ASSERT_TRUE(deviceId);
  EXPECT_TRUE(std::regex_match(*deviceId, std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}")));
  EXPECT_EQ(posts[0].body, "{\"code\":\"the code\",\"deviceId\":\"" + *deviceId +
                               "\",\"verifier\":\"" + verifier + "\"}");
  for (const auto& [name, value] : posts[0].headers) {
    EXPECT_NE(name, "Authorization");
  }

  http_.answerNext({200, R"({"token":"tok-1","email":"ana@example.com","tier":"pro"})"});
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.account->state().get(), AccountState::signedInAs("ana@example.com", "pro"));
  EXPECT_EQ(mac_.secrets.get("cloudToken"), "tok-1");
  EXPECT_EQ(mac_.secrets.get("cloudEmail"), "ana@example.com");
  EXPECT_EQ(mac_.secrets.get("cloudTier"), "pro");
  // The device identifier is made once and kept.
  mac_.account->signIn();
  ASSERT_TRUE(
      mac_.account->handleCallback("lumarin://auth?code=2&state=" + *mac_.account->pendingState()));
  EXPECT_NE(tokenRequestBody().find(*deviceId), std::string::npos);
}

TEST_F(CloudAccountTest, ExchangeAnswersWithoutATokenLeaveSignedOutAndStoreNothing) {
  struct Case {
    HttpResponse response;
    const char* why;
  };
  for (const auto& c : {Case{{200, ""}, "empty body"}, Case{{200, "<html>"}, "not JSON"},
                        Case{{200, "[\"token\"]"}, "not an object"},
                        Case{{200, R"({"token":7})"}, "token not a string"},
                        Case{{500, R"({"token":"t"})"}, "server error"}, Case{{401, ""}, "refused"},
                        Case{{0, ""}, "offline"}}) {
    ASSERT_TRUE(mac_.account->handleCallback(callbackFor("c")));
    http_.answerNext(c.response);
    scheduler_.runUntilIdle();
    EXPECT_FALSE(mac_.account->state().get().signedIn) << c.why;
    EXPECT_FALSE(mac_.secrets.get("cloudToken")) << c.why;
    EXPECT_FALSE(mac_.secrets.get("cloudEmail")) << c.why;
  }
}

TEST_F(CloudAccountTest, MissingOrMistypedEmailAndTierFallBack) {
  ASSERT_TRUE(mac_.account->handleCallback(callbackFor("c")));
  http_.answerNext({201, R"({"token":"t","tier":3,"email":null})"});
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.account->state().get(), AccountState::signedInAs("", "free"));
  EXPECT_EQ(mac_.secrets.get("cloudTier"), "free");
  EXPECT_EQ(mac_.secrets.get("cloudEmail"), "");
}

TEST_F(CloudAccountTest, AStoredTokenMeansSignedInAtCreationWithoutTheNetwork) {
  test::CloudMac other(scheduler_, http_, kBase);
  other.secrets.set("cloudToken", "t");
  other.secrets.set("cloudEmail", "b@example.com");
  other.makeAccount();
  EXPECT_EQ(other.account->state().get(), AccountState::signedInAs("b@example.com", "free"));
  EXPECT_TRUE(http_.requests().empty());
}

TEST_F(CloudAccountTest, RefreshSignsOutOnlyOn401) {
  mac_.secrets.set("cloudToken", "t");
  mac_.secrets.set("cloudEmail", "old@example.com");
  mac_.secrets.set("cloudTier", "free");
  mac_.secrets.set("cloudDeviceId", "D");
  mac_.makeAccount();
  const auto signedIn = AccountState::signedInAs("old@example.com", "free");

  for (const HttpResponse& failure : {HttpResponse{500, "{}"}, HttpResponse{0, ""},
                                      HttpResponse{404, "nope"}, HttpResponse{409, "{}"}}) {
    bool done = false;
    mac_.account->refresh([&] { done = true; });
    http_.answerNext(failure);
    scheduler_.runUntilIdle();
    EXPECT_TRUE(done);
    EXPECT_EQ(mac_.account->state().get(), signedIn) << failure.status;
    EXPECT_EQ(mac_.secrets.get("cloudToken"), "t");
  }
  auto gets = http_.requests("GET", "/api/me");
  ASSERT_FALSE(gets.empty());
  EXPECT_EQ(gets[0].headers,
            (std::vector<std::pair<std::string, std::string>>{{"Authorization", "Bearer t"}}));

  mac_.account->refresh();
  http_.answerNext({200, R"({"email":"new@example.com","tier":"team"})"});
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.account->state().get(), AccountState::signedInAs("new@example.com", "team"));
  EXPECT_EQ(mac_.secrets.get("cloudTier"), "team");

  mac_.account->refresh();
  http_.answerNext({401, R"({"error":"unknown token"})"});
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.account->state().get(), AccountState::signedOut());
  EXPECT_FALSE(mac_.secrets.get("cloudToken"));
  EXPECT_FALSE(mac_.secrets.get("cloudEmail"));
  EXPECT_FALSE(mac_.secrets.get("cloudTier"));
  EXPECT_EQ(mac_.secrets.get("cloudDeviceId"), "D");

  // Without a token nothing is asked.
  http_.clearRequests();
  bool done = false;
  mac_.account->refresh([&] { done = true; });
  EXPECT_TRUE(done);
  EXPECT_TRUE(http_.requests().empty());
}

TEST_F(CloudAccountTest, SignOutIsLocalAtOnceEvenOffline) {
  mac_.secrets.set("cloudToken", "secret-token-value");
  mac_.secrets.set("cloudEmail", "a@example.com");
  mac_.secrets.set("cloudDeviceId", "D");
  mac_.makeAccount();
  mac_.account->signOut();
  // Before the service has answered anything.
  EXPECT_EQ(mac_.account->state().get(), AccountState::signedOut());
  EXPECT_FALSE(mac_.secrets.get("cloudToken"));
  EXPECT_FALSE(mac_.secrets.get("cloudEmail"));
  EXPECT_EQ(mac_.secrets.get("cloudDeviceId"), "D");
  auto posts = http_.requests("POST", "/api/app/logout");
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].body, "{}");
  // The answer (here: none, the network is down) changes nothing, even after the account is
  // gone.
  mac_.account.reset();
  EXPECT_TRUE(http_.answerNext({0, ""}));
  scheduler_.runUntilIdle();
  EXPECT_EQ(mac_.log.tail().find("secret-token-value"), std::string::npos);
}

TEST_F(CloudAccountTest, AnswersForAnAccountThatIsGoneAreDropped) {
  ASSERT_TRUE(mac_.account->handleCallback(callbackFor("c")));
  mac_.account.reset();
  http_.answerNext({200, R"({"token":"t"})"});
  scheduler_.runUntilIdle();
  EXPECT_FALSE(mac_.secrets.get("cloudToken"));
}

TEST_F(CloudAccountTest, TokensNeverReachTheDebugLog) {
  ASSERT_TRUE(mac_.account->handleCallback(callbackFor("c")));
  http_.answerNext({200, R"({"token":"tok-XYZZY","email":"e@example.com"})"});
  scheduler_.runUntilIdle();
  mac_.account->refresh();
  http_.answerNext({401, ""});
  scheduler_.runUntilIdle();
  const std::string log = mac_.log.tail();
  EXPECT_NE(log.find("cloud: signed in"), std::string::npos);
  EXPECT_EQ(log.find("tok-XYZZY"), std::string::npos);
}

}  // namespace
}  // namespace lumarin
