#include "service/Service.h"

#include <chrono>
#include <exception>
#include <iostream>
#include <optional>

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
  options_.log(error.message);
  return errorResponse(503, "the service's storage is unavailable; try again later");
}

// The browser gets a page, not JSON, when the database fails during sign-in.
HttpResponse Service::pageStorageFailure(const Error& error) const {
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

  std::int64_t accountId = 0;
  if (form->action == "create") {
    if (form->password.size() < kMinPassword) {
      return retry(400, "Choose a password of at least 8 characters.");
    }
    const auto hash = crypto::hashPassword(form->password, options_.passwordIterations);
    auto created = store_.createAccount(*email, hash, "free", now());
    if (!created) {
      if (created.error().code == Store::kDuplicate) {
        return retry(409, "An account with this e-mail address exists. Sign in instead.");
      }
      return pageStorageFailure(created.error());
    }
    accountId = created.value();
  } else {
    auto account = store_.accountByEmail(*email);
    if (!account) {
      return pageStorageFailure(account.error());
    }
    const auto& stored = account.value();
    const bool ok = crypto::verifyPassword(
        form->password, stored ? stored->passwordHash : std::string_view(decoyHash_));
    if (!stored || !ok) {
      return retry(401, "The e-mail address or the password is not right.");
    }
    accountId = stored->id;
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
  auto account = store_.accountForToken(tokenHash);
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
  const auto token = bearerToken(request.authorization);
  if (!token) {
    return Caller{std::nullopt, unauthorized()};
  }
  auto account = store_.accountForToken(crypto::sha256Hex(*token));
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
  Report stored{0, std::string(kind), std::nullopt, upload->installId, upload->json, now()};
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
  return jsonResponse(200, Json::object());
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
