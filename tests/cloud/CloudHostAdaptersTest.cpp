// This machine's side of the account: which service URLs may be used, the secret store's file
// fallback, and the HTTP client's answers and refusals.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "cloud/CloudConfig.h"
#include "platform/ServiceURL.h"
#include "platform/host/CurlHttpClient.h"
#include "platform/host/HostSecretStore.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimProcessInfo.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

TEST(ServiceURLTest, PlainHttpOnlyForLoopbackHosts) {
  for (const char* url :
       {"https://lumarin.kestova.example/", "HTTPS://Example.com", "http://127.0.0.1:8787/",
        "http://127.255.0.9/", "http://localhost/", "http://LOCALHOST:80", "http://[::1]:8787/",
        "http://127.0.0.1?x", "https://10.0.0.1/"}) {
    EXPECT_TRUE(isPermittedServiceURL(url)) << url;
  }
  for (const char* url :
       {"http://example.com/", "http://128.0.0.1/", "http://127.0.0.1.evil.example/",
        "http://127.0.0.1@evil.example/", "http://evil.example/127.0.0.1", "http://[::2]/",
        "http://localhost.evil.example/", "http://127.0.0/", "http://127.0.0.256/",
        "http://[::1]evil/", "ftp://127.0.0.1/", "https:///nohost", "", "127.0.0.1:8787"}) {
    EXPECT_FALSE(isPermittedServiceURL(url)) << url;
  }
}

TEST(CloudConfigTest, TheEnvironmentOverridesOnlyWithAPermittedURL) {
  SimProcessInfo process;
  EXPECT_EQ(CloudConfig::fromEnvironment(process).baseURL, CloudConfig::builtInBaseURL());
  EXPECT_TRUE(CloudConfig::builtInBaseURL().ends_with('/'));
  process.env["LUMARIN_SERVICE_URL"] = "http://127.0.0.1:8787";
  EXPECT_EQ(CloudConfig::fromEnvironment(process).baseURL, "http://127.0.0.1:8787/");
  process.env["LUMARIN_SERVICE_URL"] = "http://sync.example.com/";
  EXPECT_EQ(CloudConfig::fromEnvironment(process).baseURL, CloudConfig::builtInBaseURL());
  process.env["LUMARIN_SERVICE_URL"] = "";
  EXPECT_EQ(CloudConfig::fromEnvironment(process).baseURL, CloudConfig::builtInBaseURL());
}

TEST(HostSecretStoreTest, TheFileFallbackIsPrivateAndSurvivesAnotherInstance) {
  test::TempDir dir;
  const auto file = dir / "com.kestova.Lumarin" / "secrets.json";
  {
    HostSecretStore store("com.kestova.Lumarin", file, false);
    EXPECT_FALSE(store.get("cloudToken"));
    store.set("cloudToken", "tök\"en");
    store.set("cloudEmail", "a@example.com");
    store.remove("cloudEmail");
    store.remove("never-there");
    EXPECT_EQ(store.usesSecretService(), false);
  }
  HostSecretStore again("com.kestova.Lumarin", file, false);
  EXPECT_EQ(again.get("cloudToken"), "tök\"en");
  EXPECT_FALSE(again.get("cloudEmail"));
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // Nothing is left behind from the atomic writes.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(HostSecretStoreTest, AnUnreadableFileReadsAsEmptyAndIsReplacedOnWrite) {
  test::TempDir dir;
  const auto file = dir / "secrets.json";
  test::writeFile(file, "{\"cloudToken\": 5, ");
  HostSecretStore store("com.kestova.Lumarin", file, false);
  EXPECT_FALSE(store.get("cloudToken"));
  store.set("cloudDeviceId", "D");
  EXPECT_EQ(store.get("cloudDeviceId"), "D");
}

