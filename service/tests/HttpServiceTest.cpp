// The handlers through a real HTTP server on a loopback port, with a client speaking to it as
// the program and the browser do. Time is the test's: "now" is a number the test moves.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <latch>
#include <mutex>
#include <sstream>
#include <thread>

#include "BrowserForm.h"
#include "PostgresServer.h"
#include "base/Json.h"
#include "service/Admin.h"
#include "service/Crypto.h"
#include "service/HttpServer.h"
#include "service/RequestParsers.h"
#include "service/Service.h"
#include "service/SqliteStore.h"
#include "support/TempDir.h"

namespace lumarin::service {
namespace {

using json::Json;

using signin::kChallenge;
using signin::kVerifier;
using signin::urlEncode;

struct Reply {
  int status = 0;
  std::string body;
  httplib::Headers headers;

  Json json() const {
    auto parsed = json::parse(body);
    return parsed.ok() ? parsed.value() : Json();
  }
  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? "" : it->second;
  }
};

Reply toReply(const httplib::Result& result) {
  if (!result) {
    return Reply{0, "transport error " + httplib::to_string(result.error()), {}};
  }
  return Reply{result->status, result->body, result->headers};
}

class ServiceHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto store = SqliteStore::open(dbPath());
    ASSERT_TRUE(store.ok());
    store_ = std::move(store).value();
    Service::Options options;
    options.now = [this] { return now_.load(); };
    options.passwordIterations = 1000;  // the production work factor would only slow tests
    options.log = [this](std::string_view line) {
      std::lock_guard lock(logMutex_);
      log_.emplace_back(line);
    };
    service_ = std::make_unique<Service>(*store_, options);
    server_ = std::make_unique<HttpServer>(*service_, HttpServer::Options{});
    auto port = server_->bind("127.0.0.1", 0);
    ASSERT_TRUE(port.ok());
    port_ = port.value();
    server_->start();
  }

  void TearDown() override {
    if (server_) {
      server_->stop();
    }
    std::lock_guard lock(logMutex_);
    EXPECT_TRUE(log_.empty()) << "the service reported a failure of its own: " << log_.front();
  }

  std::string dbPath() const { return (dir_ / "service.db").string(); }

  Reply get(const std::string& path, const std::string& token = "") {
    httplib::Client client("127.0.0.1", port_);
    httplib::Headers headers;
    if (!token.empty()) {
      headers.emplace("Authorization", "Bearer " + token);
    }
    return toReply(client.Get(path.c_str(), headers));
  }

  Reply send(const std::string& method, const std::string& path, const std::string& body,
             const std::string& token = "", const std::string& contentType = "application/json") {
    httplib::Client client("127.0.0.1", port_);
    httplib::Headers headers;
    if (!token.empty()) {
      headers.emplace("Authorization", "Bearer " + token);
    }
    if (method == "POST") {
      return toReply(client.Post(path.c_str(), headers, body, contentType.c_str()));
    }
    if (method == "PUT") {
      return toReply(client.Put(path.c_str(), headers, body, contentType.c_str()));
    }
    if (method == "DELETE") {
      return toReply(client.Delete(path.c_str(), headers, body, contentType.c_str()));
    }
    return toReply(client.Patch(path.c_str(), headers, body, contentType.c_str()));
  }

  static std::string form(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string out;
    for (const auto& [name, value] : fields) {
      out += (out.empty() ? "" : "&") + name + "=" + urlEncode(value);
    }
    return out;
  }

  // Posts the page's form as a browser would.
  Reply submit(const std::string& email, const std::string& password, const std::string& action,
               std::string_view challenge = kChallenge, const std::string& state = "st4te") {
    return send("POST", "/app/connect",
                form({{"app", "lumarin"},
                      {"challenge", std::string(challenge)},
                      {"state", state},
                      {"email", email},
                      {"password", password},
                      {"action", action}}),
                "", "application/x-www-form-urlencoded");
  }

  // The query items of a "lumarin://auth?..." redirect.
  static std::map<std::string, std::string> callbackItems(const Reply& reply) {
    std::map<std::string, std::string> items;
    const auto location = reply.header("Location");
    const std::string prefix = "lumarin://auth?";
    if (!location.starts_with(prefix)) {
      return items;
    }
    auto pairs = parseUrlEncoded(location.substr(prefix.size()));
    if (pairs.ok()) {
      for (const auto& [k, v] : pairs.value()) {
        items.emplace(k, v);
      }
    }
    return items;
  }

  Reply exchange(const std::string& code, std::string_view verifier = kVerifier) {
    return send("POST", "/api/app/token",
                json::dump(Json{{"code", code}, {"verifier", verifier}, {"deviceId", "DEV-1"}}));
  }

  // A signed-in program's token for a new account.
  std::string tokenFor(const std::string& email) {
    const auto redirect = submit(email, "password1", "create");
    const auto token = exchange(callbackItems(redirect)["code"]).json();
    return token.value("token", "");
  }

  test::TempDir dir_;
  std::atomic<Seconds> now_{1'800'000'000};
  std::unique_ptr<SqliteStore> store_;
  std::unique_ptr<Service> service_;
  std::unique_ptr<HttpServer> server_;
  int port_ = 0;
  std::mutex logMutex_;
  std::vector<std::string> log_;
};

