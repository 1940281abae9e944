// The service under abuse, through a real server on loopback and against both stores: slow and
// idle connections, password guessing from one and from several addresses, upload floods,
// stale tokens, and what the access log may hold. Clients speak raw HTTP over sockets bound to
// loopback source addresses of their choice (127.0.0.2, 127.0.0.3, ... are all this machine),
// so each can pose as another network. Time is the test's: "now" is a number it moves.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <mutex>
#include <sstream>
#include <thread>

#include "BrowserForm.h"
#include "PostgresServer.h"
#include "base/Json.h"
#include "service/Admin.h"
#include "service/HttpServer.h"
#include "service/RequestParsers.h"
#include "service/Service.h"
#include "service/Store.h"
#include "support/TempDir.h"

namespace lumarin::service {
namespace {

using json::Json;
using Clock = std::chrono::steady_clock;

using signin::kChallenge;
using signin::kVerifier;
using signin::urlEncode;
constexpr Seconds kDay = Seconds{24} * 60 * 60;

// A socket connected to the server from `source` (a loopback address).
class Socket {
 public:
  Socket(int port, const std::string& source = "127.0.0.1") {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
      return;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  }
  ~Socket() { ::close(fd_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool connected() const { return connected_; }
  bool send(std::string_view bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }

  // Everything the server sends until it closes or `limit` passes.
  std::string readUntilClosed(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::string out;
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      if (!waitReadable(deadline)) {
        break;
      }
      char buffer[4096];
      const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {
        break;
      }
      out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
  }

  // One complete answer (head and Content-Length body), or what came before `limit`.
  std::string readAnswer(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::string out;
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline && waitReadable(deadline)) {
      char buffer[4096];
      const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {
        break;
      }
      out.append(buffer, static_cast<std::size_t>(n));
      const auto end = out.find("\r\n\r\n");
      if (end == std::string::npos) {
        continue;
      }
      std::size_t length = 0;
      auto lower = out.substr(0, end);
      for (auto& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
      if (const auto at = lower.find("content-length:"); at != std::string::npos) {
        length = std::stoul(lower.substr(at + 15));
      }
      if (out.size() >= end + 4 + length) {
        break;
      }
    }
    return out;
  }

 private:
  bool waitReadable(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(std::max<long>(left, 0))) > 0;
  }

  int fd_ = -1;
  bool connected_ = false;
};

struct RawReply {
  int status = 0;
  std::string head;
  std::string body;

  std::string header(std::string_view name) const {
    std::string lowerHead = head;
    for (auto& c : lowerHead) {
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const auto at = lowerHead.find("\r\n" + std::string(name) + ":");
    if (at == std::string::npos) {
      return {};
    }
    const auto start = at + 3 + name.size();
    auto value = head.substr(start, head.find("\r\n", start) - start);
    while (!value.empty() && value.front() == ' ') {
      value.erase(0, 1);
    }
    return value;
  }
  Json json() const {
    auto parsed = json::parse(body);
    return parsed.ok() ? parsed.value() : Json();
  }
};

RawReply parseReply(const std::string& raw) {
  RawReply reply;
  if (raw.size() < 12 || !raw.starts_with("HTTP/1.1 ")) {
    return reply;
  }
  reply.status = std::stoi(raw.substr(9, 3));
  const auto end = raw.find("\r\n\r\n");
  reply.head = raw.substr(0, end);
  reply.body = end == std::string::npos ? "" : raw.substr(end + 4);
  return reply;
}

class ServiceLimitsTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    std::string location = (dir_ / "service.db").string();
    if (GetParam() == "postgresql") {
      std::string whyNot;
      auto* server = test::PostgresServer::shared(whyNot);
      if (server == nullptr) {
        if (whyNot.starts_with("PostgreSQL server programs")) {
          GTEST_SKIP() << whyNot;
        }
        FAIL() << whyNot;
      }
      location = server->freshDatabase();
    }
    auto store = Store::open(location);
    ASSERT_TRUE(store.ok()) << store.error().message;
    store_ = std::move(store).value();
    limits_.signInFailuresPerAccount = 5;
    limits_.signInFailuresPerAddress = 20;
    limits_.uploadsPerInstall = 3;
    limits_.uploadBytesPerInstall = 4096;
    limits_.uploadsPerAddress = 100;
    limits_.maxAnonymousReports = 6;
    limits_.accountsPerAddress = 4;
    serverOptions_.threads = 2;
    serverOptions_.requestTimeout = std::chrono::milliseconds(1000);
    serverOptions_.idleTimeout = std::chrono::milliseconds(1500);
    serverOptions_.maxHeaderCount = 16;
    serverOptions_.maxHeaderBytes = 2048;
    serverOptions_.accessLog = [this](std::string_view line) {
      std::lock_guard lock(mutex_);
      accessLog_.emplace_back(line);
    };
  }

