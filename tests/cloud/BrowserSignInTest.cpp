// The sign-in as a person does it: the program opens the service's sign-in page, a real
// browser (headless Chromium, driven through WebDriver) fills in the form and submits it, the
// service sends the browser on to the program's URL scheme, and the link, handed to the
// program, signs it in.
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <regex>

#include "base/Json.h"
#include "cloud/CloudMac.h"
#include "cloud/ServiceProcess.h"
#include "platform/host/CurlHttpClient.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimAppShell.h"
#include "platform/sim/SimBrowser.h"

namespace lumarin {
namespace {

using json::Json;

constexpr const char* kChromium = "/usr/bin/chromium";
constexpr const char* kChromeDriver = "/usr/bin/chromedriver";

// The real client, each request answered before `send` returns and the answer delivered on
// the caller's queue, as the client does.
class BlockingClient final : public HttpClient {
 public:
  explicit BlockingClient(HttpClient& real) : real_(real) {}
  void send(HttpRequest request, Queue& replyQueue, Completion completion) override {
    auto response = test::roundTrip(real_, std::move(request));
    replyQueue.post([completion = std::move(completion), response = std::move(response)] {
      completion(response);
    });
  }

 private:
  HttpClient& real_;
};

// A WebDriver session with headless Chromium.
class Browser {
 public:
  Browser(int port, const std::filesystem::path& profile) : client_("127.0.0.1", port) {
    client_.set_read_timeout(60);
    const Json capabilities = {
        {"capabilities",
         {{"alwaysMatch",
           {{"browserName", "chrome"},
            {"goog:chromeOptions",
             {{"binary", kChromium},
              {"args",
               {"--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--user-data-dir=" + profile.string()}}}},
            {"goog:loggingPrefs", {{"performance", "ALL"}}}}}}}};
    const Json answer = call("POST", "/session", capabilities);
    session_ = answer["value"].value("sessionId", "");
  }
  ~Browser() {
    if (!session_.empty()) {
      (void)client_.Delete("/session/" + session_);
    }
  }
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  bool ready() const { return !session_.empty(); }
  void open(const std::string& url) { call("POST", path("/url"), {{"url", url}}); }
  std::string element(const std::string& css) {
    const Json found =
        call("POST", path("/element"), {{"using", "css selector"}, {"value", css}})["value"];
    return found.is_object() && !found.empty() ? found.begin()->get<std::string>() : "";
  }
  void type(const std::string& css, const std::string& text) {
    call("POST", path("/element/" + element(css) + "/value"), {{"text", text}});
  }
  void click(const std::string& css) {
    call("POST", path("/element/" + element(css) + "/click"), Json::object());
  }
  // Every link of the program's scheme the browser was sent to, from its network log.
  std::vector<std::string> schemeLinks() {
    const std::string log = json::dump(call("POST", path("/se/log"), {{"type", "performance"}}));
    static const std::regex kLink(R"(lumarin://auth\?[^"\\]*)");
    std::vector<std::string> links;
    for (std::sregex_iterator it(log.begin(), log.end(), kLink), end; it != end; ++it) {
      links.push_back(it->str());
    }
    return links;
  }

 private:
  std::string path(const std::string& rest) const { return "/session/" + session_ + rest; }
  Json call(const std::string& method, const std::string& where, const Json& body) {
    auto result = method == "POST" ? client_.Post(where, json::dump(body), "application/json")
                                   : client_.Get(where);
    if (!result) {
      ADD_FAILURE() << "WebDriver did not answer " << method << " " << where;
      return Json::object();
    }
    auto parsed = json::parse(result->body);
    if (!parsed || result->status != 200) {
      ADD_FAILURE() << "WebDriver " << method << " " << where << ": " << result->status << " "
                    << result->body;
      return Json::object();
    }
    return parsed.value();
  }