TEST_F(ServiceHttpTest, BrowserSignInThroughTheProgramsSyncAndSignOut) {
  const std::string query =
      "/app/connect?app=lumarin&challenge=" + std::string(kChallenge) + "&state=Zx9_state-1";
  const auto page = get(query);
  ASSERT_EQ(page.status, 200);
  EXPECT_EQ(page.header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page.body.find(R"(<form method="post" action="connect">)"), std::string::npos);
  EXPECT_NE(page.body.find(R"(name="challenge" value=")" + std::string(kChallenge) + "\""),
            std::string::npos);
  EXPECT_NE(page.body.find(R"(name="state" value="Zx9_state-1")"), std::string::npos);

  // First visit: create the account from the page, which returns to the program.
  const auto created = submit("Ada@Example.com", "password1", "create", kChallenge, "Zx9_state-1");
  ASSERT_EQ(created.status, 303) << created.body;
  auto items = callbackItems(created);
  EXPECT_EQ(items["state"], "Zx9_state-1");
  ASSERT_EQ(items["code"].size(), 43u);

  const auto token = exchange(items["code"]);
  ASSERT_EQ(token.status, 200) << token.body;
  const auto answer = token.json();
  const std::string bearer = answer.value("token", "");
  EXPECT_EQ(bearer.size(), 43u);
  EXPECT_EQ(answer.value("email", ""), "ada@example.com");
  EXPECT_EQ(answer.value("tier", ""), "free");

  const auto me = get("/api/me", bearer);
  ASSERT_EQ(me.status, 200);
  EXPECT_EQ(me.json(), (Json{{"email", "ada@example.com"}, {"tier", "free"}}));

  // An empty server answers version 0 without a blob; the first push has base 0.
  EXPECT_EQ(get("/api/sync/lumarin", bearer).json(), (Json{{"version", 0}}));
  const std::string blob = R"({"defaultStyle":{"color":"red"},"monitoredApps":[]})";
  const auto put =
      send("PUT", "/api/sync/lumarin",
           json::dump(Json{{"blob", blob}, {"baseVersion", 0}, {"deviceId", "D"}}), bearer);
  ASSERT_EQ(put.status, 200) << put.body;
  EXPECT_EQ(put.json(), (Json{{"version", 1}}));
  EXPECT_EQ(get("/api/sync/lumarin", bearer).json(), (Json{{"version", 1}, {"blob", blob}}));

  // A second visit signs in to the same account, with the address typed differently.
  const auto again = submit("  ADA@example.COM", "password1", "signin");
  ASSERT_EQ(again.status, 303);
  const auto second = exchange(callbackItems(again)["code"]).json().value("token", "");
  EXPECT_EQ(get("/api/sync/lumarin", second).json().value("version", -1), 1);

  EXPECT_EQ(send("POST", "/api/app/logout", "{}", bearer).status, 200);
  EXPECT_EQ(get("/api/me", bearer).status, 401);
  EXPECT_EQ(send("POST", "/api/app/logout", "{}", bearer).status, 401);
  EXPECT_EQ(get("/api/me", second).status, 200);  // only the one device signed out
}