  void startServer() {
    Service::Options options;
    options.now = [this] { return now_.load(); };
    options.passwordIterations = 1000;
    options.limits = limits_;
    options.log = [](std::string_view) {};
    service_ = std::make_unique<Service>(*store_, options);
    server_ = std::make_unique<HttpServer>(*service_, serverOptions_);
    auto port = server_->bind("127.0.0.1", 0);
    ASSERT_TRUE(port.ok());
    port_ = port.value();
    server_->start();
  }

  void TearDown() override {
    if (server_) {
      server_->stop();
    }
  }

  RawReply request(const std::string& method, const std::string& target,
                   const std::string& body = "", const std::string& extraHeaders = "",
                   const std::string& source = "127.0.0.1") {
    Socket socket(port_, source);
    EXPECT_TRUE(socket.connected());
    socket.send(method + " " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" +
                extraHeaders + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                body);
    return parseReply(socket.readAnswer());
  }

  RawReply submit(const std::string& email, const std::string& password,
                  const std::string& action = "signin", const std::string& source = "127.0.0.1") {
    const std::string form = "app=lumarin&challenge=" + std::string(kChallenge) +
                             "&state=st4te&email=" + urlEncode(email) +
                             "&password=" + urlEncode(password) + "&action=" + action;
    return request("POST", "/app/connect", form,
                   "Content-Type: application/x-www-form-urlencoded\r\n", source);
  }

  std::string codeOf(const RawReply& reply) {
    const auto location = reply.header("location");
    const auto at = location.find("code=");
    return at == std::string::npos ? "" : location.substr(at + 5, location.find('&', at) - at - 5);
  }

  std::string tokenFor(const std::string& email, const std::string& device = "DEV-1") {
    auto signedIn = submit(email, "password1", "create");
    if (signedIn.status != 303) {
      signedIn = submit(email, "password1", "signin");
    }
    const auto exchanged =
        request("POST", "/api/app/token",
                json::dump(Json{
                    {"code", codeOf(signedIn)}, {"verifier", kVerifier}, {"deviceId", device}}));
    return exchanged.json().value("token", "");
  }

  std::string bearer(const std::string& token) { return "Authorization: Bearer " + token + "\r\n"; }

  std::vector<std::string> accessLog() {
    std::lock_guard lock(mutex_);
    return accessLog_;
  }

