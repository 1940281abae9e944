#include "cloud/CloudAccount.h"

#include <utility>
#include <vector>

#include "base/Hex.h"
#include "base/Json.h"
#include "base/Uuid.h"
#include "cloud/CloudApi.h"
#include "cloud/Pkce.h"
#include "diagnostics/DebugLog.h"
#include "platform/HttpClient.h"
#include "platform/Scheduler.h"
#include "platform/SecretStore.h"
#include "platform/Workspace.h"

namespace lumarin {
namespace {

using json::Json;

struct QueryItem {
  std::string name;
  std::optional<std::string> value;  // absent for an item without "="
};

// Percent-decoding as URL components do it: "+" stays a plus sign; a broken escape is kept
// as it stands.
std::string percentDecode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = hexDigitValue(text[i + 1]);
      const int low = hexDigitValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// The host of "scheme://host[:port]/path?query#fragment"; nullopt without an authority.
std::optional<std::string> urlHost(std::string_view url) {
  const auto scheme = url.find("://");
  if (scheme == std::string_view::npos) {
    return std::nullopt;
  }
  std::string_view rest = url.substr(scheme + 3);
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
    authority = authority.substr(at + 1);
  }
  if (!authority.starts_with('[')) {
    authority = authority.substr(0, authority.find(':'));
  }
  return percentDecode(authority);
}

std::vector<QueryItem> queryItems(std::string_view url) {
  std::vector<QueryItem> items;
  const auto question = url.find('?');
  if (question == std::string_view::npos) {
    return items;
  }
  std::string_view query = url.substr(question + 1);
  query = query.substr(0, query.find('#'));
  std::size_t start = 0;
  while (start <= query.size()) {
    const auto amp = query.find('&', start);
    const std::string_view item =
        query.substr(start, amp == std::string_view::npos ? query.size() - start : amp - start);
    if (!item.empty()) {
      const auto equals = item.find('=');
      if (equals == std::string_view::npos) {
        items.push_back(QueryItem{percentDecode(item), std::nullopt});
      } else {
        items.push_back(QueryItem{percentDecode(item.substr(0, equals)),
                                  percentDecode(item.substr(equals + 1))});
      }
    }
    if (amp == std::string_view::npos) {
      break;
    }
    start = amp + 1;
  }
  return items;
}

const QueryItem* firstItem(const std::vector<QueryItem>& items, std::string_view name) {
  for (const auto& item : items) {
    if (item.name == name) {
      return &item;
    }
  }
  return nullptr;
}

// A 2xx body: a JSON object as it is, anything else as an empty object.
Json objectOrEmpty(const std::string& body) {
  auto parsed = json::parse(body);
  if (parsed.ok() && parsed.value().is_object()) {
    return std::move(parsed).value();
  }
  return Json::object();
}

std::string stringMemberOr(const Json& object, const char* key, std::string fallback) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::move(fallback);
}

}  // namespace

CloudAccount::CloudAccount(Dependencies dependencies) : deps_(std::move(dependencies)) {
  if (deps_.secrets.get(kTokenItem)) {
    state_.setSilently(AccountState::signedInAs(deps_.secrets.get(kEmailItem).value_or(""),
                                                deps_.secrets.get(kTierItem).value_or("free")));
  }
}

std::optional<std::string> CloudAccount::token() const { return deps_.secrets.get(kTokenItem); }

std::string CloudAccount::deviceId() {
  if (auto stored = deps_.secrets.get(kDeviceIdItem)) {
    return *stored;
  }
  std::string id = Uuid::random().toString();
  deps_.secrets.set(kDeviceIdItem, id);
  return id;
}

void CloudAccount::signIn() {
  std::string verifier = pkce::randomURLBase64(32);
  const std::string challenge = pkce::challenge(verifier);
  std::string state = pkce::randomURLBase64(16);
  pendingVerifier_ = std::move(verifier);
  pendingState_ = state;
  if (deps_.config.baseURL.empty()) {
    deps_.log.log("cloud: sign-in not started reason=no-service-url");
    return;
  }
  const std::string url = deps_.config.baseURL +
                          "app/connect?app=lumarin&challenge=" + percentEncode(challenge) +
                          "&state=" + percentEncode(state);
  deps_.log.log("cloud: sign-in opened in the browser");
  deps_.workspace.openURL(url);
}