TEST_F(ServiceHttpTest, SignInFailuresStayOnThePageWithoutTellingWhichPartWasWrong) {
  ASSERT_EQ(submit("ada@example.com", "password1", "create").status, 303);

  const auto wrongPassword = submit("ada@example.com", "password2", "signin");
  const auto unknownAddress = submit("bob@example.com", "password1", "signin");
  EXPECT_EQ(wrongPassword.status, 401);
  EXPECT_EQ(unknownAddress.status, 401);
  const std::string message = "The e-mail address or the password is not right.";
  EXPECT_NE(wrongPassword.body.find(message), std::string::npos);
  EXPECT_NE(unknownAddress.body.find(message), std::string::npos);
  EXPECT_TRUE(wrongPassword.header("Location").empty());
  // The page comes back with the address filled in and the program's values kept.
  EXPECT_NE(wrongPassword.body.find(R"(value="ada@example.com")"), std::string::npos);
  EXPECT_NE(wrongPassword.body.find(std::string(kChallenge)), std::string::npos);

  // Creating an account that exists says nothing about it: with its password it signs in, with
  // another it fails as a sign-in does, on the same page.
  EXPECT_EQ(submit("ada@example.com", "password1", "create").status, 303);
  const auto taken = submit("ada@example.com", "password9", "create");
  EXPECT_EQ(taken.status, 401);
  EXPECT_NE(taken.body.find(message), std::string::npos);
  EXPECT_EQ(taken.body.find("exists"), std::string::npos);
  EXPECT_EQ(submit("carol@example.com", "short", "create").status, 400);
  // Seven characters are one too few; eight are enough.
  EXPECT_EQ(submit("carol@example.com", "1234567", "create").status, 400);
  EXPECT_EQ(submit("erin@example.com", "12345678", "create").status, 303);
  EXPECT_EQ(submit("not-an-address", "password1", "create").status, 400);
  EXPECT_EQ(submit("dan@example.com", "password1", "create", "tooShortChallenge").status, 400);
  EXPECT_EQ(submit("dan@example.com", "password1", "create", kChallenge, "").status, 400);
}

TEST_F(ServiceHttpTest, LinksWithoutAChallengeOrForAnotherAppAreRefused) {
  EXPECT_EQ(get("/app/connect?app=lumarin&state=s").status, 400);
  EXPECT_EQ(get("/app/connect?app=other&challenge=" + std::string(kChallenge) + "&state=s").status,
            400);
  EXPECT_EQ(get("/app/connect?app=lumarin&challenge=" + std::string(kChallenge)).status, 400);
  EXPECT_EQ(get("/app/connect").status, 400);
}

TEST_F(ServiceHttpTest, EverythingFromTheUrlIsEscapedOnThePageAndTheStateReturnsIntact) {
  const std::string state = R"(x"><script>alert(1)</script>&'y)";
  const auto page = get("/app/connect?app=lumarin&challenge=" + std::string(kChallenge) +
                        "&state=" + urlEncode(state));
  ASSERT_EQ(page.status, 200);
  EXPECT_EQ(page.body.find("<script>"), std::string::npos);
  EXPECT_NE(page.body.find("x&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;&amp;&#39;y"),
            std::string::npos);

  const auto failed = submit("<b>@x.y", "wrong-password", "signin", kChallenge, state);
  EXPECT_EQ(failed.body.find("<b>"), std::string::npos);

  // Straight to the handlers: the HTTP client would hand us the Location already decoded.
  const auto redirect = service_->handle(HttpRequest{"POST",
                                                     "/app/connect",
                                                     {},
                                                     "",
                                                     form({{"app", "lumarin"},
                                                           {"challenge", std::string(kChallenge)},
                                                           {"state", state},
                                                           {"email", "eve@example.com"},
                                                           {"password", "password1"},
                                                           {"action", "create"}}),
                                                     {},
                                                     {}});
  ASSERT_EQ(redirect.status, 303);
  std::string location;
  for (const auto& [name, value] : redirect.headers) {
    if (name == "Location") {
      location = value;
    }
  }
  EXPECT_EQ(location.find_first_of("<>\"'& ", location.find("state=")), std::string::npos)
      << location;
  Reply reply{303, "", {{"Location", location}}};
  EXPECT_EQ(callbackItems(reply)["state"], state);
}

TEST_F(ServiceHttpTest, CodesWorkOnceWithTheirOwnVerifierAndExpireAfterTenMinutes) {
  ASSERT_EQ(submit("ada@example.com", "password1", "create").status, 303);
  auto codeNow = [&] {
    return callbackItems(submit("ada@example.com", "password1", "signin"))["code"];
  };

  // Used once.
  const auto once = codeNow();
  EXPECT_EQ(exchange(once).status, 200);
  const auto reused = exchange(once);
  EXPECT_EQ(reused.status, 400);
  EXPECT_NE(reused.json().value("error", "").find("invalid_grant"), std::string::npos);

  // A wrong verifier uses the code up too, so it cannot be retried with guesses.
  const auto guessed = codeNow();
  std::string wrong(kVerifier);
  wrong[0] = 'e';
  EXPECT_EQ(exchange(guessed, wrong).status, 400);
  EXPECT_EQ(exchange(guessed).status, 400);

  // Ten minutes: valid at 599 seconds, gone at 600.
  const auto early = codeNow();
  const auto late = codeNow();
  now_ += 599;
  EXPECT_EQ(exchange(early).status, 200);
  now_ += 1;
  EXPECT_EQ(exchange(late).status, 400);

  EXPECT_EQ(exchange("never-issued").status, 400);
}