  test::TempDir dir_;
  std::unique_ptr<Store> store_;
  Service::Limits limits_;
  HttpServer::Options serverOptions_;
  std::atomic<Seconds> now_{1'800'000'000};
  std::unique_ptr<Service> service_;
  std::unique_ptr<HttpServer> server_;
  int port_ = 0;
  std::mutex mutex_;
  std::vector<std::string> accessLog_;
};

TEST_P(ServiceLimitsTest, SlowAndIdleConnectionsDoNotKeepAFreshClientWaiting) {
  // Deadlines long enough that a loaded machine still serves the fresh client before the slow
  // ones are dropped: that order is what this test checks.
  serverOptions_.requestTimeout = std::chrono::milliseconds(3000);
  serverOptions_.idleTimeout = std::chrono::milliseconds(3500);
  startServer();
  const auto token = tokenFor("ada@example.com");
  ASSERT_FALSE(token.empty());
  // Two workers, and far more connections than that: some trickling a head, some half way
  // through a body, some idle after a request.
  std::vector<std::unique_ptr<Socket>> trickling;
  std::vector<std::unique_ptr<Socket>> halfBodies;
  std::vector<std::unique_ptr<Socket>> idle;
  for (int i = 0; i < 20; ++i) {
    const std::string source = "127.0.0." + std::to_string(2 + i % 4);
    trickling.push_back(std::make_unique<Socket>(port_, source));
    trickling.back()->send("GET /api/me HTTP/1.1\r\nHost: x\r\n");
    halfBodies.push_back(std::make_unique<Socket>(port_, source));
    halfBodies.back()->send("PUT /api/sync/lumarin HTTP/1.1\r\nHost: x\r\n" + bearer(token) +
                            "Content-Length: 100\r\n\r\n{\"blob\":");
    idle.push_back(std::make_unique<Socket>(port_, source));
    idle.back()->send("GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n");
  }
  for (auto& s : idle) {
    EXPECT_EQ(parseReply(s->readAnswer()).status, 200);
  }

  const auto me = request("GET", "/api/me", "", bearer(token));
  EXPECT_EQ(me.status, 200) << me.body;
  const auto put =
      request("PUT", "/api/sync/lumarin", R"({"blob":"{}","baseVersion":0})", bearer(token));
  EXPECT_EQ(put.status, 200) << put.body;
  // Served while every slow one is still waiting for its deadline: none has an answer yet.
  for (auto& s : trickling) {
    EXPECT_EQ(s->readAnswer(std::chrono::milliseconds(0)), "");
  }

  // A trickler keeps sending header lines as the server lets it; the request deadline still
  // ends it with 408, whatever it sends.
  Socket dripping(port_, "127.0.0.9");
  dripping.send("GET /api/me HTTP/1.1\r\n");
  std::string answer;
  for (int line = 0; line < 200 && answer.empty(); ++line) {
    dripping.send("X-Drip-" + std::to_string(line % 10) + ": 1\r\n");
    answer = dripping.readAnswer(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(parseReply(answer).status, 408) << answer;

  for (auto& s : trickling) {
    EXPECT_EQ(parseReply(s->readUntilClosed()).status, 408);
  }
  for (auto& s : halfBodies) {
    EXPECT_EQ(parseReply(s->readUntilClosed()).status, 408);
  }
  // Idle keep-alives are closed without an answer.
  for (auto& s : idle) {
    EXPECT_EQ(s->readUntilClosed(), "");
  }
}

TEST_P(ServiceLimitsTest, OversizedHeadsAndPerAddressConnectionCapsAreRefused) {
  serverOptions_.maxConnectionsPerAddress = 3;
  startServer();
  std::string manyFields;
  for (int i = 0; i < 20; ++i) {
    manyFields += "X-F" + std::to_string(i) + ": v\r\n";
  }
  EXPECT_EQ(request("GET", "/healthz", "", manyFields).status, 431);
  EXPECT_EQ(request("GET", "/healthz", "", "X-Big: " + std::string(3000, 'a') + "\r\n").status,
            431);
  EXPECT_EQ(request("GET", "/healthz", "", "Transfer-Encoding: chunked\r\n").status, 501);

  std::vector<std::unique_ptr<Socket>> held;
  held.reserve(3);
  for (int i = 0; i < 3; ++i) {
    held.push_back(std::make_unique<Socket>(port_, "127.0.0.5"));
  }
  // The server takes them in order; one request on each shows they are all accepted.
  for (auto& s : held) {
    s->send("GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(parseReply(s->readAnswer()).status, 200);
  }
  Socket fourth(port_, "127.0.0.5");
  EXPECT_EQ(parseReply(fourth.readUntilClosed()).status, 429);
  // Another address is not affected.
  EXPECT_EQ(request("GET", "/healthz", "", "", "127.0.0.6").status, 200);
}

TEST_P(ServiceLimitsTest, AnUnauthorisedUploadIsRefusedBeforeItsBodyIsSent) {
  startServer();
  Socket socket(port_);
  // Only the head of a 1 MB upload: the answer must come without the body.
  socket.send(
      "PUT /api/sync/lumarin HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer nope\r\n"
      "Content-Length: 1000000\r\n\r\n");
  const auto reply = parseReply(socket.readAnswer());
  EXPECT_EQ(reply.status, 401);
  EXPECT_EQ(reply.header("www-authenticate"), "Bearer");
  // Without any credentials alike, and for the other paths that need a token.
  for (const std::string head :
       {"PUT /api/sync/lumarin", "POST /api/app/logout", "DELETE /api/app/devices/D"}) {
    Socket anonymous(port_);
    anonymous.send(head + " HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000\r\n\r\n");
    EXPECT_EQ(parseReply(anonymous.readAnswer()).status, 401) << head;
  }
  // With a valid token the body is awaited and taken, announced by 100 Continue when asked.
  const auto token = tokenFor("ada@example.com");
  ASSERT_FALSE(token.empty());
  const std::string body = R"({"blob":"{}","baseVersion":0})";
  Socket allowed(port_);
  allowed.send("PUT /api/sync/lumarin HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n" +
               bearer(token) + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n");
  EXPECT_EQ(parseReply(allowed.readAnswer()).status, 100);
  allowed.send(body);
  EXPECT_EQ(parseReply(allowed.readAnswer()).status, 200);
  // A body announced over the limit is refused on its head alone.
  Socket big(port_);
  big.send("PUT /api/sync/lumarin HTTP/1.1\r\nHost: x\r\nContent-Length: 2000000\r\n\r\n");
  EXPECT_EQ(parseReply(big.readAnswer()).status, 413);
}

TEST_P(ServiceLimitsTest, GuessingOneAccountIsThrottledFromOneAddressAndFromMany) {
  startServer();
  ASSERT_EQ(submit("ada@example.com", "password1", "create").status, 303);
  ASSERT_EQ(submit("bob@example.com", "password1", "create").status, 303);

  // Thirty wrong passwords from one address: five ordinary refusals, then pauses.
  int refused = 0;
  int throttled = 0;
  for (int i = 0; i < 30; ++i) {
    const auto reply = submit("ada@example.com", "wrong" + std::to_string(i));
    if (i < 5) {
      EXPECT_EQ(reply.status, 401) << i;
    }
    refused += reply.status == 401 ? 1 : 0;
    if (reply.status == 429) {
      ++throttled;
      EXPECT_GE(std::stoi(reply.header("retry-after")), 1);
      EXPECT_NE(reply.body.find("Too many sign-in attempts"), std::string::npos);
      EXPECT_NE(reply.body.find("Try again in"), std::string::npos);
    }
  }
  EXPECT_EQ(refused, 5);
  EXPECT_EQ(throttled, 25);
  // The right password does not get through while the pause lasts, from anywhere.
  EXPECT_EQ(submit("ada@example.com", "password1").status, 429);
  EXPECT_EQ(submit("ada@example.com", "password1", "signin", "127.0.0.3").status, 429);
  // Another account from the same address is not paused by ada's failures.
  EXPECT_EQ(submit("bob@example.com", "password1").status, 303);

  // The pause grows with each failure after it: one more wrong one after the first pause
  // makes the next one twice as long.
  const auto firstWait = std::stoi(submit("ada@example.com", "x").header("retry-after"));
  now_ += firstWait;
  EXPECT_EQ(submit("ada@example.com", "wrong again").status, 401);
  const auto secondWait = std::stoi(submit("ada@example.com", "x").header("retry-after"));
  EXPECT_GE(secondWait, 2 * firstWait - 1);

  // After the window the right password works, and success clears the count.
  now_ += limits_.signInWindow + 1;
  EXPECT_EQ(submit("ada@example.com", "password1").status, 303);
  EXPECT_EQ(submit("ada@example.com", "wrong").status, 401);

  // Thirty guesses spread over six addresses are counted for the one account all the same.
  now_ += limits_.signInWindow + 1;
  int spreadRefused = 0;
  for (int i = 0; i < 30; ++i) {
    const std::string source = "127.0.0." + std::to_string(2 + i % 6);
    const auto reply = submit("ada@example.com", "guess" + std::to_string(i), "signin", source);
    spreadRefused += reply.status == 401 ? 1 : 0;
    EXPECT_TRUE(reply.status == 401 || reply.status == 429) << reply.status;
  }
  EXPECT_EQ(spreadRefused, 5);
  EXPECT_EQ(submit("ada@example.com", "password1", "signin", "127.0.0.7").status, 429);
  EXPECT_GE(service_->metrics().throttled("signin"), 25);
}

TEST_P(ServiceLimitsTest, OneAddressGuessingManyAccountsAndMakingManyIsStopped) {
  limits_.signInFailuresPerAddress = 8;
  startServer();
  int refused = 0;
  for (int i = 0; i < 12; ++i) {
    const auto reply =
        submit("user" + std::to_string(i) + "@example.com", "guess", "signin", "127.0.0.4");
    refused += reply.status == 401 ? 1 : 0;
  }
  EXPECT_EQ(refused, 8);
  EXPECT_EQ(submit("fresh@example.com", "guess", "signin", "127.0.0.4").status, 429);
  EXPECT_EQ(submit("fresh@example.com", "guess", "signin", "127.0.0.5").status, 401);

  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(submit("new" + std::to_string(i) + "@example.com", "password1", "create", "127.0.0.6")
                  .status,
              303);
  }
  const auto tooMany = submit("new9@example.com", "password1", "create", "127.0.0.6");
  EXPECT_EQ(tooMany.status, 429);
  EXPECT_NE(tooMany.body.find("Too many accounts"), std::string::npos);
  now_ += limits_.accountWindow + 1;
  EXPECT_EQ(submit("new9@example.com", "password1", "create", "127.0.0.6").status, 303);
}

TEST_P(ServiceLimitsTest, UploadsHaveQuotasPerInstallationAndOldAnonymousReportsGoFirst) {
  startServer();
  const auto crash = [](const std::string& install, std::size_t padding = 0) {
    return json::dump(
        Json{{"installID", install}, {"callStack", "frame\n" + std::string(padding, 'x')}});
  };
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(request("POST", "/api/crash", crash("INST-A")).status, 200);
  }
  const auto refused = request("POST", "/api/crash", crash("INST-A"));
  EXPECT_EQ(refused.status, 429);
  EXPECT_GE(std::stoi(refused.header("retry-after")), 1);
  EXPECT_NE(refused.json().value("error", "").find("installation"), std::string::npos);
  // Per kind and per installation: another kind, another installation still go through.
  EXPECT_EQ(request("POST", "/api/testlog", R"({"installID":"INST-A","log":"x"})").status, 200);
  EXPECT_EQ(request("POST", "/api/crash", crash("INST-B")).status, 200);
  // The byte budget: one big report within it, the next one over it.
  EXPECT_EQ(request("POST", "/api/crash", crash("INST-C", 3000)).status, 200);
  EXPECT_EQ(request("POST", "/api/crash", crash("INST-C", 2000)).status, 429);

  std::ostringstream usage;
  std::ostringstream err;
  EXPECT_EQ(runAdmin(*store_, "usage", usage, err, now_.load()), 0);
  EXPECT_NE(usage.str().find("upload:crash:install\tINST-A\t3\t"), std::string::npos)
      << usage.str();

  // An hour on, the installation may send again.
  now_ += limits_.uploadWindow + 1;
  EXPECT_EQ(request("POST", "/api/crash", crash("INST-A")).status, 200);
  // Anonymous reports are capped; the newest stay.
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(request("POST", "/api/crash", crash("INST-N" + std::to_string(i))).status, 200);
  }
  const auto reports = store_->reports().value();
  ASSERT_EQ(reports.size(), 6u);
  EXPECT_NE(reports.back().body.find("INST-N4"), std::string::npos);
  EXPECT_NE(reports.front().body.find("INST-"), std::string::npos);
  EXPECT_EQ(reports.front().body.find("INST-B"), std::string::npos);
}

TEST_P(ServiceLimitsTest, TokensUnusedForNinetyDaysStopWorkingAndDevicesCanBeSignedOut) {
  startServer();
  const Seconds start = now_;
  const auto laptop = tokenFor("ada@example.com", "LAPTOP");
  now_ += 10;
  const auto desktop = tokenFor("ada@example.com", "DESKTOP");
  ASSERT_FALSE(laptop.empty());
  ASSERT_FALSE(desktop.empty());

  const auto listed = request("GET", "/api/app/devices", "", bearer(laptop));
  ASSERT_EQ(listed.status, 200) << listed.body;
  const auto devices = listed.json()["devices"];
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0]["deviceId"], "LAPTOP");
  EXPECT_EQ(devices[1]["deviceId"], "DESKTOP");
  EXPECT_EQ(devices[0]["createdAt"], start);
  EXPECT_EQ(devices[1]["createdAt"], start + 10);
  EXPECT_EQ(listed.body.find(laptop), std::string::npos);

