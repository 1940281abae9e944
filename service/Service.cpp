#include "service/Service.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <iostream>
#include <optional>
#include <thread>

#include "base/Hex.h"
#include "base/Json.h"
#include "service/RequestParsers.h"
#include "service/SignInPage.h"
#include "service/UpdateFeed.h"

namespace lumarin::service {

namespace {

using json::Json;

// The callback URL of each program that may sign in here, by its "app" query item.
constexpr std::string_view kKnownApp = "lumarin";
constexpr std::string_view kCallback = "lumarin://auth";
constexpr std::size_t kMinPassword = 8;

HttpResponse jsonResponse(int status, const Json& body) {
  HttpResponse response;
  response.status = status;
  response.body = json::dump(body);
  return response;
}

HttpResponse errorResponse(int status, std::string_view message) {
  return jsonResponse(status, Json{{"error", std::string(message)}});
}

HttpResponse htmlResponse(int status, std::string body) {
  HttpResponse response;
  response.status = status;
  response.contentType = "text/html; charset=utf-8";
  response.body = std::move(body);
  // The page holds a password field: never cache it, never frame it.
  response.headers.emplace_back("Cache-Control", "no-store");
  response.headers.emplace_back("X-Frame-Options", "DENY");
  response.headers.emplace_back("Content-Security-Policy",
                                "default-src 'none'; style-src 'unsafe-inline'; "
                                "form-action 'self' lumarin:; frame-ancestors 'none'");
  return response;
}

HttpResponse methodNotAllowed(std::string_view allowed) {
  auto response = errorResponse(405, "method not allowed; use " + std::string(allowed));
  response.headers.emplace_back("Allow", std::string(allowed));
  return response;
}

HttpResponse unauthorized() {
  auto response = errorResponse(401, "a valid bearer token is required");
  response.headers.emplace_back("WWW-Authenticate", "Bearer");
  return response;
}

// "in 45 seconds", "in about 3 minutes": how long a throttled client waits, in words.
std::string waitInWords(Seconds seconds) {
  if (seconds < 90) {
    return "in " + std::to_string(std::max<Seconds>(seconds, 1)) + " seconds";
  }
  return "in about " + std::to_string((seconds + 59) / 60) + " minutes";
}

void retryAfter(HttpResponse& response, Seconds seconds) {
  response.headers.emplace_back("Retry-After", std::to_string(std::max<Seconds>(seconds, 1)));
}

// A password hash takes a slot while it runs; when none is free the attempt is answered at
// once instead of queueing CPU work behind others.
class HashSlot {
 public:
  HashSlot(std::atomic<std::size_t>& inFlight, std::size_t limit) : inFlight_(inFlight) {
    auto current = inFlight_.load();
    while (current < limit) {
      if (inFlight_.compare_exchange_weak(current, current + 1)) {
        held_ = true;
        return;
      }
    }
  }
  ~HashSlot() {
    if (held_) {
      inFlight_.fetch_sub(1);
    }
  }
  HashSlot(const HashSlot&) = delete;
  HashSlot& operator=(const HashSlot&) = delete;
  explicit operator bool() const { return held_; }