  httplib::Client client_;
  std::string session_;
};

TEST(BrowserSignInTest, ARealBrowserSignsTheProgramIn) {
  if (!std::filesystem::exists(kChromium) || !std::filesystem::exists(kChromeDriver)) {
    GTEST_SKIP() << "chromium and chromium-driver are not installed";
  }
  test::TempDir dir;
  test::ServiceProcess service(dir.path());
  ASSERT_TRUE(service.running()) << service.startOutput();
  test::ChildProcess driver;
  int driverPort = 0;
  for (int attempt = 0; attempt < 5 && !driver.running(); ++attempt) {
    driverPort = test::freeLoopbackPort();
    (void)driver.start({kChromeDriver, "--port=" + std::to_string(driverPort)},
                       "started successfully");
  }
  ASSERT_TRUE(driver.running()) << driver.output();

  CurlHttpClient curl;
  BlockingClient http(curl);
  ManualScheduler scheduler;
  test::CloudMac mac(scheduler, http, service.baseURL());
  mac.launch();
  mac.account->signIn();
  ASSERT_EQ(mac.workspace.openedURLs().size(), 1u);
  const std::string page = mac.workspace.openedURLs()[0];
  ASSERT_EQ(page.rfind(service.baseURL() + "app/connect?", 0), 0u) << page;

  std::vector<std::string> links;
  {
    Browser browser(driverPort, dir.path() / "profile");
    ASSERT_TRUE(browser.ready());
    browser.open(page);
    browser.type("#email", "browser.user@example.com");
    browser.type("#password", "correct horse battery");
    browser.click("button[value=create]");
    // The click returns once the submission's navigation has been decided; the log is read
    // until it shows where the service sent the browser.
    for (int read = 0; read < 50 && links.empty(); ++read) {
      links = browser.schemeLinks();
    }
  }
  ASSERT_FALSE(links.empty()) << "the browser was never sent to the program";
  const std::string link = links.back();
  EXPECT_NE(link.find("state=" + mac.account->pendingState().value_or("?")), std::string::npos);

  // The link reaches the program (as the system's get-URL event would bring it).
  ASSERT_TRUE(mac.account->handleCallback(link));
  scheduler.runUntilIdle();
  EXPECT_TRUE(mac.account->state().get().signedIn);
  ASSERT_TRUE(mac.account->token());
  // The same link a second time completes nothing.
  EXPECT_FALSE(mac.account->handleCallback(link));
}

// The same sign-in as a scenario scripts it: the simulated Mac's browser submits the page the
// program opened to the real service and hands the program the link it is sent on to.
TEST(BrowserSignInTest, TheScriptedUserSignsInThroughTheSimulatedBrowser) {
  test::TempDir dir;
  test::ServiceProcess service(dir.path());
  ASSERT_TRUE(service.running()) << service.startOutput();
  CurlHttpClient curl;
  BlockingClient http(curl);
  ManualScheduler scheduler;
  test::CloudMac mac(scheduler, http, service.baseURL());
  mac.launch();
  SimAppShell shell;
  int completed = 0;
  shell.setGetURLHandler([&](const std::optional<std::string>& url) {
    completed += url && mac.account->handleCallback(*url) ? 1 : 0;
  });
  sim::SimBrowser browser(mac.workspace, shell, scheduler);
  browser.setHttpClient(&http);
  // Nothing open yet.
  EXPECT_FALSE(browser.completeSignIn({"scripted@example.com", "correct horse battery", true}));
  mac.account->signIn();
  // A wrong password first (no account yet), then the account is made.
  ASSERT_TRUE(browser.completeSignIn({"scripted@example.com", "correct horse battery", false}));
  scheduler.runUntilIdle();
  ASSERT_TRUE(browser.completeSignIn({"scripted@example.com", "correct horse battery", true}));
  scheduler.runUntilIdle();
  EXPECT_EQ(browser.outcomes(), (std::vector<std::string>{"page 401", "callback"}));
  EXPECT_EQ(completed, 1);
  EXPECT_TRUE(mac.account->state().get().signedIn);
  EXPECT_EQ(mac.account->state().get().email, "scripted@example.com");
}

}  // namespace
}  // namespace lumarin