  // Used on day 89, the laptop's token lives on; the desktop's, unused, ends at day 90.
  now_ += 89 * kDay;
  EXPECT_EQ(request("GET", "/api/me", "", bearer(laptop)).status, 200);
  now_ += kDay;
  EXPECT_EQ(request("GET", "/api/me", "", bearer(desktop)).status, 401);
  EXPECT_EQ(request("GET", "/api/me", "", bearer(laptop)).status, 200);
  const auto after = request("GET", "/api/app/devices", "", bearer(laptop)).json()["devices"];
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0]["lastUsedAt"], now_.load());

  const auto desktop2 = tokenFor("ada@example.com", "DESKTOP");
  EXPECT_EQ(request("DELETE", "/api/app/devices/DESKTOP", "", bearer(laptop)).status, 200);
  EXPECT_EQ(request("GET", "/api/me", "", bearer(desktop2)).status, 401);
  EXPECT_EQ(request("DELETE", "/api/app/devices/DESKTOP", "", bearer(laptop)).status, 404);
  EXPECT_EQ(request("DELETE", "/api/app/devices/LAPTOP", "", bearer("nope")).status, 401);
  // Nobody signs out another account's device.
  const auto bob = tokenFor("bob@example.com", "BOBS");
  EXPECT_EQ(request("DELETE", "/api/app/devices/LAPTOP", "", bearer(bob)).status, 404);
  EXPECT_EQ(request("GET", "/api/me", "", bearer(laptop)).status, 200);
}

