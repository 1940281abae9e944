#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/Store.h"

struct pg_conn;

namespace lumarin::service {

// The shared store: PostgreSQL through libpq, for several service processes on one database.
// A libpq connection serves one statement at a time, so the store keeps a small pool and lends
// each call a connection of its own; the database's row locks and conditional statements then
// settle races between threads and processes alike.
class PostgresStore final : public Store {
 public:
  static constexpr std::size_t kDefaultPoolSize = 8;
  static Result<std::unique_ptr<PostgresStore>> open(const std::string& conninfo,
                                                     std::size_t poolSize = kDefaultPoolSize);
  ~PostgresStore() override;

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

  class Lease;
  // A pooled connection with the statements it has prepared.
  struct Connection;

 private:
  PostgresStore(std::string conninfo, std::size_t poolSize)
      : conninfo_(std::move(conninfo)), poolSize_(poolSize) {}
  Result<Connection*> acquire();
  void release(Connection* connection);

  const std::string conninfo_;
  const std::size_t poolSize_;
  std::mutex mutex_;
  std::condition_variable available_;
  std::vector<Connection*> idle_;
  std::size_t open_ = 0;
};

}  // namespace lumarin::service
