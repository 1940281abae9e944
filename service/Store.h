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

  // Tokens, likewise only as hashes.
  virtual Status saveToken(std::string_view tokenHash, std::int64_t accountId,
                           std::string_view deviceId, Seconds now) = 0;
  virtual Result<std::optional<Account>> accountForToken(std::string_view tokenHash) = 0;
  virtual Result<bool> revokeToken(std::string_view tokenHash) = 0;

  // The one sync blob of an account. A put stores only when `baseVersion` is the current
  // version (0 when there is none yet) and then moves it to baseVersion + 1.
  virtual Result<std::optional<SyncBlob>> blob(std::int64_t accountId) = 0;
  virtual Result<PutOutcome> putBlob(std::int64_t accountId, std::int64_t baseVersion,
                                     std::string_view blob, std::string_view deviceId,
                                     Seconds now) = 0;

  virtual Status addReport(const Report& report) = 0;

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
