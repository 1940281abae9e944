#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Result.h"

// Parsers of everything a client sends the service. They see raw outside input, so each one
// checks kinds and bounds and answers an error (code 400, a message fit for the client) rather
// than throwing; each has a fuzz target.
namespace lumarin::service {

inline constexpr int kBadRequest = 400;

// Body of "api/app/token".
struct TokenRequest {
  std::string code;
  std::string verifier;
  std::string deviceId;
};
Result<TokenRequest> parseTokenRequest(std::string_view body);

// Body of a PUT to "api/sync/lumarin".
struct SyncPut {
  std::string blob;
  std::int64_t baseVersion = 0;
  std::string deviceId;
};
Result<SyncPut> parseSyncPut(std::string_view body);

// Bodies of "api/improve", "api/crash" and "api/testlog": a JSON object kept as the compact
// re-serialisation of what was parsed (so what we store is always well-formed JSON without NUL
// bytes), with the installation identifier pulled out for listings.
struct ReportUpload {
  std::string installId;
  std::string json;
};
Result<ReportUpload> parseReport(std::string_view kind, std::string_view body);

// The body of "api/app/logout": empty, or a JSON object (its members are ignored).
Status parseEmptyObject(std::string_view body);

// application/x-www-form-urlencoded: pairs in order, '+' as space, %XX decoded. Malformed
// escapes are an error rather than passed through.
Result<std::vector<std::pair<std::string, std::string>>> parseUrlEncoded(std::string_view text);

// The sign-in page's form as the browser posts it back.
struct SignInForm {
  std::string app;
  std::string challenge;
  std::string state;
  std::string email;
  std::string password;
  std::string action;  // "signin" or "create"
};
Result<SignInForm> parseSignInForm(std::string_view body);

// The token of an "Authorization: Bearer <token>" header; the scheme name is case-insensitive
// as HTTP says, the token must be non-empty and contain no white space.
std::optional<std::string> bearerToken(std::string_view authorization);

// E-mail addresses are compared in lower case and without surrounding blanks. Nothing when the
// text cannot be an address (no '@' between non-empty parts, too long, control characters,
// not UTF-8).
std::optional<std::string> normaliseEmail(std::string_view email);

// What the service accepts as an anti-forgery "state" (it travels back unchanged, so only a
// bound on length and plain printable ASCII).
bool isValidState(std::string_view state);

// An IPv4 or IPv6 address in its canonical text (IPv4-mapped IPv6 as plain IPv4, brackets
// around IPv6 allowed); nothing for anything else (names, ports, blanks inside).
std::optional<std::string> normaliseIpAddress(std::string_view text);

// The client's address from an X-Forwarded-For value as our trusted proxy sends it: the last
// entry, which that proxy appended. Entries before it were written by the client and prove
// nothing. Nothing when the last entry is not an address.
std::optional<std::string> forwardedClientAddress(std::string_view forwardedFor);

// The device identifier of "/api/app/devices/<id>" (the path as decoded by the server): 1-128
// bytes of printable ASCII without '/'. Nothing for any other path.
inline constexpr std::string_view kDevicesPath = "/api/app/devices";
std::optional<std::string> parseDevicePath(std::string_view path);

}  // namespace lumarin::service