TEST_F(ServiceHttpTest, OnlyHashesOfTokensAndCodesReachTheDatabase) {
  const auto redirect = submit("ada@example.com", "password1", "create");
  const auto code = callbackItems(redirect)["code"];
  const auto pendingCode = callbackItems(submit("ada@example.com", "password1", "signin"))["code"];
  const auto token = exchange(code).json().value("token", "");
  ASSERT_FALSE(token.empty());
  ASSERT_FALSE(pendingCode.empty());

  // Every byte on disk, including the write-ahead log.
  std::string bytes;
  for (const auto* suffix : {"", "-wal", "-shm"}) {
    bytes += test::readFile(dbPath() + suffix);
  }
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes.find(token), std::string::npos);
  EXPECT_EQ(bytes.find(pendingCode), std::string::npos);
  EXPECT_EQ(bytes.find("password1"), std::string::npos);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(dbPath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT token_hash FROM tokens", -1, &stmt, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), crypto::sha256Hex(token));
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST_F(ServiceHttpTest, ConcurrentPushesOnOneBaseHaveOneWinnerAndTheRestConflict) {
  const auto token = tokenFor("ada@example.com");
  ASSERT_EQ(
      send("PUT", "/api/sync/lumarin", R"({"blob":"[1]","baseVersion":0,"deviceId":"A"})", token)
          .status,
      200);
  constexpr int kClients = 20;
  std::latch ready(kClients);
  std::vector<Reply> replies(kClients);
  std::vector<std::thread> clients;
  clients.reserve(kClients);
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      const auto body = json::dump(
          Json{{"blob", "[" + std::to_string(i) + "]"}, {"baseVersion", 1}, {"deviceId", "D"}});
      ready.arrive_and_wait();
      replies[i] = send("PUT", "/api/sync/lumarin", body, token);
    });
  }
  for (auto& c : clients) {
    c.join();
  }
  int wins = 0;
  std::string winner;
  for (int i = 0; i < kClients; ++i) {
    if (replies[i].status == 200) {
      ++wins;
      winner = "[" + std::to_string(i) + "]";
      EXPECT_EQ(replies[i].json(), (Json{{"version", 2}}));
    } else {
      EXPECT_EQ(replies[i].status, 409) << replies[i].body;
      EXPECT_EQ(replies[i].json().value("version", -1), 2);
      EXPECT_FALSE(replies[i].json().value("error", "").empty());
    }
  }
  EXPECT_EQ(wins, 1);
  EXPECT_EQ(get("/api/sync/lumarin", token).json(), (Json{{"version", 2}, {"blob", winner}}));

  // The stale base stays stale; the program recovers by pulling and pushing on version 2.
  EXPECT_EQ(send("PUT", "/api/sync/lumarin", R"({"blob":"{}","baseVersion":1})", token).status,
            409);
  EXPECT_EQ(send("PUT", "/api/sync/lumarin", R"({"blob":"{}","baseVersion":2})", token).status,
            200);
}

TEST_F(ServiceHttpTest, AccountPathsNeedAValidBearerToken) {
  const auto token = tokenFor("ada@example.com");
  for (const std::string& bad : {std::string(), std::string("nonsense"), token + "x"}) {
    const auto me = get("/api/me", bad);
    EXPECT_EQ(me.status, 401);
    EXPECT_EQ(me.header("WWW-Authenticate"), "Bearer");
    EXPECT_EQ(get("/api/sync/lumarin", bad).status, 401);
    // Authorisation is checked before the body: a stranger learns nothing from 400s.
    EXPECT_EQ(send("PUT", "/api/sync/lumarin", "not json", bad).status, 401);
  }
  httplib::Client client("127.0.0.1", port_);
  EXPECT_EQ(client.Get("/api/me", {{"Authorization", "Basic " + token}})->status, 401);
  EXPECT_EQ(client.Get("/api/me", {{"Authorization", "bearer " + token}})->status, 200);
}

