#include "service/PostgresStore.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <unordered_map>
#include <utility>

namespace lumarin::service {

namespace {

// Identifiers are BIGINT and times BIGINT seconds, like the SQLite schema's INTEGER.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS accounts (
  id BIGSERIAL PRIMARY KEY,
  email TEXT NOT NULL UNIQUE,
  password_hash TEXT NOT NULL,
  tier TEXT NOT NULL,
  created_at BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS auth_codes (
  code_hash TEXT PRIMARY KEY,
  account_id BIGINT NOT NULL REFERENCES accounts(id),
  challenge TEXT NOT NULL,
  expires_at BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS tokens (
  token_hash TEXT PRIMARY KEY,
  account_id BIGINT NOT NULL REFERENCES accounts(id),
  device_id TEXT NOT NULL,
  created_at BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS sync_blobs (
  account_id BIGINT PRIMARY KEY REFERENCES accounts(id),
  version BIGINT NOT NULL,
  blob TEXT NOT NULL,
  device_id TEXT NOT NULL,
  updated_at BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS reports (
  id BIGSERIAL PRIMARY KEY,
  kind TEXT NOT NULL,
  account_id BIGINT,
  install_id TEXT NOT NULL,
  body TEXT NOT NULL,
  received_at BIGINT NOT NULL
);
CREATE TABLE IF NOT EXISTS releases (
  id BIGSERIAL PRIMARY KEY,
  version TEXT NOT NULL UNIQUE,
  short_version TEXT NOT NULL,
  title TEXT NOT NULL,
  notes TEXT NOT NULL,
  file_name TEXT NOT NULL,
  length BIGINT NOT NULL,
  ed_signature TEXT NOT NULL,
  published_at BIGINT NOT NULL,
  archive BYTEA NOT NULL
);
ALTER TABLE tokens ADD COLUMN IF NOT EXISTS last_used_at BIGINT;
CREATE INDEX IF NOT EXISTS tokens_account ON tokens (account_id);
CREATE TABLE IF NOT EXISTS limit_events (
  scope TEXT NOT NULL,
  key TEXT NOT NULL,
  bytes BIGINT NOT NULL,
  at BIGINT NOT NULL
);
CREATE INDEX IF NOT EXISTS limit_events_key ON limit_events (scope, key, at);
CREATE INDEX IF NOT EXISTS limit_events_at ON limit_events (at);
)sql";

// Any fixed number: it only keeps two processes from creating the tables at the same moment
// (CREATE TABLE IF NOT EXISTS is not safe against itself).
constexpr const char* kSchemaLock = "SELECT pg_advisory_lock(7317001)";
constexpr const char* kSchemaUnlock = "SELECT pg_advisory_unlock(7317001)";

struct ResultDeleter {
  void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, ResultDeleter>;
using Param = std::optional<std::string>;

// Last use moves in steps of this much, so a client's every request is not also a write.
constexpr Seconds kTouchStep = 60;

int affectedRows(const PgResult& r) {
  const char* affected = PQcmdTuples(r.get());
  int count = 0;
  std::from_chars(affected, affected + std::char_traits<char>::length(affected), count);
  return count;
}

// The error of a statement that failed, from its result or else from the connection.
Error failure(PGconn* conn, const PgResult& result) {
  std::string message = result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn);
  while (!message.empty() && message.back() == '\n') {
    message.pop_back();
  }
  return Error{"postgresql: " + message, 0};
}

Param text(std::string_view value) { return std::string(value); }
Param bigint(std::int64_t value) { return std::to_string(value); }

Result<PgResult> run(PGconn* conn, const char* sql, const std::vector<Param>& params = {}) {
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const auto& p : params) {
    values.push_back(p ? p->c_str() : nullptr);
  }
  PgResult result(PQexecParams(conn, sql, static_cast<int>(values.size()), nullptr, values.data(),
                               nullptr, nullptr, 0));
  const auto status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    std::string message = result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn);
    while (!message.empty() && message.back() == '\n') {
      message.pop_back();
    }
    return Error{"postgresql: " + message, 0};
  }
  return result;
}

std::int64_t integerAt(const PgResult& r, int row, int column) {
  const char* value = PQgetvalue(r.get(), row, column);
  std::int64_t out = 0;
  std::from_chars(value, value + PQgetlength(r.get(), row, column), out);
  return out;
}

std::string textAt(const PgResult& r, int row, int column) {
  return std::string(PQgetvalue(r.get(), row, column),
                     static_cast<std::size_t>(PQgetlength(r.get(), row, column)));
}

// Archives travel as bytes in both directions: the last parameter in binary format when
// `binaryLast`, and every result column in binary format when `binaryResult` (used only for
// single BYTEA columns).
Result<PgResult> runBinary(PGconn* conn, const char* sql, const std::vector<std::string>& params,
                           bool binaryLast, bool binaryResult) {
  std::vector<const char*> values;
  std::vector<int> lengths;
  std::vector<int> formats;
  for (std::size_t i = 0; i < params.size(); ++i) {
    values.push_back(params[i].data());
    lengths.push_back(static_cast<int>(params[i].size()));
    formats.push_back(binaryLast && i + 1 == params.size() ? 1 : 0);
  }
  PgResult result(PQexecParams(conn, sql, static_cast<int>(values.size()), nullptr, values.data(),
                               lengths.data(), formats.data(), binaryResult ? 1 : 0));
  const auto status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    std::string message = result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn);
    while (!message.empty() && message.back() == '\n') {
      message.pop_back();
    }
    return Error{"postgresql: " + message, 0};
  }
  return result;
}