// Without a session bus (as in CI) the store falls back to the file by itself.
TEST(HostSecretStoreTest, WithoutASessionBusTheFileIsUsed) {
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string saved = bus != nullptr ? bus : "";
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  test::TempDir dir;
  HostSecretStore store("com.kestova.Lumarin", dir / "secrets.json");
  store.set("cloudTier", "free");
  EXPECT_EQ(store.usesSecretService(), false);
  EXPECT_EQ(
      test::readFile(dir / "secrets.json").find("\"cloudTier\": \"free\"") != std::string::npos,
      true);
  if (bus != nullptr) {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
  }
}

// Run under `dbus-run-session` to see it: a bus without a Secret Service on it must not keep
// the secrets from being stored.
TEST(HostSecretStoreTest, ABusWithoutASecretServiceFallsBackToTheFile) {
  if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
    GTEST_SKIP() << "no session bus";
  }
  test::TempDir dir;
  HostSecretStore store("com.kestova.Lumarin.test", dir / "secrets.json");
  store.set("cloudTier", "free");
  EXPECT_EQ(store.get("cloudTier"), "free");
  if (store.usesSecretService() == false) {
    EXPECT_TRUE(std::filesystem::exists(dir / "secrets.json"));
  } else {
    store.remove("cloudTier");  // a real keychain: leave nothing behind
  }
}

// A keyring the test controls: whether it exists and whether it answers (a locked or slow
// one fails every call).
struct FakeKeyring final : Keyring {
  struct State {
    bool exists = true;
    bool answers = true;
    std::map<std::string, std::string, std::less<>> items;
  };
  explicit FakeKeyring(std::shared_ptr<State> s) : state(std::move(s)) {}
  bool exists() override { return state->exists; }
  Read read(std::string_view key) override {
    if (!state->answers) {
      return Read{Outcome::failed, {}};
    }
    auto it = state->items.find(key);
    return it == state->items.end() ? Read{Outcome::notFound, {}} : Read{Outcome::ok, it->second};
  }
  Outcome write(std::string_view key, const std::string& value) override {
    if (!state->answers) {
      return Outcome::failed;
    }
    state->items.insert_or_assign(std::string(key), value);
    return Outcome::ok;
  }
  Outcome remove(std::string_view key) override {
    if (!state->answers) {
      return Outcome::failed;
    }
    state->items.erase(std::string(key));
    return Outcome::ok;
  }
  std::shared_ptr<State> state;
};

