#pragma once

#include <mutex>
#include <string>
#include <unordered_map>

#include "service/Store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace lumarin::service {

// Statements prepared on first use and kept for the connection's life, by their SQL text (a
// literal of ours, so its address names it): parsing the SQL again on every call took longer
// than running it, and all of it under the store's lock.
class SqliteStatements {
 public:
  explicit SqliteStatements(sqlite3* db) : db_(db) {}
  ~SqliteStatements() { clear(); }
  SqliteStatements(const SqliteStatements&) = delete;
  SqliteStatements& operator=(const SqliteStatements&) = delete;

  // Ready to bind and step; nullptr when the SQL does not prepare.
  sqlite3_stmt* get(const char* sql);
  void clear();

 private:
  sqlite3* db_;
  std::unordered_map<const char*, sqlite3_stmt*> prepared_;
};

// The embedded store: one SQLite file in WAL mode. One connection per process behind a mutex:
// SQLite runs one writer at a time anyway, and our statements take microseconds, so a pool
// would buy nothing but more locking. Other processes on the same file wait for the database's
// own lock (busy timeout) and meet the same conditional statements.
class SqliteStore final : public Store {
 public:
  static Result<std::unique_ptr<SqliteStore>> open(const std::string& path);
  ~SqliteStore() override;

  Result<std::int64_t> createAccount(std::string_view email, std::string_view passwordHash,
                                     std::string_view tier, Seconds now) override;
  Result<std::optional<Account>> accountByEmail(std::string_view email) override;
  Status saveCode(std::string_view codeHash, const AuthCode& code) override;
  Result<std::optional<AuthCode>> takeCode(std::string_view codeHash) override;
  Result<int> purgeExpiredCodes(Seconds now) override;
  Status saveToken(std::string_view tokenHash, std::int64_t accountId, std::string_view deviceId,
                   Seconds now) override;
  Result<std::optional<Account>> accountForToken(std::string_view tokenHash, Seconds now,
                                                 Seconds unusedSince) override;
  Result<bool> revokeToken(std::string_view tokenHash) override;
  Result<std::vector<Device>> devices(std::int64_t accountId, Seconds unusedSince) override;
  Result<int> revokeDevice(std::int64_t accountId, std::string_view deviceId) override;
  Result<int> purgeStaleTokens(Seconds unusedSince) override;
  Status recordEvent(std::string_view scope, std::string_view key, std::int64_t bytes,
                     Seconds at) override;
  Result<Usage> usage(std::string_view scope, std::string_view key, Seconds since) override;
  Status clearEvents(std::string_view scope, std::string_view key) override;
  Result<int> purgeEvents(Seconds before) override;
  Result<std::vector<UsageRow>> usageSince(Seconds since) override;
  Status ping() override;
  Result<int> trimAnonymousReports(std::int64_t keep) override;
  Result<std::optional<SyncBlob>> blob(std::int64_t accountId) override;
  Result<PutOutcome> putBlob(std::int64_t accountId, std::int64_t baseVersion,
                             std::string_view blob, std::string_view deviceId,
                             Seconds now) override;
  Status addReport(const Report& report) override;
  Result<std::int64_t> addRelease(const Release& release, std::string_view archive) override;
  Result<std::vector<Release>> releases() override;
  Result<std::optional<std::string>> releaseArchive(std::string_view version,
                                                    std::string_view fileName) override;
  Result<std::vector<Account>> accounts() override;
  Result<std::vector<SyncBlob>> blobs() override;
  Result<std::vector<Report>> reports() override;

 private:
  explicit SqliteStore(sqlite3* db) : db_(db), statements_(db) {}
  Error lastError(std::string_view what) const;

  std::mutex mutex_;
  sqlite3* db_;
  SqliteStatements statements_;
};

}  // namespace lumarin::service
