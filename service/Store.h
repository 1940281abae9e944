#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

namespace lumarin::service {

// Times are seconds since 1970 (UTC), always handed in by the caller: the store never reads a
// clock, so expiry is decided by whoever owns "now".
using Seconds = std::int64_t;

struct Account {
  std::int64_t id = 0;
  std::string email;
  std::string tier;
  std::string passwordHash;
  Seconds createdAt = 0;
};

// A sign-in code handed to the browser, waiting for the program's token exchange.
struct AuthCode {
  std::int64_t accountId = 0;
  std::string challenge;
  Seconds expiresAt = 0;
};

struct SyncBlob {
  std::int64_t accountId = 0;
  std::string email;  // filled by listings only
  std::int64_t version = 0;
  std::string blob;
  std::string deviceId;
  Seconds updatedAt = 0;
};

// What a conditional sync write did. `version` is the new version when stored, the current one
// (0: nothing stored yet) when the base was stale.
struct PutOutcome {
  bool stored = false;
  std::int64_t version = 0;
};

struct Report {
  std::int64_t id = 0;
  std::string kind;  // "improve", "crash", "testlog"
  std::optional<std::int64_t> accountId;
  std::string installId;
  std::string body;
  Seconds receivedAt = 0;
};

// Events counted for limits (failed sign-ins, accounts made, uploads) within a time window.
struct Usage {
  std::int64_t count = 0;
  std::int64_t bytes = 0;
  Seconds oldest = 0;  // of the events counted; 0 when there are none
  Seconds newest = 0;
};

struct UsageRow {
  std::string scope;
  std::string key;
  Usage usage;
};

// A device signed in to an account: the tokens issued to one device identifier.
struct Device {
  std::string deviceId;
  Seconds createdAt = 0;
  Seconds lastUsedAt = 0;
};

// One published build of the program, as the update feed lists it. The archive itself is
// stored beside it and read only when it is downloaded.
struct Release {
  std::int64_t id = 0;
  std::string version;       // the build number the program compares ("CFBundleVersion")
  std::string shortVersion;  // the version shown to people ("CFBundleShortVersionString")
  std::string title;
  std::string notes;     // release notes, HTML
  std::string fileName;  // the archive's name in its download URL
  std::int64_t length = 0;
  std::string edSignature;  // Ed25519 signature of the archive, Base64
  Seconds publishedAt = 0;
};

// Everything the service keeps. Implementations are safe to call from many threads at once
// (the HTTP server's pool) and from several processes sharing one database: every rule that
// must hold under concurrency (a code used once, one winner per sync version) is decided by
// the database in a single conditional statement, never by a read followed by a write.
// Failures of the database come back as errors, never as exceptions.
class Store {
 public:
  virtual ~Store() = default;

  // Opens "postgresql://..." / "postgres://..." (or a libpq "host=... dbname=..." string) on
  // PostgreSQL, anything else as an SQLite file, and creates the tables if needed.
  static Result<std::unique_ptr<Store>> open(const std::string& location);

  // Accounts. Creating fails with code kDuplicate when the e-mail address is taken.
  static constexpr int kDuplicate = 409;
  virtual Result<std::int64_t> createAccount(std::string_view email, std::string_view passwordHash,
                                             std::string_view tier, Seconds now) = 0;
  virtual Result<std::optional<Account>> accountByEmail(std::string_view email) = 0;

  // Codes are kept under the hash of their value; taking one removes it in the same statement,
  // so of two concurrent exchanges of one code only one gets it.
  virtual Status saveCode(std::string_view codeHash, const AuthCode& code) = 0;
  virtual Result<std::optional<AuthCode>> takeCode(std::string_view codeHash) = 0;
  virtual Result<int> purgeExpiredCodes(Seconds now) = 0;

  // Tokens, likewise only as hashes. A token resolves only when it was last used at or after
  // `unusedSince`; using it moves its last use to `now` (in steps of a minute, so that a busy
  // client does not write on every request).
  virtual Status saveToken(std::string_view tokenHash, std::int64_t accountId,
                           std::string_view deviceId, Seconds now) = 0;
  virtual Result<std::optional<Account>> accountForToken(std::string_view tokenHash, Seconds now,
                                                         Seconds unusedSince) = 0;
  virtual Result<bool> revokeToken(std::string_view tokenHash) = 0;
  // The devices of an account with a token still in use since `unusedSince`, oldest first;
  // revoking one removes every token of that device identifier and answers how many.
  virtual Result<std::vector<Device>> devices(std::int64_t accountId, Seconds unusedSince) = 0;
  virtual Result<int> revokeDevice(std::int64_t accountId, std::string_view deviceId) = 0;
  virtual Result<int> purgeStaleTokens(Seconds unusedSince) = 0;

  // Counted events behind the service's limits, kept in the store so that every service
  // process on one database sees the same counts. `scope` names the limit ("signin-account",
  // "upload:crash:install", ...), `key` what it counts for (an address, a hash of an e-mail
  // address, an installation identifier).
  virtual Status recordEvent(std::string_view scope, std::string_view key, std::int64_t bytes,
                             Seconds at) = 0;
  virtual Result<Usage> usage(std::string_view scope, std::string_view key, Seconds since) = 0;
  virtual Status clearEvents(std::string_view scope, std::string_view key) = 0;
  virtual Result<int> purgeEvents(Seconds before) = 0;
  // Every scope and key with events since `since`, for the admin listing.
  virtual Result<std::vector<UsageRow>> usageSince(Seconds since) = 0;

  // Answers whether the database can be reached and answers a query.
  virtual Status ping() = 0;

  // The one sync blob of an account. A put stores only when `baseVersion` is the current
  // version (0 when there is none yet) and then moves it to baseVersion + 1.
  virtual Result<std::optional<SyncBlob>> blob(std::int64_t accountId) = 0;
  virtual Result<PutOutcome> putBlob(std::int64_t accountId, std::int64_t baseVersion,
                                     std::string_view blob, std::string_view deviceId,
                                     Seconds now) = 0;

  virtual Status addReport(const Report& report) = 0;
  // Removes the oldest reports without an account until at most `keep` of them are left;
  // answers how many went.
  virtual Result<int> trimAnonymousReports(std::int64_t keep) = 0;

  // Releases are unique by `version`: adding one again fails with kDuplicate. `release.length`
  // is taken from the archive.
  virtual Result<std::int64_t> addRelease(const Release& release, std::string_view archive) = 0;
  // Oldest first, without their archives.
  virtual Result<std::vector<Release>> releases() = 0;
  // The archive of a release, when both its version and its file name match.
  virtual Result<std::optional<std::string>> releaseArchive(std::string_view version,
                                                            std::string_view fileName) = 0;

  // Listings for the admin command, oldest first.
  virtual Result<std::vector<Account>> accounts() = 0;
  virtual Result<std::vector<SyncBlob>> blobs() = 0;
  virtual Result<std::vector<Report>> reports() = 0;

 protected:
  Store() = default;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
};

}  // namespace lumarin::service
