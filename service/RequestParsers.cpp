#include "service/RequestParsers.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "base/Hex.h"
#include "base/Json.h"
#include "base/Utf8.h"

namespace lumarin::service {

namespace {

using json::Json;

// Bounds on single fields. The body as a whole is already bounded by the server (1 MB).
constexpr std::size_t kMaxCode = 128;
constexpr std::size_t kMaxDeviceId = 128;
constexpr std::size_t kMaxInstallId = 128;
constexpr std::size_t kMaxEmail = 254;
constexpr std::size_t kMaxPassword = 1024;
constexpr std::size_t kMaxState = 512;
// Nobody sends us deeply nested JSON; refusing it keeps the recursive serialiser's stack small.
constexpr int kMaxDepth = 64;

Error bad(std::string message) { return Error{std::move(message), kBadRequest}; }

bool nestedTooDeep(std::string_view text) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) {
        return true;
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

Result<Json> parseObject(std::string_view body) {
  if (nestedTooDeep(body)) {
    return bad("JSON nested deeper than 64 levels");
  }
  auto parsed = json::parse(body);
  if (!parsed) {
    return bad("malformed JSON: " + parsed.error().message);
  }
  if (!parsed->is_object()) {
    return bad("the body must be a JSON object");
  }
  return std::move(parsed).value();
}

// A required string member: present, a string, non-empty, within bounds and without NUL (which
// neither the program sends nor PostgreSQL's text type can hold).
Result<std::string> requiredString(const Json& object, std::string_view key, std::size_t maxSize,
                                   bool allowEmpty = false) {
  const std::string name(key);
  auto value = json::stringAt(object, key);
  if (!value) {
    return bad("\"" + name + "\" must be a string");
  }
  if (value->empty() && !allowEmpty) {
    return bad("\"" + name + "\" must not be empty");
  }
  if (value->size() > maxSize) {
    return bad("\"" + name + "\" is longer than " + std::to_string(maxSize) + " bytes");
  }
  if (value->find('\0') != std::string::npos) {
    return bad("\"" + name + "\" must not contain U+0000");
  }
  return std::move(value).value();
}

// Members that, when present, must have the kind the program sends.
Status checkKind(const Json& object, std::string_view key, Json::value_t kind,
                 std::string_view kindName) {
  auto it = object.find(key);
  if (it != object.end() && it->type() != kind) {
    return bad("\"" + std::string(key) + "\" must be " + std::string(kindName));
  }
  return success();
}

Result<std::string> decodeComponent(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%') {
      if (i + 2 >= text.size()) {
        return bad("malformed form data: cut-off escape");
      }
      const int high = hexDigitValue(text[i + 1]);
      const int low = hexDigitValue(text[i + 2]);
      if (high < 0 || low < 0) {
        return bad("malformed form data: bad escape");
      }
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

Result<TokenRequest> parseTokenRequest(std::string_view body) {
  auto object = parseObject(body);
  if (!object) {
    return object.error();
  }
  auto code = requiredString(object.value(), "code", kMaxCode);
  if (!code) {
    return code.error();
  }
  // The verifier's own form (RFC 7636) is checked with the challenge; here only its size.
  auto verifier = requiredString(object.value(), "verifier", 128);
  if (!verifier) {
    return verifier.error();
  }
  auto deviceId = requiredString(object.value(), "deviceId", kMaxDeviceId);
  if (!deviceId) {
    return deviceId.error();
  }
  return TokenRequest{std::move(code).value(), std::move(verifier).value(),
                      std::move(deviceId).value()};
}

Result<SyncPut> parseSyncPut(std::string_view body) {
  auto object = parseObject(body);
  if (!object) {
    return object.error();
  }
  auto blob = requiredString(object.value(), "blob", body.size(), true);
  if (!blob) {
    return blob.error();
  }
  // The program's settings are JSON; anything else is not a blob of ours and would only be
  // handed to the next device to choke on.
  if (nestedTooDeep(*blob)) {
    return bad("\"blob\" is JSON nested deeper than 64 levels");
  }
  if (auto parsed = json::parse(*blob); !parsed) {
    return bad("\"blob\" must be JSON text: " + parsed.error().message);
  }
  const auto base = json::integerAt(object.value(), "baseVersion");
  if (!base) {
    return bad("\"baseVersion\" must be an integer");
  }
  if (*base < 0) {
    return bad("\"baseVersion\" must not be negative");
  }
  // The program always sends its device identifier; an older or foreign client may not.
  std::string deviceId;
  if (object->contains("deviceId")) {
    auto id = requiredString(object.value(), "deviceId", kMaxDeviceId);
    if (!id) {
      return id.error();
    }
    deviceId = std::move(id).value();
  }
  return SyncPut{std::move(blob).value(), *base, std::move(deviceId)};
}

Result<ReportUpload> parseReport(std::string_view kind, std::string_view body) {
  auto object = parseObject(body);
  if (!object) {
    return object.error();
  }
  const Json& o = object.value();
  std::string installId;
  if (o.contains("installID")) {
    auto id = requiredString(o, "installID", kMaxInstallId, true);
    if (!id) {
      return id.error();
    }
    installId = std::move(id).value();
  }
  Status kinds = success();
  if (kind == "improve") {
    kinds = checkKind(o, "events", Json::value_t::array, "an array");
  } else if (kind == "crash") {
    kinds = checkKind(o, "callStack", Json::value_t::string, "a string");
  } else if (kind == "testlog") {
    kinds = checkKind(o, "log", Json::value_t::string, "a string");
  }
  if (!kinds) {
    return kinds.error();
  }
  return ReportUpload{std::move(installId), json::dump(o)};
}

Status parseEmptyObject(std::string_view body) {
  if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    return success();
  }
  auto object = parseObject(body);
  if (!object) {
    return object.error();
  }
  return success();
}

Result<std::vector<std::pair<std::string, std::string>>> parseUrlEncoded(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find('&', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    const auto item = text.substr(start, end - start);
    if (!item.empty()) {
      const auto eq = item.find('=');
      auto name = decodeComponent(item.substr(0, eq));
      if (!name) {
        return name.error();
      }
      auto value =
          decodeComponent(eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1));
      if (!value) {
        return value.error();
      }
      pairs.emplace_back(std::move(name).value(), std::move(value).value());
    }
    start = end + 1;
  }
  return pairs;
}

Result<SignInForm> parseSignInForm(std::string_view body) {
  auto pairs = parseUrlEncoded(body);
  if (!pairs) {
    return pairs.error();
  }
  SignInForm form;
  // The first of repeated names counts, as with the query items of the callback.
  auto first = [&](std::string_view name) -> std::optional<std::string> {
    for (const auto& [key, value] : pairs.value()) {
      if (key == name) {
        return value;
      }
    }
    return std::nullopt;
  };
  form.app = first("app").value_or("");
  form.challenge = first("challenge").value_or("");
  form.state = first("state").value_or("");
  form.email = first("email").value_or("");
  form.password = first("password").value_or("");
  form.action = first("action").value_or("signin");
  if (form.password.size() > kMaxPassword) {
    return bad("the password is longer than 1024 bytes");
  }
  if (form.action != "signin" && form.action != "create") {
    return bad("unknown action");
  }
  return form;
}

std::optional<std::string> bearerToken(std::string_view authorization) {
  constexpr std::string_view kScheme = "bearer ";
  if (authorization.size() <= kScheme.size()) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    const char c = authorization[i];
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != kScheme[i]) {
      return std::nullopt;
    }
  }
  auto token = authorization.substr(kScheme.size());
  while (!token.empty() && token.front() == ' ') {
    token.remove_prefix(1);
  }
  while (!token.empty() && token.back() == ' ') {
    token.remove_suffix(1);
  }
  if (token.empty() || token.size() > 512) {
    return std::nullopt;
  }
  for (char c : token) {
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
      return std::nullopt;
    }
  }
  return std::string(token);
}