// Several statements without parameters (the extended protocol takes only one at a time).
Status runScript(PGconn* conn, const char* sql) {
  PgResult result(PQexec(conn, sql));
  if (!result || PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
    std::string message = result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn);
    while (!message.empty() && message.back() == '\n') {
      message.pop_back();
    }
    return Error{"postgresql: " + message, 0};
  }
  return success();
}

Account accountAt(const PgResult& r, int row) {
  return Account{integerAt(r, row, 0), textAt(r, row, 1), textAt(r, row, 2), textAt(r, row, 3),
                 integerAt(r, row, 4)};
}

}  // namespace

struct PostgresStore::Connection {
  explicit Connection(PGconn* c) : conn(c) {}
  ~Connection() { PQfinish(conn); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  PGconn* conn;
  // Statement names on this connection, by their SQL text (a literal of ours, so its address
  // names it). Each is parsed and planned once per connection instead of on every call.
  std::unordered_map<const char*, std::string> prepared;
};

// A connection borrowed from the pool for one call, returned on every path out.
class PostgresStore::Lease {
 public:
  explicit Lease(PostgresStore& store) : store_(store), conn_(store.acquire()) {}
  ~Lease() {
    if (conn_.ok()) {
      store_.release(conn_.value());
    }
  }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;

  bool ok() const { return conn_.ok(); }
  const Error& error() const { return conn_.error(); }
  PGconn* get() const { return conn_.value()->conn; }
  Connection& connection() const { return *conn_.value(); }

 private:
  PostgresStore& store_;
  Result<Connection*> conn_;
};

namespace {

// Runs one of our statements as a prepared statement of the lent connection, preparing it on
// its first use there.
Result<PgResult> run(const PostgresStore::Lease& lease, const char* sql,
                     const std::vector<Param>& params = {}) {
  auto& connection = lease.connection();
  auto found = connection.prepared.find(sql);
  if (found == connection.prepared.end()) {
    std::string name = "lumarin_" + std::to_string(connection.prepared.size());
    PgResult prepared(PQprepare(connection.conn, name.c_str(), sql, 0, nullptr));
    if (!prepared || PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) {
      return failure(connection.conn, prepared);
    }
    found = connection.prepared.emplace(sql, std::move(name)).first;
  }
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const auto& p : params) {
    values.push_back(p ? p->c_str() : nullptr);
  }
  PgResult result(PQexecPrepared(connection.conn, found->second.c_str(),
                                 static_cast<int>(values.size()), values.data(), nullptr, nullptr,
                                 0));
  const auto status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    return failure(connection.conn, result);
  }
  return result;
}

}  // namespace

Result<std::unique_ptr<PostgresStore>> PostgresStore::open(const std::string& conninfo,
                                                           std::size_t poolSize) {
  std::unique_ptr<PostgresStore> store(new PostgresStore(conninfo, poolSize == 0 ? 1 : poolSize));
  Lease lease(*store);
  if (!lease.ok()) {
    return lease.error();
  }
  if (auto locked = run(lease.get(), kSchemaLock); !locked) {
    return locked.error();
  }
  auto created = runScript(lease.get(), kSchema);
  auto unlocked = run(lease.get(), kSchemaUnlock);
  if (!created) {
    return created.error();
  }
  if (!unlocked) {
    return unlocked.error();
  }
  return store;
}