TEST_F(ServiceHttpTest, BadRequestsGetClearJsonErrorsAndNeverAServerError) {
  const auto token = tokenFor("ada@example.com");
  struct Case {
    std::string method;
    std::string path;
    std::string body;
    int status;
  };
  const std::vector<Case> cases = {
      {"GET", "/nowhere", "", 404},
      {"GET", "/api", "", 404},
      {"GET", "/api/sync/lumarin/", "", 404},
      {"POST", "/api/me", "{}", 405},
      {"GET", "/api/app/token", "", 405},
      {"DELETE", "/api/sync/lumarin", "", 405},
      {"PATCH", "/app/connect", "", 405},
      {"POST", "/api/crash", "{", 400},
      {"POST", "/api/crash", "[]", 400},
      {"POST", "/api/improve", R"({"events":"no"})", 400},
      {"POST", "/api/testlog", "\xff\xfe", 400},
      {"POST", "/api/app/token", R"({"code":"c"})", 400},
      {"POST", "/api/app/logout", "{oops", 400},
      {"PUT", "/api/sync/lumarin", R"({"blob":"{}","baseVersion":"1"})", 400},
      {"PUT", "/api/sync/lumarin", R"({"blob":"{}","baseVersion":-3})", 400},
      // The blob is the program's settings JSON: other text, or JSON nested too deep, is not.
      {"PUT", "/api/sync/lumarin", R"({"blob":"not json","baseVersion":0})", 400},
      {"PUT", "/api/sync/lumarin", R"({"blob":"{\"a\":","baseVersion":0})", 400},
      {"PUT", "/api/sync/lumarin",
       json::dump(Json{{"blob", std::string(65, '[') + std::string(65, ']')}, {"baseVersion", 0}}),
       400},
      {"PUT", "/api/sync/lumarin", R"({"blob":"x\u0000","baseVersion":0})", 400},
  };
  for (const auto& c : cases) {
    const auto reply =
        c.method == "GET" ? get(c.path, token) : send(c.method, c.path, c.body, token);
    EXPECT_EQ(reply.status, c.status) << c.method << " " << c.path << " " << c.body;
    EXPECT_EQ(reply.header("Content-Type"), "application/json") << c.path;
    EXPECT_FALSE(reply.json().value("error", "").empty()) << c.path << ": " << reply.body;
  }
  EXPECT_EQ(get("/api/app/token").header("Allow"), "POST");
  EXPECT_EQ(send("DELETE", "/api/sync/lumarin", "").header("Allow"), "GET, PUT");
}

TEST_F(ServiceHttpTest, BodiesUpToOneMegabyteAreTakenAndLargerOnesGet413) {
  const std::string head = R"({"type":"testlog","log":")";
  const std::string tail = R"("})";
  const std::string exact =
      head + std::string(Service::kMaxBodyBytes - head.size() - tail.size(), 'x') + tail;
  ASSERT_EQ(exact.size(), Service::kMaxBodyBytes);
  EXPECT_EQ(send("POST", "/api/testlog", exact).status, 200);

  const std::string over =
      head + std::string(Service::kMaxBodyBytes - head.size() - tail.size() + 1, 'x') + tail;
  const auto tooLarge = send("POST", "/api/testlog", over);
  EXPECT_EQ(tooLarge.status, 413);
  EXPECT_FALSE(tooLarge.json().value("error", "").empty());

  // The handlers hold the same line when driven without the HTTP server's own check.
  HttpRequest direct{"POST", "/api/crash", {}, "", over, {}, {}};
  EXPECT_EQ(service_->handle(direct).status, 413);
  auto reports = store_->reports().value();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].body.size(), Service::kMaxBodyBytes);
}

TEST_F(ServiceHttpTest, ReportsAreStoredAndListedWithTheAccountOfAValidToken) {
  const auto token = tokenFor("ada@example.com");
  EXPECT_EQ(
      send("POST", "/api/improve", R"({"installID":"INST-1","events":[{"n":"app.env"}]})", token)
          .status,
      200);
  // A stale token does not make the program drop its batch: stored without an account.
  EXPECT_EQ(send("POST", "/api/improve", R"({"installID":"INST-2","events":[]})", "stale").status,
            200);
  EXPECT_EQ(
      send("POST", "/api/crash", R"({"type":"crash","installID":"INST-1","signal":11})").status,
      200);
  EXPECT_EQ(send("POST", "/api/testlog", R"({"type":"testlog","log":"line 1\nline 2"})").status,
            200);

  auto reports = store_->reports().value();
  ASSERT_EQ(reports.size(), 4u);
  EXPECT_EQ(reports[0].kind, "improve");
  EXPECT_TRUE(reports[0].accountId.has_value());
  EXPECT_FALSE(reports[1].accountId.has_value());
  EXPECT_EQ(reports[2].kind, "crash");
  EXPECT_EQ(reports[3].kind, "testlog");
  EXPECT_EQ(json::parse(reports[3].body).value().value("log", ""), "line 1\nline 2");

  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(runAdmin(*store_, "reports", out, err), 0);
  const auto listing = out.str();
  EXPECT_NE(listing.find("4 report(s)"), std::string::npos);
  EXPECT_NE(listing.find("INST-1"), std::string::npos);
  // One row per report: the log's line break does not split it.
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 6);

  std::ostringstream accounts;
  EXPECT_EQ(runAdmin(*store_, "accounts", accounts, err), 0);
  EXPECT_NE(accounts.str().find("ada@example.com"), std::string::npos);
  EXPECT_EQ(accounts.str().find("pbkdf2"), std::string::npos);
  std::ostringstream unknown;
  EXPECT_EQ(runAdmin(*store_, "passwords", out, unknown), 2);
}