std::optional<std::string> normaliseEmail(std::string_view email) {
  while (!email.empty() && (email.front() == ' ' || email.front() == '\t')) {
    email.remove_prefix(1);
  }
  while (!email.empty() && (email.back() == ' ' || email.back() == '\t')) {
    email.remove_suffix(1);
  }
  if (email.empty() || email.size() > kMaxEmail || !utf8::isValid(email)) {
    return std::nullopt;
  }
  std::string out;
  for (char c : email) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == ' ') {
      return std::nullopt;
    }
    out.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
  }
  const auto at = out.rfind('@');
  if (at == std::string::npos || at == 0 || at + 1 == out.size()) {
    return std::nullopt;
  }
  return out;
}

bool isValidState(std::string_view state) {
  if (state.empty() || state.size() > kMaxState) {
    return false;
  }
  for (char c : state) {
    if (c <= 0x20 || c >= 0x7F) {
      return false;
    }
  }
  return true;
}

std::optional<std::string> normaliseIpAddress(std::string_view text) {
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) {
    return std::nullopt;
  }
  const std::string copy(text);
  char out[INET6_ADDRSTRLEN] = {};
  in_addr v4{};
  if (::inet_pton(AF_INET, copy.c_str(), &v4) == 1) {
    ::inet_ntop(AF_INET, &v4, out, sizeof out);
    return std::string(out);
  }
  in6_addr v6{};
  if (::inet_pton(AF_INET6, copy.c_str(), &v6) != 1) {
    return std::nullopt;
  }
  if (IN6_IS_ADDR_V4MAPPED(&v6)) {
    std::memcpy(&v4, &v6.s6_addr[12], sizeof v4);
    ::inet_ntop(AF_INET, &v4, out, sizeof out);
    return std::string(out);
  }
  ::inet_ntop(AF_INET6, &v6, out, sizeof out);
  return std::string(out);
}

std::optional<std::string> forwardedClientAddress(std::string_view forwardedFor) {
  const auto comma = forwardedFor.rfind(',');
  auto last = comma == std::string_view::npos ? forwardedFor : forwardedFor.substr(comma + 1);
  while (!last.empty() && (last.front() == ' ' || last.front() == '\t')) {
    last.remove_prefix(1);
  }
  while (!last.empty() && (last.back() == ' ' || last.back() == '\t')) {
    last.remove_suffix(1);
  }
  return normaliseIpAddress(last);
}

std::optional<std::string> parseDevicePath(std::string_view path) {
  if (!path.starts_with(kDevicesPath) || path.size() < kDevicesPath.size() + 2 ||
      path[kDevicesPath.size()] != '/') {
    return std::nullopt;
  }
  const auto id = path.substr(kDevicesPath.size() + 1);
  constexpr std::size_t kMaxDevice = 128;
  if (id.size() > kMaxDevice || std::any_of(id.begin(), id.end(), [](char c) {
        return c <= 0x20 || c >= 0x7f || c == '/';
      })) {
    return std::nullopt;
  }
  return std::string(id);
}

}  // namespace lumarin::service