TEST_P(ServiceLimitsTest, TheAccessLogHoldsNoSecretsAndMetricsCountWhatHappened) {
  startServer();
  const std::string email = "secret.person@example.com";
  const std::string password = "Pa55-very-secret";
  const auto created = submit(email, password, "create");
  ASSERT_EQ(created.status, 303);
  const auto code = codeOf(created);
  const auto exchanged = request(
      "POST", "/api/app/token",
      json::dump(Json{{"code", code}, {"verifier", kVerifier}, {"deviceId", "DEV-SECRET"}}));
  const auto token = exchanged.json().value("token", "");
  ASSERT_FALSE(token.empty());
  EXPECT_EQ(request("PUT", "/api/sync/lumarin",
                    R"({"blob":"{\"k\":\"blob-secret\"}","baseVersion":0})", bearer(token))
                .status,
            200);
  EXPECT_EQ(request("GET", "/app/connect?app=lumarin&challenge=" + std::string(kChallenge) +
                               "&state=state-secret")
                .status,
            200);
  EXPECT_EQ(request("DELETE", "/api/app/devices/DEV-SECRET", "", bearer(token)).status, 200);
  EXPECT_EQ(request("GET", "/healthz").status, 200);

  const auto lines = accessLog();
  ASSERT_GE(lines.size(), 6u);
  for (const auto& line : lines) {
    for (const std::string& secret :
         {email, std::string("secret.person"), password, code, token, std::string(kVerifier),
          std::string(kChallenge), std::string("state-secret"), std::string("blob-secret"),
          std::string("DEV-SECRET")}) {
      EXPECT_EQ(line.find(secret), std::string::npos) << line;
    }
    auto parsed = json::parse(line);
    ASSERT_TRUE(parsed.ok()) << line;
    EXPECT_TRUE(parsed->contains("time") && parsed->contains("route") &&
                parsed->contains("status") && parsed->contains("durationMs"));
    EXPECT_EQ(parsed->value("client", ""), "127.0.0.1");
  }
  EXPECT_NE(lines.back().find("\"route\":\"/healthz\""), std::string::npos);

  const auto metrics = request("GET", "/metrics");
  EXPECT_EQ(metrics.status, 200);
  EXPECT_NE(
      metrics.body.find("lumarin_requests_total{route=\"/api/app/devices/{id}\",status=\"200\"} 1"),
      std::string::npos)
      << metrics.body;
  EXPECT_NE(metrics.body.find("lumarin_request_duration_seconds_bucket{route=\"/healthz\""),
            std::string::npos);
  EXPECT_NE(metrics.body.find("lumarin_open_connections "), std::string::npos);
  EXPECT_EQ(metrics.body.find(token), std::string::npos);
}