// A self-signed certificate made on the spot, so HTTPS is tested without files in the repo.
void writeSelfSigned(const std::string& certPath, const std::string& keyPath) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509_sign(cert, key, EVP_sha256());
  FILE* certFile = std::fopen(certPath.c_str(), "w");
  PEM_write_X509(certFile, cert);
  std::fclose(certFile);
  FILE* keyFile = std::fopen(keyPath.c_str(), "w");
  PEM_write_PrivateKey(keyFile, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(keyFile);
  X509_free(cert);
  EVP_PKEY_free(key);
}

TEST_F(ServiceHttpTest, ServesHttpsWithTheGivenCertificate) {
  const auto cert = (dir_ / "cert.pem").string();
  const auto key = (dir_ / "key.pem").string();
  writeSelfSigned(cert, key);
  HttpServer::Options options;
  options.threads = 4;
  options.tlsCertificate = cert;
  options.tlsKey = key;
  HttpServer tls(*service_, options);
  auto port = tls.bind("127.0.0.1", 0);
  ASSERT_TRUE(port.ok()) << port.error().message;
  tls.start();

  httplib::SSLClient client("127.0.0.1", port.value());
  client.set_ca_cert_path(cert.c_str());
  client.enable_server_certificate_verification(false);
  auto reply = client.Get("/api/me");
  ASSERT_TRUE(reply) << httplib::to_string(reply.error());
  EXPECT_EQ(reply->status, 401);
  tls.stop();

  options.tlsCertificate = key;
  options.tlsKey = cert;
  HttpServer broken(*service_, options);
  EXPECT_FALSE(broken.bind("127.0.0.1", 0).ok());
}

// The same service on PostgreSQL, as several processes would run it: the flow from sign-in to
// a contested push, through HTTP, on a database opened by its URI.
TEST(ServiceHttpPostgresTest, SignInAndContestedPushesOnASharedDatabase) {
  std::string whyNot;
  auto* postgres = test::PostgresServer::shared(whyNot);
  if (postgres == nullptr) {
    if (whyNot.starts_with("PostgreSQL server programs")) {
      GTEST_SKIP() << whyNot;
    }
    FAIL() << whyNot;
  }
  const auto uri = postgres->freshDatabaseUri();
  ASSERT_TRUE(uri.starts_with("postgresql://"));
  auto first = Store::open(uri);
  auto second = Store::open(uri);
  ASSERT_TRUE(first.ok()) << first.error().message;
  ASSERT_TRUE(second.ok()) << second.error().message;
  Service::Options options;
  options.passwordIterations = 1000;
  // Two service processes on one database, each with its own server.
  Service serviceA(*first.value(), options);
  Service serviceB(*second.value(), options);
  HttpServer serverA(serviceA, HttpServer::Options{});
  HttpServer serverB(serviceB, HttpServer::Options{});
  const int portA = serverA.bind("127.0.0.1", 0).valueOr(0);
  const int portB = serverB.bind("127.0.0.1", 0).valueOr(0);
  ASSERT_TRUE(portA > 0 && portB > 0);
  serverA.start();
  serverB.start();

  httplib::Client browser("127.0.0.1", portA);
  const auto redirect =
      browser.Post("/app/connect",
                   "app=lumarin&challenge=" + std::string(kChallenge) +
                       "&state=s&email=pg%40example.com&password=password1&action=create",
                   "application/x-www-form-urlencoded");
  ASSERT_TRUE(redirect);
  ASSERT_EQ(redirect->status, 303);
  const auto location = redirect->get_header_value("Location");
  const auto code = location.substr(location.find("code=") + 5, 43);
  // The code issued by one process is exchanged at the other.
  httplib::Client program("127.0.0.1", portB);
  const auto exchanged =
      program.Post("/api/app/token",
                   json::dump(Json{{"code", code}, {"verifier", kVerifier}, {"deviceId", "D"}}),
                   "application/json");
  ASSERT_TRUE(exchanged);
  ASSERT_EQ(exchanged->status, 200) << exchanged->body;
  const auto token = json::parse(exchanged->body).value().value("token", "");

  constexpr int kClients = 10;
  std::latch ready(kClients);
  std::atomic<int> wins{0};
  std::atomic<int> conflicts{0};
  std::vector<std::thread> clients;
  clients.reserve(kClients);
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      httplib::Client client("127.0.0.1", i % 2 == 0 ? portA : portB);
      const auto body = json::dump(Json{{"blob", std::to_string(i)}, {"baseVersion", 0}});
      ready.arrive_and_wait();
      auto put = client.Put("/api/sync/lumarin", {{"Authorization", "Bearer " + token}}, body,
                            "application/json");
      if (put && put->status == 200) {
        ++wins;
      } else if (put && put->status == 409) {
        ++conflicts;
      }
    });
  }
  for (auto& c : clients) {
    c.join();
  }
  EXPECT_EQ(wins.load(), 1);
  EXPECT_EQ(conflicts.load(), kClients - 1);
  serverA.stop();
  serverB.stop();
}