PostgresStore::~PostgresStore() {
  for (auto* connection : idle_) {
    delete connection;
  }
}

Result<PostgresStore::Connection*> PostgresStore::acquire() {
  std::unique_lock lock(mutex_);
  available_.wait(lock, [this] { return !idle_.empty() || open_ < poolSize_; });
  if (!idle_.empty()) {
    auto* connection = idle_.back();
    idle_.pop_back();
    return connection;
  }
  ++open_;
  lock.unlock();
  PGconn* conn = PQconnectdb(conninfo_.c_str());
  if (PQstatus(conn) != CONNECTION_OK) {
    std::string message = conn ? PQerrorMessage(conn) : "out of memory";
    while (!message.empty() && message.back() == '\n') {
      message.pop_back();
    }
    PQfinish(conn);
    lock.lock();
    --open_;
    available_.notify_one();
    return Error{"postgresql: cannot connect: " + message};
  }
  // Our own messages are enough; the server's notices would only clutter stderr.
  PQsetNoticeProcessor(
      conn, [](void*, const char*) {}, nullptr);
  return new Connection(conn);
}

void PostgresStore::release(Connection* connection) {
  std::lock_guard lock(mutex_);
  if (PQstatus(connection->conn) == CONNECTION_OK &&
      PQtransactionStatus(connection->conn) == PQTRANS_IDLE) {
    idle_.push_back(connection);
  } else {
    // A dropped server connection is not handed out again; the next caller opens a new one
    // (which prepares its statements afresh).
    delete connection;
    --open_;
  }
  available_.notify_one();
}

Result<std::int64_t> PostgresStore::createAccount(std::string_view email,
                                                  std::string_view passwordHash,
                                                  std::string_view tier, Seconds now) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease,
               "INSERT INTO accounts (email, password_hash, tier, created_at) "
               "VALUES ($1, $2, $3, $4) ON CONFLICT (email) DO NOTHING RETURNING id",
               {text(email), text(passwordHash), text(tier), bigint(now)});
  if (!r) {
    return r.error();
  }
  if (PQntuples(r->get()) == 0) {
    return Error{"an account with this e-mail address exists", kDuplicate};
  }
  return integerAt(r.value(), 0, 0);
}

Result<std::optional<Account>> PostgresStore::accountByEmail(std::string_view email) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r =
      run(lease, "SELECT id, email, tier, password_hash, created_at FROM accounts WHERE email = $1",
          {text(email)});
  if (!r) {
    return r.error();
  }
  if (PQntuples(r->get()) == 0) {
    return std::optional<Account>();
  }
  return std::optional<Account>(accountAt(r.value(), 0));
}

Status PostgresStore::saveCode(std::string_view codeHash, const AuthCode& code) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r =
      run(lease,
          "INSERT INTO auth_codes (code_hash, account_id, challenge, expires_at) "
          "VALUES ($1, $2, $3, $4)",
          {text(codeHash), bigint(code.accountId), text(code.challenge), bigint(code.expiresAt)});
  if (!r) {
    return r.error();
  }
  return success();
}

Result<std::optional<AuthCode>> PostgresStore::takeCode(std::string_view codeHash) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease,
               "DELETE FROM auth_codes WHERE code_hash = $1 "
               "RETURNING account_id, challenge, expires_at",
               {text(codeHash)});
  if (!r) {
    return r.error();
  }
  if (PQntuples(r->get()) == 0) {
    return std::optional<AuthCode>();
  }
  return std::optional<AuthCode>(
      AuthCode{integerAt(r.value(), 0, 0), textAt(r.value(), 0, 1), integerAt(r.value(), 0, 2)});
}

Result<int> PostgresStore::purgeExpiredCodes(Seconds now) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease, "DELETE FROM auth_codes WHERE expires_at <= $1", {bigint(now)});
  if (!r) {
    return r.error();
  }
  const char* affected = PQcmdTuples(r->get());
  int count = 0;
  std::from_chars(affected, affected + std::char_traits<char>::length(affected), count);
  return count;
}