TEST_P(ServiceLimitsTest, OnlyTheTrustedProxyNamesTheClientAddress) {
  serverOptions_.trustedProxy = "127.0.0.1";
  startServer();
  EXPECT_EQ(request("GET", "/healthz", "", "X-Forwarded-For: 10.0.0.1, 192.0.2.7\r\n").status, 200);
  EXPECT_EQ(request("GET", "/healthz", "", "X-Forwarded-For: 192.0.2.9\r\n", "127.0.0.2").status,
            200);
  EXPECT_EQ(request("GET", "/healthz", "", "X-Forwarded-For: not-an-address\r\n").status, 200);
  const auto lines = accessLog();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(json::parse(lines[0]).value().value("client", ""), "192.0.2.7");
  EXPECT_EQ(json::parse(lines[1]).value().value("client", ""), "127.0.0.2");
  EXPECT_EQ(json::parse(lines[2]).value().value("client", ""), "127.0.0.1");
}

INSTANTIATE_TEST_SUITE_P(Stores, ServiceLimitsTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& store) {
                           return store.param;
                         });

TEST_P(ServiceLimitsTest, ASyncBlobThatIsNotJsonOrTooDeepIsRefusedAndTheStoredOneKept) {
  startServer();
  const auto token = tokenFor("ada@example.com");
  ASSERT_FALSE(token.empty());
  const std::string kept = R"({"monitoredApps":[{"id":"a"}]})";
  ASSERT_EQ(request("PUT", "/api/sync/lumarin",
                    json::dump(Json{{"blob", kept}, {"baseVersion", 0}}), bearer(token))
                .status,
            200);
  // The blob that crashed every device of an account: 300,000 arrays deep, 600 KB.
  const std::size_t depth = 300000;
  const std::string deep =
      "{\"monitoredApps\":" + std::string(depth, '[') + std::string(depth, ']') + "}";
  const auto refused = request("PUT", "/api/sync/lumarin",
                               json::dump(Json{{"blob", deep}, {"baseVersion", 1}}), bearer(token));
  EXPECT_EQ(refused.status, 400);
  EXPECT_NE(refused.json().value("error", "").find("deeper than 64"), std::string::npos)
      << refused.body;
  const auto notJson = request("PUT", "/api/sync/lumarin",
                               R"({"blob":"monitoredApps=a","baseVersion":1})", bearer(token));
  EXPECT_EQ(notJson.status, 400);
  EXPECT_NE(notJson.json().value("error", "").find("must be JSON"), std::string::npos)
      << notJson.body;
  // Nothing was replaced: every device still pulls the last good copy.
  const auto pulled = request("GET", "/api/sync/lumarin", "", bearer(token)).json();
  EXPECT_EQ(pulled.value("version", 0), 1);
  EXPECT_EQ(pulled.value("blob", ""), kept);
}