// A database that fails every call, as one does when its disk is full or its server is gone.
class BrokenStore : public Store {
 public:
  static Error broken() { return Error{"database is gone"}; }
  Result<std::int64_t> createAccount(std::string_view, std::string_view, std::string_view,
                                     Seconds) override {
    return broken();
  }
  Result<std::optional<Account>> accountByEmail(std::string_view) override { return broken(); }
  Status saveCode(std::string_view, const AuthCode&) override { return broken(); }
  Result<std::optional<AuthCode>> takeCode(std::string_view) override { return broken(); }
  Result<int> purgeExpiredCodes(Seconds) override { return broken(); }
  Status saveToken(std::string_view, std::int64_t, std::string_view, Seconds) override {
    return broken();
  }
  Result<std::optional<Account>> accountForToken(std::string_view, Seconds, Seconds) override {
    return broken();
  }
  Result<bool> revokeToken(std::string_view) override { return broken(); }
  Result<std::vector<Device>> devices(std::int64_t, Seconds) override { return broken(); }
  Result<int> revokeDevice(std::int64_t, std::string_view) override { return broken(); }
  Result<int> purgeStaleTokens(Seconds) override { return broken(); }
  Status recordEvent(std::string_view, std::string_view, std::int64_t, Seconds) override {
    return broken();
  }
  Result<Usage> usage(std::string_view, std::string_view, Seconds) override { return broken(); }
  Status clearEvents(std::string_view, std::string_view) override { return broken(); }
  Result<int> purgeEvents(Seconds) override { return broken(); }
  Result<std::vector<UsageRow>> usageSince(Seconds) override { return broken(); }
  Status ping() override { return broken(); }
  Result<int> trimAnonymousReports(std::int64_t) override { return broken(); }
  Result<std::optional<SyncBlob>> blob(std::int64_t) override { return broken(); }
  Result<PutOutcome> putBlob(std::int64_t, std::int64_t, std::string_view, std::string_view,
                             Seconds) override {
    return broken();
  }
  Status addReport(const Report&) override { return broken(); }
  Result<std::int64_t> addRelease(const Release&, std::string_view) override { return broken(); }
  Result<std::vector<Release>> releases() override { return broken(); }
  Result<std::optional<std::string>> releaseArchive(std::string_view, std::string_view) override {
    return broken();
  }
  Result<std::vector<Account>> accounts() override { return broken(); }
  Result<std::vector<SyncBlob>> blobs() override { return broken(); }
  Result<std::vector<Report>> reports() override { return broken(); }
};