Status PostgresStore::saveToken(std::string_view tokenHash, std::int64_t accountId,
                                std::string_view deviceId, Seconds now) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease,
               "INSERT INTO tokens (token_hash, account_id, device_id, created_at) "
               "VALUES ($1, $2, $3, $4)",
               {text(tokenHash), bigint(accountId), text(deviceId), bigint(now)});
  if (!r) {
    return r.error();
  }
  return success();
}

Result<std::optional<Account>> PostgresStore::accountForToken(std::string_view tokenHash,
                                                              Seconds now, Seconds unusedSince) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease,
               "SELECT a.id, a.email, a.tier, a.password_hash, a.created_at, "
               "COALESCE(t.last_used_at, t.created_at) FROM tokens t "
               "JOIN accounts a ON a.id = t.account_id WHERE t.token_hash = $1",
               {text(tokenHash)});
  if (!r) {
    return r.error();
  }
  if (PQntuples(r->get()) == 0) {
    return std::optional<Account>();
  }
  const Seconds lastUsed = integerAt(r.value(), 0, 5);
  if (lastUsed < unusedSince) {
    return std::optional<Account>();
  }
  if (now - lastUsed >= kTouchStep) {
    auto touched = run(lease, "UPDATE tokens SET last_used_at = $1 WHERE token_hash = $2",
                       {bigint(now), text(tokenHash)});
    if (!touched) {
      return touched.error();
    }
  }
  return std::optional<Account>(accountAt(r.value(), 0));
}

Result<std::vector<Device>> PostgresStore::devices(std::int64_t accountId, Seconds unusedSince) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease,
               "SELECT device_id, MIN(created_at), MAX(COALESCE(last_used_at, created_at)) "
               "FROM tokens WHERE account_id = $1 AND COALESCE(last_used_at, created_at) >= $2 "
               "GROUP BY device_id ORDER BY MIN(created_at), device_id",
               {bigint(accountId), bigint(unusedSince)});
  if (!r) {
    return r.error();
  }
  std::vector<Device> out;
  const int count = PQntuples(r->get());
  out.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    out.push_back(
        Device{textAt(r.value(), i, 0), integerAt(r.value(), i, 1), integerAt(r.value(), i, 2)});
  }
  return out;
}

Result<int> PostgresStore::revokeDevice(std::int64_t accountId, std::string_view deviceId) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease, "DELETE FROM tokens WHERE account_id = $1 AND device_id = $2",
               {bigint(accountId), text(deviceId)});
  if (!r) {
    return r.error();
  }
  return affectedRows(r.value());
}

Result<int> PostgresStore::purgeStaleTokens(Seconds unusedSince) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease, "DELETE FROM tokens WHERE COALESCE(last_used_at, created_at) < $1",
               {bigint(unusedSince)});
  if (!r) {
    return r.error();
  }
  return affectedRows(r.value());
}

Status PostgresStore::recordEvent(std::string_view scope, std::string_view key, std::int64_t bytes,
                                  Seconds at) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease, "INSERT INTO limit_events (scope, key, bytes, at) VALUES ($1, $2, $3, $4)",
               {text(scope), text(key), bigint(bytes), bigint(at)});
  if (!r) {
    return r.error();
  }
  return success();
}

Result<Usage> PostgresStore::usage(std::string_view scope, std::string_view key, Seconds since) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease,
               "SELECT COUNT(*), COALESCE(SUM(bytes), 0), COALESCE(MIN(at), 0), "
               "COALESCE(MAX(at), 0) FROM limit_events WHERE scope = $1 AND key = $2 AND at >= $3",
               {text(scope), text(key), bigint(since)});
  if (!r) {
    return r.error();
  }
  return Usage{integerAt(r.value(), 0, 0), integerAt(r.value(), 0, 1), integerAt(r.value(), 0, 2),
               integerAt(r.value(), 0, 3)};
}

Status PostgresStore::clearEvents(std::string_view scope, std::string_view key) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease, "DELETE FROM limit_events WHERE scope = $1 AND key = $2",
               {text(scope), text(key)});
  if (!r) {
    return r.error();
  }
  return success();
}