// Restores the process's file-creation mask when a test ends, however it ends.
class UmaskScope {
 public:
  explicit UmaskScope(mode_t mask) : previous_(::umask(mask)) {}
  ~UmaskScope() { ::umask(previous_); }
  UmaskScope(const UmaskScope&) = delete;
  UmaskScope& operator=(const UmaskScope&) = delete;

 private:
  mode_t previous_;
};

TEST(ServiceSqliteFileTest, TheDatabaseFileIsCreatedForItsOwnerOnly) {
  test::TempDir dir;
  const auto path = (dir / "fresh.db").string();
  {
    // Even a mask that lets everyone read what is created: the mode is not left to it.
    const UmaskScope openMask(0);
    auto store = Store::open(path);
    ASSERT_TRUE(store.ok()) << store.error().message;
    // A write makes the journal files, which must not be readable by others either.
    ASSERT_TRUE(store.value()->createAccount("ada@example.com", "hash", "free", 1).ok());
    for (const auto& file : {path, path + "-wal", path + "-shm"}) {
      struct stat info {};
      ASSERT_EQ(::stat(file.c_str(), &info), 0) << file;
      EXPECT_EQ(info.st_mode & 0777, 0600u) << file;
    }
  }
  // A file its owner has opened up on purpose keeps its mode.
  const auto shared = (dir / "shared.db").string();
  ASSERT_EQ(::close(::open(shared.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0640)), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);
  ASSERT_TRUE(Store::open(shared).ok());
  struct stat info {};
  ASSERT_EQ(::stat(shared.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

}  // namespace
}  // namespace lumarin::service