TEST(ServiceStorageFailureTest, AFailingDatabaseGives503AndALogLineNeverACrash) {
  BrokenStore store;
  std::vector<std::string> log;
  Service::Options options;
  options.now = [] { return Seconds{1'800'000'000}; };
  options.passwordIterations = 1000;
  options.log = [&](std::string_view line) { log.emplace_back(line); };
  Service service(store, options);

  const std::string signIn = "app=lumarin&challenge=" + std::string(kChallenge) +
                             "&state=s&email=a%40b.c&password=password1&action=";
  const std::vector<HttpRequest> requests = {
      {"POST", "/app/connect", {}, "", signIn + "signin", {}, {}},
      {"POST", "/app/connect", {}, "", signIn + "create", {}, {}},
      {"POST", "/api/app/token", {}, "", R"({"code":"c","verifier":"v","deviceId":"d"})", {}, {}},
      {"GET", "/api/me", {}, "Bearer t", "", {}, {}},
      {"POST", "/api/app/logout", {}, "Bearer t", "{}", {}, {}},
      {"GET", "/api/sync/lumarin", {}, "Bearer t", "", {}, {}},
      {"PUT", "/api/sync/lumarin", {}, "Bearer t", R"({"blob":"{}","baseVersion":0})", {}, {}},
      {"POST", "/api/improve", {}, "Bearer t", R"({"events":[]})", {}, {}},
      {"POST", "/api/crash", {}, "", "{}", {}, {}},
  };
  for (const auto& request : requests) {
    const auto response = service.handle(request);
    EXPECT_EQ(response.status, 503) << request.method << " " << request.path;
    if (request.path == "/app/connect") {
      // The browser's answer is a page.
      EXPECT_NE(response.body.find("Sign-in is unavailable"), std::string::npos);
      continue;
    }
    auto body = json::parse(response.body);
    ASSERT_TRUE(body.ok()) << response.body;
    EXPECT_FALSE(body->value("error", "").empty());
  }
  EXPECT_EQ(log.size(), requests.size());
  // The page itself needs no database.
  EXPECT_EQ(
      service
          .handle({"GET",
                   "/app/connect",
                   {{"app", "lumarin"}, {"challenge", std::string(kChallenge)}, {"state", "s"}},
                   "",
                   "",
                   {},
                   {}})
          .status,
      200);

  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(runAdmin(store, "accounts", out, err), 1);
  EXPECT_NE(err.str().find("database is gone"), std::string::npos);
}

// A database whose account lookup, the first step once a hashing slot is held, waits until the
// test lets it go: while it waits, that sign-in holds the slot.
class HeldLookupStore final : public BrokenStore {
 public:
  Result<Usage> usage(std::string_view, std::string_view, Seconds) override { return Usage{}; }
  Status recordEvent(std::string_view, std::string_view, std::int64_t, Seconds) override {
    return success();
  }
  Result<std::optional<Account>> accountByEmail(std::string_view) override {
    std::unique_lock lock(mutex_);
    ++lookups_;
    changed_.notify_all();
    if (!changed_.wait_for(lock, std::chrono::seconds(30), [&] { return released_; })) {
      return Error{"the test never released the lookup"};
    }
    return std::optional<Account>{};
  }
  bool waitForLookups(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return lookups_ >= count; });
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int lookups_ = 0;
  bool released_ = false;
};

TEST(ServiceHashingBoundTest, SignInsPastTheHashesInFlightGet503InsteadOfQueueing) {
  HeldLookupStore store;
  Service::Options options;
  options.now = [] { return Seconds{1'800'000'000}; };
  options.passwordIterations = 1000;
  options.limits.concurrentHashes = 1;
  Service service(store, options);
  const auto signIn = [&](std::string_view email) {
    return service.handle(
        HttpRequest{"POST",
                    "/app/connect",
                    {},
                    "",
                    "app=lumarin&challenge=" + std::string(kChallenge) +
                        "&state=s&password=password1&action=signin&email=" + std::string(email),
                    {},
                    {}});
  };

  HttpResponse first;
  std::thread holder([&] { first = signIn("a%40b.c"); });
  ASSERT_TRUE(store.waitForLookups(1));
  // The one slot is taken: the next attempt is told to come back, without a lookup or a hash.
  const auto busy = signIn("c%40d.e");
  EXPECT_EQ(busy.status, 503);
  const auto retry = std::find_if(busy.headers.begin(), busy.headers.end(),
                                  [](const auto& h) { return h.first == "Retry-After"; });
  ASSERT_NE(retry, busy.headers.end());
  EXPECT_GE(std::stoi(retry->second), 1);
  EXPECT_NE(busy.body.find("try again in a few seconds"), std::string::npos) << busy.body;
  EXPECT_EQ(service.metrics().throttled("hashing"), 1);

  store.release();
  holder.join();
  EXPECT_EQ(first.status, 401);
  // The slot is given back whatever the outcome: the next attempt is checked again.
  EXPECT_EQ(signIn("c%40d.e").status, 401);
  EXPECT_EQ(service.metrics().throttled("hashing"), 1);
}

}  // namespace
}  // namespace lumarin::service