Result<int> PostgresStore::purgeEvents(Seconds before) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease, "DELETE FROM limit_events WHERE at < $1", {bigint(before)});
  if (!r) {
    return r.error();
  }
  return affectedRows(r.value());
}

Result<std::vector<UsageRow>> PostgresStore::usageSince(Seconds since) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease,
               "SELECT scope, key, COUNT(*), SUM(bytes), MIN(at), MAX(at) FROM limit_events "
               "WHERE at >= $1 GROUP BY scope, key ORDER BY scope, key",
               {bigint(since)});
  if (!r) {
    return r.error();
  }
  std::vector<UsageRow> out;
  const auto& rows = r.value();
  const int count = PQntuples(rows.get());
  out.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    out.push_back(UsageRow{textAt(rows, i, 0), textAt(rows, i, 1),
                           Usage{integerAt(rows, i, 2), integerAt(rows, i, 3),
                                 integerAt(rows, i, 4), integerAt(rows, i, 5)}});
  }
  return out;
}

Status PostgresStore::ping() {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease, "SELECT 1");
  if (!r) {
    return r.error();
  }
  return success();
}

Result<int> PostgresStore::trimAnonymousReports(std::int64_t keep) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease,
               "DELETE FROM reports WHERE id IN (SELECT id FROM reports WHERE account_id IS NULL "
               "ORDER BY id DESC OFFSET $1)",
               {bigint(keep)});
  if (!r) {
    return r.error();
  }
  return affectedRows(r.value());
}

Result<bool> PostgresStore::revokeToken(std::string_view tokenHash) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease, "DELETE FROM tokens WHERE token_hash = $1 RETURNING account_id",
               {text(tokenHash)});
  if (!r) {
    return r.error();
  }
  return PQntuples(r->get()) > 0;
}

Result<std::optional<SyncBlob>> PostgresStore::blob(std::int64_t accountId) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease,
               "SELECT version, blob, device_id, updated_at FROM sync_blobs "
               "WHERE account_id = $1",
               {bigint(accountId)});
  if (!r) {
    return r.error();
  }
  if (PQntuples(r->get()) == 0) {
    return std::optional<SyncBlob>();
  }
  const auto& row = r.value();
  return std::optional<SyncBlob>(SyncBlob{accountId,
                                          {},
                                          integerAt(row, 0, 0),
                                          textAt(row, 0, 1),
                                          textAt(row, 0, 2),
                                          integerAt(row, 0, 3)});
}

Result<PutOutcome> PostgresStore::putBlob(std::int64_t accountId, std::int64_t baseVersion,
                                          std::string_view blob, std::string_view deviceId,
                                          Seconds now) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  // The version test sits inside the write: of N concurrent writers on one base, the row lock
  // lets one update and the rest find a version that no longer matches.
  auto r =
      baseVersion == 0
          ? run(lease,
                "INSERT INTO sync_blobs (account_id, version, blob, device_id, updated_at) "
                "VALUES ($1, 1, $2, $3, $4) ON CONFLICT (account_id) DO NOTHING "
                "RETURNING version",
                {bigint(accountId), text(blob), text(deviceId), bigint(now)})
          : run(lease,
                "UPDATE sync_blobs SET version = version + 1, blob = $2, device_id = $3, "
                "updated_at = $4 WHERE account_id = $1 AND version = $5 RETURNING version",
                {bigint(accountId), text(blob), text(deviceId), bigint(now), bigint(baseVersion)});
  if (!r) {
    return r.error();
  }
  if (PQntuples(r->get()) == 1) {
    return PutOutcome{true, integerAt(r.value(), 0, 0)};
  }
  auto current =
      run(lease, "SELECT version FROM sync_blobs WHERE account_id = $1", {bigint(accountId)});
  if (!current) {
    return current.error();
  }
  if (PQntuples(current->get()) == 0) {
    return PutOutcome{false, 0};
  }
  return PutOutcome{false, integerAt(current.value(), 0, 0)};
}

Status PostgresStore::addReport(const Report& report) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease,
               "INSERT INTO reports (kind, account_id, install_id, body, received_at) "
               "VALUES ($1, $2, $3, $4, $5)",
               {text(report.kind), report.accountId ? bigint(*report.accountId) : Param(),
                text(report.installId), text(report.body), bigint(report.receivedAt)});
  if (!r) {
    return r.error();
  }
  return success();
}