 private:
  std::atomic<std::size_t>& inFlight_;
  bool held_ = false;
};

constexpr std::string_view kSignInFailuresByAccount = "signin-account";
constexpr std::string_view kSignInFailuresByAddress = "signin-address";
constexpr std::string_view kAccountsByAddress = "create-address";
constexpr Seconds kEventsKept = Seconds{24} * 60 * 60;
constexpr Seconds kHousekeepingInterval = Seconds{10} * 60;

std::optional<std::string> queryItem(const HttpRequest& request, std::string_view name) {
  for (const auto& [key, value] : request.query) {
    if (key == name) {
      return value;
    }
  }
  return std::nullopt;
}

// Why a sign-in link cannot be used, or nothing when it can.
std::optional<std::string> linkProblem(std::string_view app, std::string_view challenge,
                                       std::string_view state) {
  if (app != kKnownApp) {
    return "This sign-in link is not for an application this service knows.";
  }
  if (!crypto::isValidS256Challenge(challenge)) {
    return "This sign-in link has no valid code challenge. Start the sign-in again from "
           "Lumarin's settings.";
  }
  if (!isValidState(state)) {
    return "This sign-in link has no valid state. Start the sign-in again from Lumarin's "
           "settings.";
  }
  return std::nullopt;
}

}  // namespace

struct Service::Caller {
  std::optional<Account> account;
  HttpResponse denied;
};

Service::Service(Store& store, Options options) : store_(store), options_(std::move(options)) {
  if (!options_.log) {
    options_.log = [](std::string_view line) { std::cerr << "lumarin-service: " << line << "\n"; };
  }
  decoyHash_ = crypto::hashPassword("decoy password", options_.passwordIterations);
  hashLimit_ = options_.limits.concurrentHashes != 0
                   ? options_.limits.concurrentHashes
                   : std::max<std::size_t>(1, std::thread::hardware_concurrency() / 2);
}

// The oldest last use a token may have and still work: one unused for the whole lifetime no
// longer does.
Seconds Service::tokenCutoff(Seconds at) const {
  return at - options_.limits.tokenIdleLifetime + 1;
}

Seconds Service::now() const {
  if (options_.now) {
    return options_.now();
  }
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

HttpResponse Service::storageFailure(const Error& error) const {
  metrics_.recordStoreError();
  options_.log(error.message);
  return errorResponse(503, "the service's storage is unavailable; try again later");
}

// The browser gets a page, not JSON, when the database fails during sign-in.
HttpResponse Service::pageStorageFailure(const Error& error) const {
  metrics_.recordStoreError();
  options_.log(error.message);
  return htmlResponse(503, renderNoticePage("Sign-in is unavailable right now",
                                            "The service cannot reach its records. Try again in "
                                            "a few minutes; nothing was changed."));
}

HttpResponse Service::handle(const HttpRequest& request) const {
  try {
    if (request.body.size() > options_.maxBodyBytes) {
      return errorResponse(413, "the request body is larger than " +
                                    std::to_string(options_.maxBodyBytes) + " bytes");
    }
    return route(request);
  } catch (const std::exception& e) {
    // Only a fault of ours gets here (the generator failing, memory running out).
    options_.log(std::string("internal error: ") + e.what());
    return errorResponse(500, "internal error");
  }
}

HttpResponse Service::route(const HttpRequest& request) const {
  const auto& path = request.path;
  // HEAD is GET without the body, which the server drops.
  const std::string method = request.method == "HEAD" ? "GET" : request.method;
  if (path == "/app/connect") {
    if (method == "GET") {
      return connectPage(request);
    }
    if (method == "POST") {
      return connectSubmit(request);
    }
    return methodNotAllowed("GET, POST");
  }
  if (path == "/api/sync/lumarin") {
    if (method == "GET") {
      return syncGet(request);
    }
    if (method == "PUT") {
      return syncPut(request);
    }
    return methodNotAllowed("GET, PUT");
  }
  if (path == kUpdateFeedPath) {
    return method == "GET" ? updateFeed() : methodNotAllowed("GET");
  }
  if (path.starts_with(kUpdateArchivePrefix)) {
    return method == "GET"
               ? updateArchive(std::string_view(path).substr(kUpdateArchivePrefix.size()))
               : methodNotAllowed("GET");
  }
  if (path == "/api/me") {
    return method == "GET" ? me(request) : methodNotAllowed("GET");
  }
  if (path == kDevicesPath) {
    return method == "GET" ? devices(request) : methodNotAllowed("GET");
  }
  if (path.starts_with(std::string(kDevicesPath) + "/")) {
    return method == "DELETE" ? signOutDevice(request) : methodNotAllowed("DELETE");
  }
  if (path == "/healthz") {
    return method == "GET" ? health() : methodNotAllowed("GET");
  }
  if (path == "/metrics") {
    if (method != "GET") {
      return methodNotAllowed("GET");
    }
    HttpResponse response;
    response.contentType = "text/plain; version=0.0.4; charset=utf-8";
    response.body = metrics_.render();
    return response;
  }
  using PostHandler = HttpResponse (Service::*)(const HttpRequest&) const;
  static const std::pair<std::string_view, PostHandler> kPosts[] = {
      {"/api/app/token", &Service::token},
      {"/api/app/logout", &Service::logout},
  };
  for (const auto& [postPath, handler] : kPosts) {
    if (path == postPath) {
      return method == "POST" ? (this->*handler)(request) : methodNotAllowed("POST");
    }
  }
  for (std::string_view kind : {"improve", "crash", "testlog"}) {
    if (path == "/api/" + std::string(kind)) {
      return method == "POST" ? report(kind, request) : methodNotAllowed("POST");
    }
  }
  return errorResponse(404, "no such path: " + path);
}

HttpResponse Service::connectPage(const HttpRequest& request) const {
  SignInPage page;
  page.app = queryItem(request, "app").value_or("");
  page.challenge = queryItem(request, "challenge").value_or("");
  page.state = queryItem(request, "state").value_or("");
  if (auto problem = linkProblem(page.app, page.challenge, page.state)) {
    return htmlResponse(400, renderNoticePage("Sign-in link not valid", *problem));
  }
  return htmlResponse(200, page.render());
}

HttpResponse Service::connectSubmit(const HttpRequest& request) const {
  auto form = parseSignInForm(request.body);
  if (!form) {
    return htmlResponse(400, renderNoticePage("Sign-in failed", form.error().message));
  }
  if (auto problem = linkProblem(form->app, form->challenge, form->state)) {
    return htmlResponse(400, renderNoticePage("Sign-in link not valid", *problem));
  }
  SignInPage again{form->app, form->challenge, form->state, form->email, {}};
  auto retry = [&](int status, std::string message) {
    again.message = std::move(message);
    return htmlResponse(status, again.render());
  };
  const auto email = normaliseEmail(form->email);
  if (!email) {
    return retry(400, "Enter a valid e-mail address.");
  }

  const Seconds at = now();
  housekeeping(at);
  const auto& limits = options_.limits;
  const std::string address = request.clientAddress.empty() ? "-" : request.clientAddress;
  // Failures are counted under a hash of the address, known account or not, so the counts
  // say nothing about which addresses have accounts and hold no address in plain text.
  const std::string accountKey = crypto::sha256Hex(*email);
  auto throttled = [&](Seconds wait, std::string_view reason, std::string message) {
    metrics_.recordThrottled(reason);
    auto response = retry(429, std::move(message));
    retryAfter(response, wait);
    return response;
  };
  {
    auto byAccount =
        signInWait(kSignInFailuresByAccount, accountKey, limits.signInFailuresPerAccount, at);
    auto byAddress =
        signInWait(kSignInFailuresByAddress, address, limits.signInFailuresPerAddress, at);
    if (!byAccount) {
      return pageStorageFailure(byAccount.error());
    }
    if (!byAddress) {
      return pageStorageFailure(byAddress.error());
    }
    const Seconds wait = std::max(byAccount.value(), byAddress.value());
    if (wait > 0) {
      return throttled(wait, "signin",
                       "Too many sign-in attempts have failed, so sign-in is paused for a while "
                       "to keep the account safe. Try again " +
                           waitInWords(wait) + ".");
    }
  }
  const bool creating = form->action == "create";
  if (creating) {
    if (form->password.size() < kMinPassword) {
      return retry(400, "Choose a password of at least 8 characters.");
    }
    auto made = store_.usage(kAccountsByAddress, address, at - limits.accountWindow);
    if (!made) {
      return pageStorageFailure(made.error());
    }
    if (made->count >= limits.accountsPerAddress) {
      const Seconds wait = made->oldest + limits.accountWindow - at;
      return throttled(wait, "create",
                       "Too many accounts have been created from your network recently. Try "
                       "again " +
                           waitInWords(wait) + ".");
    }
  }
  HashSlot slot(hashesInFlight_, hashLimit_);
  if (!slot) {
    metrics_.recordThrottled("hashing");
    auto response = htmlResponse(
        503, renderNoticePage("Sign-in is busy right now",
                              "The service is checking many sign-ins at the moment. Go back and "
                              "try again in a few seconds; nothing was changed."));
    retryAfter(response, 1);
    return response;
  }

  auto account = store_.accountByEmail(*email);
  if (!account) {
    return pageStorageFailure(account.error());
  }
  const auto& stored = account.value();
  // Both paths cost one hash: a wrong password, an unknown address and an address that exists
  // when creating all look and take the same.
  auto refuse = [&] {
    recordSignInFailure(accountKey, address, at);
    return retry(401, "The e-mail address or the password is not right.");
  };
  std::int64_t accountId = 0;
  if (creating && !stored) {
    const auto hash = crypto::hashPassword(form->password, options_.passwordIterations);
    auto created = store_.createAccount(*email, hash, "free", at);
    if (!created) {
      if (created.error().code == Store::kDuplicate) {
        return refuse();  // made by someone else a moment ago
      }
      return pageStorageFailure(created.error());
    }
    (void)store_.recordEvent(kAccountsByAddress, address, 0, at);
    accountId = created.value();
  } else {
    // Signing in, or "creating" an account that exists: that is a sign-in with the password
    // given, so the answer does not tell whether the address was taken.
    const bool ok = crypto::verifyPassword(
        form->password, stored ? stored->passwordHash : std::string_view(decoyHash_));
    if (!stored || !ok) {
      return refuse();
    }
    accountId = stored->id;
    (void)store_.clearEvents(kSignInFailuresByAccount, accountKey);
  }

  // The code travels through the browser and the program's URL scheme; only its hash is kept.
  const auto code = crypto::randomUrlSafe(32);
  const auto issuedAt = now();
  if (auto saved = store_.saveCode(crypto::sha256Hex(code),
                                   AuthCode{accountId, form->challenge, issuedAt + kCodeLifetime});
      !saved) {
    return pageStorageFailure(saved.error());
  }
  // Old codes that were never exchanged would only pile up.
  (void)store_.purgeExpiredCodes(issuedAt);

  const std::string location = std::string(kCallback) + "?code=" + percentEncode(code) +
                               "&state=" + percentEncode(form->state);
  auto response = htmlResponse(
      303, renderNoticePage("Returning to Lumarin",
                            "You are signed in. If Lumarin does not come to the front, "
                            "open it again; this window can be closed."));
  response.headers.emplace_back("Location", location);
  return response;
}

HttpResponse Service::token(const HttpRequest& request) const {
  auto parsed = parseTokenRequest(request.body);
  if (!parsed) {
    return errorResponse(400, parsed.error().message);
  }
  // Taking the code deletes it, whatever follows: a code is tried once, so a stolen code
  // cannot be used to guess verifiers.
  auto code = store_.takeCode(crypto::sha256Hex(parsed->code));
  if (!code) {
    return storageFailure(code.error());
  }
  const auto& grant = code.value();
  if (!grant || now() >= grant->expiresAt) {
    return errorResponse(400, "invalid_grant: the code is unknown, already used or expired");
  }
  if (!crypto::pkceMatches(parsed->verifier, grant->challenge)) {
    return errorResponse(400, "invalid_grant: the verifier does not match the code challenge");
  }
  const auto token = crypto::randomUrlSafe(32);
  const auto tokenHash = crypto::sha256Hex(token);
  if (auto saved = store_.saveToken(tokenHash, grant->accountId, parsed->deviceId, now()); !saved) {
    return storageFailure(saved.error());
  }
  const Seconds at = now();
  auto account = store_.accountForToken(tokenHash, at, tokenCutoff(at));
  if (!account) {
    return storageFailure(account.error());
  }
  if (!account.value()) {
    return storageFailure(Error{"token vanished right after it was stored"});
  }
  return jsonResponse(
      200,
      Json{{"token", token}, {"email", account.value()->email}, {"tier", account.value()->tier}});
}

Service::Caller Service::authenticate(const HttpRequest& request) const {
  if (request.authenticated) {
    return Caller{request.authenticated, {}};
  }
  const auto token = bearerToken(request.authorization);
  if (!token) {
    return Caller{std::nullopt, unauthorized()};
  }
  const Seconds at = now();
  auto account = store_.accountForToken(crypto::sha256Hex(*token), at, tokenCutoff(at));
  if (!account) {
    return Caller{std::nullopt, storageFailure(account.error())};
  }
  if (!account.value()) {
    return Caller{std::nullopt, unauthorized()};
  }
  return Caller{std::move(account).value(), {}};
}

HttpResponse Service::me(const HttpRequest& request) const {
  auto caller = authenticate(request);
  if (!caller.account) {
    return caller.denied;
  }
  return jsonResponse(200, Json{{"email", caller.account->email}, {"tier", caller.account->tier}});
}

HttpResponse Service::logout(const HttpRequest& request) const {
  const auto token = bearerToken(request.authorization);
  if (!token) {
    return unauthorized();
  }
  if (auto body = parseEmptyObject(request.body); !body) {
    return errorResponse(400, body.error().message);
  }
  auto revoked = store_.revokeToken(crypto::sha256Hex(*token));
  if (!revoked) {
    return storageFailure(revoked.error());
  }
  if (!revoked.value()) {
    return unauthorized();
  }
  return jsonResponse(200, Json::object());
}

HttpResponse Service::syncGet(const HttpRequest& request) const {
  auto caller = authenticate(request);
  if (!caller.account) {
    return caller.denied;
  }
  auto blob = store_.blob(caller.account->id);
  if (!blob) {
    return storageFailure(blob.error());
  }
  // Nothing stored yet: version 0 and no blob, which the program reads as an empty server.
  if (!blob.value()) {
    return jsonResponse(200, Json{{"version", 0}});
  }
  return jsonResponse(200, Json{{"version", blob.value()->version}, {"blob", blob.value()->blob}});
}

HttpResponse Service::syncPut(const HttpRequest& request) const {
  auto caller = authenticate(request);
  if (!caller.account) {
    return caller.denied;
  }
  auto put = parseSyncPut(request.body);
  if (!put) {
    return errorResponse(400, put.error().message);
  }
  auto outcome =
      store_.putBlob(caller.account->id, put->baseVersion, put->blob, put->deviceId, now());
  if (!outcome) {
    return storageFailure(outcome.error());
  }
  if (!outcome->stored) {
    return jsonResponse(
        409, Json{{"error", "baseVersion " + std::to_string(put->baseVersion) +
                                " is not the current version " + std::to_string(outcome->version)},
                  {"version", outcome->version}});
  }
  return jsonResponse(200, Json{{"version", outcome->version}});
}

HttpResponse Service::report(std::string_view kind, const HttpRequest& request) const {
  auto upload = parseReport(kind, request.body);
  if (!upload) {
    return errorResponse(400, upload.error().message);
  }
  const Seconds at = now();
  housekeeping(at);
  const auto& limits = options_.limits;
  const std::string address = request.clientAddress.empty() ? "-" : request.clientAddress;
  const std::string byInstall = "upload:" + std::string(kind) + ":install";
  const std::string byAddress = "upload:" + std::string(kind) + ":address";
  // Uploads without an identifier share only the address's budget, or one sender without an
  // identifier would use up everybody's.
  if (!upload->installId.empty()) {
    if (auto refused = uploadRefusal(kind, byInstall, upload->installId, limits.uploadsPerInstall,
                                     limits.uploadBytesPerInstall, request.body.size(), at)) {
      return *refused;
    }
  }
  if (auto refused = uploadRefusal(kind, byAddress, address, limits.uploadsPerAddress,
                                   limits.uploadBytesPerAddress, request.body.size(), at)) {
    return *refused;
  }
  Report stored{0, std::string(kind), std::nullopt, upload->installId, upload->json, at};
  // Statistics may come signed in. A token that is no longer valid does not turn the upload
  // away: the program would drop the batch on a 401 and the events are anonymous anyway.
  if (kind == "improve" && !request.authorization.empty()) {
    auto caller = authenticate(request);
    if (caller.account) {
      stored.accountId = caller.account->id;
    } else if (caller.denied.status != 401) {
      return caller.denied;
    }
  }
  if (auto added = store_.addReport(stored); !added) {
    return storageFailure(added.error());
  }
  const auto size = static_cast<std::int64_t>(request.body.size());
  if (!upload->installId.empty()) {
    (void)store_.recordEvent(byInstall, upload->installId, size, at);
  }
  (void)store_.recordEvent(byAddress, address, size, at);
  if (!stored.accountId) {
    if (auto trimmed = store_.trimAnonymousReports(limits.maxAnonymousReports); !trimmed) {
      return storageFailure(trimmed.error());
    }
  }
  return jsonResponse(200, Json::object());
}

std::optional<HttpResponse> Service::uploadRefusal(std::string_view kind, std::string_view scope,
                                                   std::string_view key, int count,
                                                   std::int64_t bytes, std::size_t size,
                                                   Seconds at) const {
  const auto window = options_.limits.uploadWindow;
  auto used = store_.usage(scope, key, at - window);
  if (!used) {
    return storageFailure(used.error());
  }
  if (used->count < count && used->bytes + static_cast<std::int64_t>(size) <= bytes) {
    return std::nullopt;
  }
  metrics_.recordThrottled("upload");
  const bool perInstall = scope.ends_with(":install");
  // Nothing counted yet means this one upload is over the byte budget on its own.
  const Seconds wait = used->count == 0 ? window : used->oldest + window - at;
  auto response = errorResponse(
      429, "upload quota reached: at most " + std::to_string(count) + " " + std::string(kind) +
               " uploads and " + std::to_string(bytes) + " bytes per hour from one " +
               (perInstall ? "installation" : "address") + "; try again " + waitInWords(wait));
  retryAfter(response, wait);
  return response;
}

Result<Seconds> Service::signInWait(std::string_view scope, std::string_view key, int limit,
                                    Seconds at) const {
  const auto& limits = options_.limits;
  auto failures = store_.usage(scope, key, at - limits.signInWindow);
  if (!failures) {
    return failures.error();
  }
  if (failures->count < limit) {
    return Seconds{0};
  }
  // Each failure past the limit doubles the pause, up to the whole window.
  const auto doublings = std::min<std::int64_t>(failures->count - limit, 20);
  const Seconds delay =
      std::min<Seconds>(limits.signInFirstDelay * (Seconds{1} << doublings), limits.signInWindow);
  return std::max<Seconds>(failures->newest + delay - at, 0);
}

void Service::recordSignInFailure(std::string_view accountKey, std::string_view address,
                                  Seconds at) const {
  // A failure to count is logged but does not change the answer the user sees.
  if (auto counted = store_.recordEvent(kSignInFailuresByAccount, accountKey, 0, at); !counted) {
    metrics_.recordStoreError();
    options_.log(counted.error().message);
  }
  if (auto counted = store_.recordEvent(kSignInFailuresByAddress, address, 0, at); !counted) {
    metrics_.recordStoreError();
    options_.log(counted.error().message);
  }
}

// Old counted events and tokens unused past their lifetime would only pile up; one request in
// a while clears them.
void Service::housekeeping(Seconds at) const {
  auto last = lastHousekeeping_.load();
  if (at - last < kHousekeepingInterval || !lastHousekeeping_.compare_exchange_strong(last, at)) {
    return;
  }
  (void)store_.purgeEvents(at - kEventsKept);
  (void)store_.purgeStaleTokens(tokenCutoff(at));
}

bool Service::needsAuthorisationFirst(const HttpRequest& head) const {
  const std::string_view path = head.path;
  return (path == "/api/sync/lumarin" && head.method == "PUT") ||
         (path == "/api/app/logout" && head.method == "POST") ||
         (path.starts_with(kDevicesPath) && head.method == "DELETE");
}

std::optional<HttpResponse> Service::screen(HttpRequest& head) const {
  try {
    auto caller = authenticate(head);
    if (!caller.account) {
      return caller.denied;
    }
    head.authenticated = std::move(caller.account);
    return std::nullopt;
  } catch (const std::exception& e) {
    options_.log(std::string("internal error: ") + e.what());
    return errorResponse(500, "internal error");
  }
}

std::string Service::routeLabel(std::string_view method, std::string_view path) {
  (void)method;
  static constexpr std::string_view kExact[] = {
      "/app/connect",      "/api/app/token", "/api/app/logout", "/api/me",
      "/api/sync/lumarin", "/api/improve",   "/api/crash",      "/api/testlog",
      "/healthz",          "/metrics",       kDevicesPath,      kUpdateFeedPath};
  for (const auto known : kExact) {
    if (path == known) {
      return std::string(known);
    }
  }
  if (path.starts_with(std::string(kDevicesPath) + "/")) {
    return std::string(kDevicesPath) + "/{id}";
  }
  if (path.starts_with(kUpdateArchivePrefix)) {
    return std::string(kUpdateArchivePrefix) + "{archive}";
  }
  return "other";
}

HttpResponse Service::devices(const HttpRequest& request) const {
  auto caller = authenticate(request);
  if (!caller.account) {
    return caller.denied;
  }
  auto list = store_.devices(caller.account->id, tokenCutoff(now()));
  if (!list) {
    return storageFailure(list.error());
  }
  Json out = Json::array();
  for (const auto& device : list.value()) {
    out.push_back(Json{{"deviceId", device.deviceId},
                       {"createdAt", device.createdAt},
                       {"lastUsedAt", device.lastUsedAt}});
  }
  return jsonResponse(200, Json{{"devices", std::move(out)}});
}

HttpResponse Service::signOutDevice(const HttpRequest& request) const {
  const auto deviceId = parseDevicePath(request.path);
  if (!deviceId) {
    return errorResponse(404, "no such device");
  }
  auto caller = authenticate(request);
  if (!caller.account) {
    return caller.denied;
  }
  auto revoked = store_.revokeDevice(caller.account->id, *deviceId);
  if (!revoked) {
    return storageFailure(revoked.error());
  }
  if (revoked.value() == 0) {
    return errorResponse(404, "no such device");
  }
  return jsonResponse(200, Json{{"signedOut", revoked.value()}});
}

HttpResponse Service::health() const {
  if (auto reachable = store_.ping(); !reachable) {
    metrics_.recordStoreError();
    options_.log(reachable.error().message);
    return errorResponse(503, "the store cannot be reached");
  }
  return jsonResponse(200, Json{{"status", "ok"}});
}

HttpResponse Service::updateFeed() const {
  auto releases = store_.releases();
  if (!releases) {
    return storageFailure(releases.error());
  }
  std::string base = options_.publicURL;
  while (!base.empty() && base.back() == '/') {
    base.pop_back();
  }
  HttpResponse response;
  response.contentType = "application/rss+xml; charset=utf-8";
  response.body = renderUpdateFeed(releases.value(), base);
  // A new release must reach the next check, not the one after a cache expires.
  response.headers.emplace_back("Cache-Control", "no-cache");
  return response;
}

HttpResponse Service::updateArchive(std::string_view rest) const {
  const auto slash = rest.find('/');
  const auto version = rest.substr(0, slash);
  const auto fileName =
      slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
  if (!isSafeReleaseToken(version) || !isSafeReleaseToken(fileName)) {
    return errorResponse(404, "no such archive");
  }
  auto archive = store_.releaseArchive(version, fileName);
  if (!archive) {
    return storageFailure(archive.error());
  }
  if (!archive.value()) {
    return errorResponse(404, "no such archive");
  }
  HttpResponse response;
  response.contentType = "application/octet-stream";
  response.body = std::move(*archive.value());
  response.headers.emplace_back("Content-Disposition",
                                "attachment; filename=\"" + std::string(fileName) + "\"");
  return response;
}

}  // namespace lumarin::service
