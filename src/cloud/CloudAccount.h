#pragma once

#include <functional>
#include <optional>
#include <string>

#include "base/Observable.h"
#include "base/WeakBind.h"
#include "cloud/CloudConfig.h"

namespace lumarin {

class DebugLog;
class HttpClient;
class Scheduler;
class SecretStore;
class Workspace;

// The account state: signed in with the account's e-mail address (may be empty) and tier, or
// signed out.
struct AccountState {
  bool signedIn = false;
  std::string email;
  std::string tier;

  static AccountState signedOut() { return {}; }
  static AccountState signedInAs(std::string email, std::string tier) {
    return AccountState{true, std::move(email), std::move(tier)};
  }
  bool operator==(const AccountState&) const = default;
};

// The optional account on the web service. Signs in through the browser with an
// authorization code protected by PKCE (S256), takes the code back through the program's URL
// scheme, exchanges it for a bearer token, keeps token, e-mail address and tier in the secret
// store, refreshes them at launch and signs out.
//
// Main queue only. Network calls go through the HttpClient port and answer on the main queue,
// so nothing here ever waits for the network. One instance per process, created by the
// composition root; answers that arrive after it is gone are dropped.
class CloudAccount {
 public:
  // Secret store items.
  static constexpr const char* kTokenItem = "cloudToken";
  static constexpr const char* kEmailItem = "cloudEmail";
  static constexpr const char* kTierItem = "cloudTier";
  static constexpr const char* kDeviceIdItem = "cloudDeviceId";

  struct Dependencies {
    HttpClient& http;
    SecretStore& secrets;
    Workspace& workspace;
    Scheduler& scheduler;
    const DebugLog& log;
    CloudConfig config;
  };

  // Signed in at once when a token is stored (no network call here).
  explicit CloudAccount(Dependencies dependencies);
  CloudAccount(const CloudAccount&) = delete;
  CloudAccount& operator=(const CloudAccount&) = delete;

  const Observable<AccountState>& state() const { return state_; }
  const std::optional<std::string>& pendingVerifier() const { return pendingVerifier_; }
  const std::optional<std::string>& pendingState() const { return pendingState_; }

  // Opens the sign-in page in the browser with a fresh verifier and state, replacing any
  // sign-in still pending.
  void signIn();
  // A URL opened through the program's scheme. True when it completed the pending sign-in
  // (the exchange then runs on its own); false, changing nothing, otherwise.
  bool handleCallback(const std::string& url);
  // Re-reads the account from the service; only a 401 signs out. `done` runs when the answer
  // has been handled (or at once when no token is stored).
  void refresh(std::function<void()> done = {});
  // Local at once, even offline: the items go and the state is signed out; the service is told
  // in the background and its answer ignored. The device identifier stays.
  void signOut();

  // The stored token, if any.
  std::optional<std::string> token() const;
  // The installation's device identifier, created and stored on first need.
  std::string deviceId();

 private:
  void exchange(const std::string& code, const std::string& verifier);
  void removeAccountItems();

  Dependencies deps_;
  Observable<AccountState> state_;
  std::optional<std::string> pendingVerifier_;
  std::optional<std::string> pendingState_;
  WeakPtrFactory<CloudAccount> weak_{this};
};

}  // namespace lumarin