class KeyringFallbackTest : public ::testing::Test {
 protected:
  HostSecretStore make() {
    return HostSecretStore(std::make_unique<FakeKeyring>(keyring), file(),
                           [this](std::string_view line) { log.emplace_back(line); });
  }
  std::filesystem::path file() const { return dir / "secrets.json"; }
  bool logged(const std::string& text) const {
    return std::any_of(log.begin(), log.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  }

  test::TempDir dir;
  std::shared_ptr<FakeKeyring::State> keyring = std::make_shared<FakeKeyring::State>();
  std::vector<std::string> log;
};

TEST_F(KeyringFallbackTest, ALockedOrSlowKeyringNeverPutsTheTokenIntoTheFile) {
  keyring->answers = false;
  auto store = make();
  store.set("cloudToken", "secret-token");
  EXPECT_FALSE(std::filesystem::exists(file()));
  EXPECT_FALSE(store.get("cloudToken"));
  EXPECT_EQ(store.usesSecretService(), true);
  EXPECT_TRUE(
      logged("secret store: the keyring did not store \"cloudToken\" (locked or slow); "
             "dropped, never written to the private file"));
  EXPECT_TRUE(logged("did not answer for \"cloudToken\""));
  for (const auto& line : log) {
    EXPECT_EQ(line.find("secret-token"), std::string::npos) << line;
  }
  // Unlocked later in the same session: the keyring is used, still not the file.
  keyring->answers = true;
  store.set("cloudToken", "secret-token");
  EXPECT_EQ(store.get("cloudToken"), "secret-token");
  EXPECT_EQ(keyring->items.at("cloudToken"), "secret-token");
  EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(KeyringFallbackTest, WithoutAKeyringTheFileIsUsedAndItsItemsMoveInWhenOneAppears) {
  keyring->exists = false;
  auto store = make();
  store.set("cloudToken", "t1");
  store.set("cloudEmail", "a@example.com");
  EXPECT_EQ(store.usesSecretService(), false);
  EXPECT_TRUE(keyring->items.empty());
  ASSERT_TRUE(std::filesystem::exists(file()));
  EXPECT_TRUE(logged("no Secret Service on the session bus; using the private file"));

  // The keyring appears but is locked: the items stay in the file and are still read.
  keyring->exists = true;
  keyring->answers = false;
  EXPECT_EQ(store.get("cloudToken"), "t1");
  EXPECT_TRUE(std::filesystem::exists(file()));
  EXPECT_TRUE(logged("the keyring did not take 2 of 2 item(s) from the private file"));

  // Unlocked: both move in and the file is gone.
  keyring->answers = true;
  EXPECT_EQ(store.get("cloudEmail"), "a@example.com");
  EXPECT_EQ(keyring->items.size(), 2u);
  EXPECT_EQ(keyring->items.at("cloudToken"), "t1");
  EXPECT_FALSE(std::filesystem::exists(file()));
  EXPECT_TRUE(
      logged("moved 2 item(s) from the private file into the keyring and deleted the "
             "file"));
  // A later store (the next launch) finds nothing left to move.
  log.clear();
  auto next = make();
  EXPECT_EQ(next.get("cloudToken"), "t1");
  EXPECT_FALSE(logged("moved"));
}

TEST_F(KeyringFallbackTest, AWriteWhileItemsWaitInTheFileDropsTheStaleCopy) {
  keyring->exists = false;
  auto store = make();
  store.set("cloudToken", "old");
  store.set("cloudTier", "free");
  keyring->exists = true;
  keyring->answers = false;
  store.remove("cloudToken");  // sign-out while the keyring is locked
  keyring->answers = true;
  // The old token does not come back from the file; the other item moves in.
  EXPECT_FALSE(store.get("cloudToken"));
  EXPECT_FALSE(keyring->items.contains("cloudToken"));
  EXPECT_EQ(keyring->items.at("cloudTier"), "free");
  EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(KeyringFallbackTest, AnUnreadableFileIsRemovedWithALineWhenAKeyringIsThere) {
  test::writeFile(file(), "{\"cloudToken\": ");
  auto store = make();
  EXPECT_FALSE(store.get("cloudToken"));
  EXPECT_FALSE(std::filesystem::exists(file()));
  EXPECT_TRUE(logged("could not be read; removed it"));
}

TEST(CurlHttpClientTest, PlainHttpToAnotherHostIsRefusedWithoutSending) {
  ManualScheduler scheduler;
  CurlHttpClient client;
  std::vector<int> statuses;
  for (const char* url : {"http://example.com/api/me", "ftp://127.0.0.1/", "file:///etc/passwd"}) {
    client.send(HttpRequest{"GET", url, {}, "", seconds(60)}, scheduler.mainQueue(),
                [&](HttpResponse response) { statuses.push_back(response.status); });
  }
  // Refusals are posted at once, not sent to the worker.
  scheduler.runUntilIdle();
  EXPECT_EQ(statuses, (std::vector<int>{0, 0, 0}));
}

// A loopback socket that listens but never accepts: connections wait in its backlog and no
// answer ever comes. Without `listen` the port refuses.
struct SilentPort {
  explicit SilentPort(bool listening) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    if (listening) {
      ::listen(fd, 4);
    }
  }
  ~SilentPort() { ::close(fd); }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/api/me"; }
  int fd = -1;
  int port = 0;
};

// Posts from the client's worker thread straight into a result the test waits for: the wait
// is for real I/O, which virtual time cannot move.
class WaitingQueue final : public Queue {
 public:
  const std::string& label() const override { return label_; }
  void post(Task task) override {
    task();
    std::lock_guard lock(mutex_);
    ++ran_;
    ran.notify_all();
  }
  TaskHandle postAfter(Duration, Task task) override {
    post(std::move(task));
    return {};
  }
  bool isCurrent() const override { return false; }
  // Whether `count` completions ran within the deadline (well past the requests' timeouts).
  [[nodiscard]] bool waitFor(int count) {
    std::unique_lock lock(mutex_);
    return ran.wait_for(lock, std::chrono::seconds(90), [&] { return ran_ >= count; });
  }

 private:
  std::string label_ = "waiting";
  std::mutex mutex_;
  std::condition_variable ran;
  int ran_ = 0;
};

// A loopback server that answers one request with `answer` and closes. Its thread gives up
// after a deadline when no request comes.
struct OneAnswerServer {
  explicit OneAnswerServer(std::string answer) : port_(true) {
    thread = std::thread([this, answer = std::move(answer)] {
      pollfd waiting{port_.fd, POLLIN, 0};
      if (::poll(&waiting, 1, 60'000) != 1) {
        return;
      }
      const int connection = ::accept4(port_.fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) {
        return;
      }
      std::string head;
      char buffer[4096];
      pollfd reading{connection, POLLIN, 0};
      while (head.find("\r\n\r\n") == std::string::npos && ::poll(&reading, 1, 60'000) == 1) {
        const ssize_t received = ::recv(connection, buffer, sizeof buffer, 0);
        if (received <= 0) {
          break;
        }
        head.append(buffer, static_cast<std::size_t>(received));
      }
      request = head;
      (void)::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
      ::close(connection);
    });
  }
  ~OneAnswerServer() { finish(); }
  // Waits for the thread: `request` is complete after it.
  void finish() {
    if (thread.joinable()) {
      thread.join();
    }
  }
  std::string url() const { return port_.url(); }

  SilentPort port_;
  std::string request;  // what arrived, once the thread is joined
  std::thread thread;
};

// libcurl is opened on the first request: that request is really sent and its answer read.
TEST(CurlHttpClientTest, TheFirstRequestIsSentAndItsAnswerRead) {
  std::optional<HttpResponse> answer;
  {
    OneAnswerServer server(
        "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 12\r\n"
        "Connection: close\r\n\r\n{\"id\": \"42\"}");
    WaitingQueue queue;
    CurlHttpClient client;
    client.send(HttpRequest{"GET", server.url(), {{"Accept", "application/json"}}, "", seconds(60)},
                queue, [&](HttpResponse response) { answer = std::move(response); });
    ASSERT_TRUE(queue.waitFor(1));
    server.finish();
    EXPECT_NE(server.request.find("GET /api/me HTTP/1.1"), std::string::npos) << server.request;
    EXPECT_NE(server.request.find("Accept: application/json"), std::string::npos);
  }
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);
  EXPECT_EQ(answer->body, "{\"id\": \"42\"}");
}

TEST(CurlHttpClientTest, ARefusedConnectionIsStatusZero) {
  SilentPort closed(false);
  WaitingQueue queue;
  CurlHttpClient client;
  int status = -1;
  client.send(HttpRequest{"GET", closed.url(), {}, "", seconds(60)}, queue,
              [&](HttpResponse response) { status = response.status; });
  ASSERT_TRUE(queue.waitFor(1));
  EXPECT_EQ(status, 0);
}

TEST(CurlHttpClientTest, RequestsStillOpenWhenTheClientGoesCompleteWithStatusZero) {
  SilentPort silent(true);
  WaitingQueue queue;
  std::vector<int> statuses;
  {
    CurlHttpClient client;
    for (int i = 0; i < 3; ++i) {
      client.send(
          HttpRequest{
              "PUT", silent.url(), {{"Content-Type", "application/json"}}, "{}", seconds(60)},
          queue, [&](HttpResponse response) { statuses.push_back(response.status); });
    }
  }  // does not wait the 60 s out
  ASSERT_TRUE(queue.waitFor(3));
  EXPECT_EQ(statuses, (std::vector<int>{0, 0, 0}));
}

}  // namespace
}  // namespace lumarin