bool CloudAccount::handleCallback(const std::string& url) {
  if (urlHost(url) != std::optional<std::string>("auth")) {
    return false;
  }
  const auto items = queryItems(url);
  const QueryItem* code = firstItem(items, "code");
  const QueryItem* returned = firstItem(items, "state");
  if (returned == nullptr || code == nullptr || !code->value || !returned->value ||
      !pendingState_ || *returned->value != *pendingState_ || !pendingVerifier_) {
    return false;
  }
  std::string verifier = std::move(*pendingVerifier_);
  pendingVerifier_.reset();
  pendingState_.reset();
  exchange(*code->value, verifier);
  return true;
}

void CloudAccount::exchange(const std::string& code, const std::string& verifier) {
  Json body = {{"code", code}, {"verifier", verifier}, {"deviceId", deviceId()}};
  deps_.http.send(
      cloud::apiRequest(deps_.config, "POST", "app/token", std::nullopt, json::dump(body)),
      deps_.scheduler.mainQueue(), weak_.bind([](CloudAccount& self, const HttpResponse& response) {
        const Json answer = cloud::classify(response.status) == cloud::ApiOutcome::success
                                ? objectOrEmpty(response.body)
                                : Json::object();
        auto token = answer.find("token");
        if (token == answer.end() || !token->is_string()) {
          self.deps_.log.log("cloud: sign-in failed status=" + std::to_string(response.status));
          self.state_.set(AccountState::signedOut());
          return;
        }
        std::string email = stringMemberOr(answer, "email", "");
        std::string tier = stringMemberOr(answer, "tier", "free");
        self.deps_.secrets.set(kTokenItem, token->get<std::string>());
        self.deps_.secrets.set(kEmailItem, email);
        self.deps_.secrets.set(kTierItem, tier);
        self.deps_.log.log("cloud: signed in tier=" + tier);
        self.state_.set(AccountState::signedInAs(std::move(email), std::move(tier)));
      }));
}

void CloudAccount::refresh(std::function<void()> done) {
  auto token = deps_.secrets.get(kTokenItem);
  if (!token) {
    if (done) {
      done();
    }
    return;
  }
  deps_.http.send(
      cloud::apiRequest(deps_.config, "GET", "me", token), deps_.scheduler.mainQueue(),
      weak_.bind([done = std::move(done)](CloudAccount& self, const HttpResponse& response) {
        switch (cloud::classify(response.status)) {
          case cloud::ApiOutcome::success: {
            const Json answer = objectOrEmpty(response.body);
            std::string email = stringMemberOr(answer, "email", "");
            std::string tier = stringMemberOr(answer, "tier", "free");
            self.deps_.secrets.set(kEmailItem, email);
            self.deps_.secrets.set(kTierItem, tier);
            self.state_.set(AccountState::signedInAs(std::move(email), std::move(tier)));
            break;
          }
          case cloud::ApiOutcome::unauthorized:
            self.deps_.log.log("cloud: token refused on refresh, signed out");
            self.removeAccountItems();
            self.state_.set(AccountState::signedOut());
            break;
          case cloud::ApiOutcome::conflict:
          case cloud::ApiOutcome::failure:
            // Offline or a server fault says nothing about the token: keep the account.
            self.deps_.log.log("cloud: refresh failed status=" + std::to_string(response.status));
            break;
        }
        if (done) {
          done();
        }
      }));
}

void CloudAccount::signOut() {
  if (auto token = deps_.secrets.get(kTokenItem)) {
    // Nobody waits for this answer, and it may come after the account is gone.
    deps_.http.send(cloud::apiRequest(deps_.config, "POST", "app/logout", token, "{}"),
                    deps_.scheduler.mainQueue(), [](const HttpResponse&) {});
  }
  removeAccountItems();
  deps_.log.log("cloud: signed out");
  state_.set(AccountState::signedOut());
}

void CloudAccount::removeAccountItems() {
  deps_.secrets.remove(kTokenItem);
  deps_.secrets.remove(kEmailItem);
  deps_.secrets.remove(kTierItem);
}

}  // namespace lumarin