Result<std::vector<Account>> PostgresStore::accounts() {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r =
      run(lease, "SELECT id, email, tier, password_hash, created_at FROM accounts ORDER BY id");
  if (!r) {
    return r.error();
  }
  std::vector<Account> out;
  out.reserve(static_cast<std::size_t>(PQntuples(r->get())));
  for (int i = 0; i < PQntuples(r->get()); ++i) {
    out.push_back(accountAt(r.value(), i));
  }
  return out;
}

Result<std::vector<SyncBlob>> PostgresStore::blobs() {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease,
               "SELECT b.account_id, a.email, b.version, b.blob, b.device_id, b.updated_at "
               "FROM sync_blobs b JOIN accounts a ON a.id = b.account_id "
               "ORDER BY b.account_id");
  if (!r) {
    return r.error();
  }
  std::vector<SyncBlob> out;
  const auto& rows = r.value();
  out.reserve(static_cast<std::size_t>(PQntuples(rows.get())));
  for (int i = 0; i < PQntuples(rows.get()); ++i) {
    out.push_back(SyncBlob{integerAt(rows, i, 0), textAt(rows, i, 1), integerAt(rows, i, 2),
                           textAt(rows, i, 3), textAt(rows, i, 4), integerAt(rows, i, 5)});
  }
  return out;
}

Result<std::vector<Report>> PostgresStore::reports() {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease,
               "SELECT id, kind, account_id, install_id, body, received_at FROM reports "
               "ORDER BY id");
  if (!r) {
    return r.error();
  }
  std::vector<Report> out;
  const auto& rows = r.value();
  out.reserve(static_cast<std::size_t>(PQntuples(rows.get())));
  for (int i = 0; i < PQntuples(rows.get()); ++i) {
    Report report{integerAt(rows, i, 0), textAt(rows, i, 1), std::nullopt,
                  textAt(rows, i, 3),    textAt(rows, i, 4), integerAt(rows, i, 5)};
    if (PQgetisnull(rows.get(), i, 2) == 0) {
      report.accountId = integerAt(rows, i, 2);
    }
    out.push_back(std::move(report));
  }
  return out;
}

Result<std::int64_t> PostgresStore::addRelease(const Release& release, std::string_view archive) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = runBinary(lease.get(),
                     "INSERT INTO releases (version, short_version, title, notes, file_name, "
                     "length, ed_signature, published_at, archive) "
                     "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9) "
                     "ON CONFLICT (version) DO NOTHING RETURNING id",
                     {release.version, release.shortVersion, release.title, release.notes,
                      release.fileName, std::to_string(archive.size()), release.edSignature,
                      std::to_string(release.publishedAt), std::string(archive)},
                     true, false);
  if (!r) {
    return r.error();
  }
  if (PQntuples(r->get()) == 0) {
    return Error{"a release with version " + release.version + " exists", kDuplicate};
  }
  return integerAt(r.value(), 0, 0);
}

Result<std::vector<Release>> PostgresStore::releases() {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r = run(lease,
               "SELECT id, version, short_version, title, notes, file_name, length, "
               "ed_signature, published_at FROM releases ORDER BY id");
  if (!r) {
    return r.error();
  }
  std::vector<Release> out;
  const auto& rows = r.value();
  const int count = PQntuples(rows.get());
  out.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) {
    out.push_back(Release{integerAt(rows, i, 0), textAt(rows, i, 1), textAt(rows, i, 2),
                          textAt(rows, i, 3), textAt(rows, i, 4), textAt(rows, i, 5),
                          integerAt(rows, i, 6), textAt(rows, i, 7), integerAt(rows, i, 8)});
  }
  return out;
}

Result<std::optional<std::string>> PostgresStore::releaseArchive(std::string_view version,
                                                                 std::string_view fileName) {
  Lease lease(*this);
  if (!lease.ok()) {
    return lease.error();
  }
  auto r =
      runBinary(lease.get(), "SELECT archive FROM releases WHERE version = $1 AND file_name = $2",
                {std::string(version), std::string(fileName)}, false, true);
  if (!r) {
    return r.error();
  }
  if (PQntuples(r->get()) == 0) {
    return std::optional<std::string>();
  }
  return std::optional<std::string>(textAt(r.value(), 0, 0));
}

}  // namespace lumarin::service
