#include "service/SqliteStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace lumarin::service {

namespace {

constexpr const char* kSqliteSchema = R"sql(
CREATE TABLE IF NOT EXISTS accounts (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  email TEXT NOT NULL UNIQUE,
  password_hash TEXT NOT NULL,
  tier TEXT NOT NULL,
  created_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS auth_codes (
  code_hash TEXT PRIMARY KEY,
  account_id INTEGER NOT NULL REFERENCES accounts(id),
  challenge TEXT NOT NULL,
  expires_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS tokens (
  token_hash TEXT PRIMARY KEY,
  account_id INTEGER NOT NULL REFERENCES accounts(id),
  device_id TEXT NOT NULL,
  created_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS sync_blobs (
  account_id INTEGER PRIMARY KEY REFERENCES accounts(id),
  version INTEGER NOT NULL,
  blob TEXT NOT NULL,
  device_id TEXT NOT NULL,
  updated_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS reports (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  kind TEXT NOT NULL,
  account_id INTEGER,
  install_id TEXT NOT NULL,
  body TEXT NOT NULL,
  received_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS releases (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  version TEXT NOT NULL UNIQUE,
  short_version TEXT NOT NULL,
  title TEXT NOT NULL,
  notes TEXT NOT NULL,
  file_name TEXT NOT NULL,
  length INTEGER NOT NULL,
  ed_signature TEXT NOT NULL,
  published_at INTEGER NOT NULL,
  archive BLOB NOT NULL
);
CREATE TABLE IF NOT EXISTS limit_events (
  scope TEXT NOT NULL,
  key TEXT NOT NULL,
  bytes INTEGER NOT NULL,
  at INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS limit_events_key ON limit_events (scope, key, at);
CREATE INDEX IF NOT EXISTS limit_events_at ON limit_events (at);
CREATE INDEX IF NOT EXISTS tokens_account ON tokens (account_id);
)sql";

// Last use moves in steps of this much, so a client's every request is not also a write.
constexpr Seconds kSqliteTouchStep = 60;

// Bound as a BLOB rather than as text: archives are bytes, not UTF-8.
struct BlobParam {
  std::string_view bytes;
};

// One run of a prepared statement. A kept one (from the store's SqliteStatements) is reset and
// unbound on every path out, which also ends its implicit transaction; a one-off is finalised.
class Statement {
 public:
  Statement(SqliteStatements& kept, const char* sql) : stmt_(kept.get(sql)), kept_(true) {
    prepared_ = stmt_ != nullptr;
  }
  Statement(sqlite3* db, const char* sql) {
    prepared_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) == SQLITE_OK;
  }
  ~Statement() {
    if (!kept_) {
      sqlite3_finalize(stmt_);
    } else if (stmt_ != nullptr) {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return prepared_ && bound_; }

  template <typename... Args>
  Statement& bind(const Args&... args) {
    int index = 0;
    (bindOne(++index, args), ...);
    return *this;
  }

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step() { return ok() ? sqlite3_step(stmt_) : SQLITE_ERROR; }

  std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
  bool isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
  std::string blob(int column) const {
    const auto* data = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return data == nullptr
               ? std::string()
               : std::string(static_cast<const char*>(data), static_cast<std::size_t>(size));
  }
  std::string text(int column) const {
    const auto* data = sqlite3_column_text(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return data == nullptr
               ? std::string()
               : std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
  }

 private:
  void bindOne(int index, std::int64_t value) {
    bound_ = bound_ && sqlite3_bind_int64(stmt_, index, value) == SQLITE_OK;
  }
  void bindOne(int index, std::string_view value) {
    // SQLITE_TRANSIENT: SQLite copies, so temporaries are fine.
    bound_ = bound_ && sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                                         SQLITE_TRANSIENT) == SQLITE_OK;
  }
  void bindOne(int index, const std::string& value) { bindOne(index, std::string_view(value)); }
  void bindOne(int index, BlobParam value) {
    // A zero-length blob needs a non-null pointer, or SQLite stores NULL.
    static constexpr char kEmpty = 0;
    bound_ = bound_ &&
             sqlite3_bind_blob64(stmt_, index, value.bytes.empty() ? &kEmpty : value.bytes.data(),
                                 value.bytes.size(), SQLITE_TRANSIENT) == SQLITE_OK;
  }
  void bindOne(int index, const std::optional<std::int64_t>& value) {
    if (value) {
      bindOne(index, *value);
    } else {
      bound_ = bound_ && sqlite3_bind_null(stmt_, index) == SQLITE_OK;
    }
  }

  sqlite3_stmt* stmt_ = nullptr;
  bool kept_ = false;
  bool prepared_ = false;
  bool bound_ = true;
};

Release readRelease(const Statement& s) {
  return Release{s.integer(0), s.text(1),    s.text(2), s.text(3),   s.text(4),
                 s.text(5),    s.integer(6), s.text(7), s.integer(8)};
}

Account readAccount(const Statement& s) {
  return Account{s.integer(0), s.text(1), s.text(2), s.text(3), s.integer(4)};
}

}  // namespace

Result<std::unique_ptr<SqliteStore>> SqliteStore::open(const std::string& path) {
  // The file holds password hashes and everyone's settings: only its owner may read it. SQLite
  // gives its journal files the mode of the database file, so creating that one is enough.
  if (path != ":memory:" && !path.empty() && !path.starts_with("file:")) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
    }
  }
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(
      path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    Error error{"cannot open " + path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc))};
    sqlite3_close(db);
    return error;
  }
  std::unique_ptr<SqliteStore> store(new SqliteStore(db));
  // Another service process may hold the write lock for a moment; wait rather than fail.
  sqlite3_busy_timeout(db, 5000);
  char* message = nullptr;
  const std::string setup = std::string(
                                "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                                "PRAGMA foreign_keys=ON;") +
                            kSqliteSchema;
  if (sqlite3_exec(db, setup.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    Error error{"cannot prepare " + path + ": " + (message ? message : "unknown error")};
    sqlite3_free(message);
    return error;
  }
  // Databases made before tokens expired have no last-use column; their tokens count as last
  // used when they were made.
  {
    Statement has(db, "SELECT 1 FROM pragma_table_info('tokens') WHERE name = 'last_used_at'");
    if (has.step() == SQLITE_DONE &&
        sqlite3_exec(db, "ALTER TABLE tokens ADD COLUMN last_used_at INTEGER", nullptr, nullptr,
                     nullptr) != SQLITE_OK) {
      return store->lastError("add the tokens' last use");
    }
  }
  return store;
}

sqlite3_stmt* SqliteStatements::get(const char* sql) {
  if (auto it = prepared_.find(sql); it != prepared_.end()) {
    return it->second;
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return nullptr;
  }
  prepared_.emplace(sql, stmt);
  return stmt;
}

void SqliteStatements::clear() {
  for (auto& [sql, stmt] : prepared_) {
    sqlite3_finalize(stmt);
  }
  prepared_.clear();
}

SqliteStore::~SqliteStore() {
  // Statements first: a connection with statements left is not closed.
  statements_.clear();
  sqlite3_close(db_);
}

Error SqliteStore::lastError(std::string_view what) const {
  return Error{std::string("sqlite: ") + std::string(what) + ": " + sqlite3_errmsg(db_),
               sqlite3_extended_errcode(db_)};
}

Result<std::int64_t> SqliteStore::createAccount(std::string_view email,
                                                std::string_view passwordHash,
                                                std::string_view tier, Seconds now) {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "INSERT INTO accounts (email, password_hash, tier, created_at) VALUES (?, ?, ?, ?) "
              "ON CONFLICT (email) DO NOTHING RETURNING id");
  s.bind(email, passwordHash, tier, now);
  const int rc = s.step();
  if (rc == SQLITE_ROW) {
    const auto id = s.integer(0);
    // Run the statement to its end so its implicit transaction commits here, not at finalise.
    if (s.step() != SQLITE_DONE) {
      return lastError("create account");
    }
    return id;
  }
  if (rc == SQLITE_DONE) {
    return Error{"an account with this e-mail address exists", kDuplicate};
  }
  return lastError("create account");
}

Result<std::optional<Account>> SqliteStore::accountByEmail(std::string_view email) {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "SELECT id, email, tier, password_hash, created_at FROM accounts WHERE email = ?");
  s.bind(email);
  const int rc = s.step();
  if (rc == SQLITE_ROW) {
    return std::optional<Account>(readAccount(s));
  }
  if (rc == SQLITE_DONE) {
    return std::optional<Account>();
  }
  return lastError("find account");
}

Status SqliteStore::saveCode(std::string_view codeHash, const AuthCode& code) {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "INSERT INTO auth_codes (code_hash, account_id, challenge, expires_at) "
              "VALUES (?, ?, ?, ?)");
  s.bind(codeHash, code.accountId, code.challenge, code.expiresAt);
  if (s.step() != SQLITE_DONE) {
    return lastError("save code");
  }
  return success();
}

Result<std::optional<AuthCode>> SqliteStore::takeCode(std::string_view codeHash) {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "DELETE FROM auth_codes WHERE code_hash = ? "
              "RETURNING account_id, challenge, expires_at");
  s.bind(codeHash);
  const int rc = s.step();
  if (rc == SQLITE_ROW) {
    AuthCode code{s.integer(0), s.text(1), s.integer(2)};
    // Finish the statement so the delete is committed before we answer.
    if (s.step() != SQLITE_DONE) {
      return lastError("take code");
    }
    return std::optional<AuthCode>(std::move(code));
  }
  if (rc == SQLITE_DONE) {
    return std::optional<AuthCode>();
  }
  return lastError("take code");
}

Result<int> SqliteStore::purgeExpiredCodes(Seconds now) {
  std::lock_guard lock(mutex_);
  Statement s(statements_, "DELETE FROM auth_codes WHERE expires_at <= ?");
  s.bind(now);
  if (s.step() != SQLITE_DONE) {
    return lastError("purge codes");
  }
  return sqlite3_changes(db_);
}

Status SqliteStore::saveToken(std::string_view tokenHash, std::int64_t accountId,
                              std::string_view deviceId, Seconds now) {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "INSERT INTO tokens (token_hash, account_id, device_id, created_at) "
              "VALUES (?, ?, ?, ?)");
  s.bind(tokenHash, accountId, deviceId, now);
  if (s.step() != SQLITE_DONE) {
    return lastError("save token");
  }
  return success();
}

Result<std::optional<Account>> SqliteStore::accountForToken(std::string_view tokenHash, Seconds now,
                                                            Seconds unusedSince) {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "SELECT a.id, a.email, a.tier, a.password_hash, a.created_at, "
              "COALESCE(t.last_used_at, t.created_at) FROM tokens t "
              "JOIN accounts a ON a.id = t.account_id WHERE t.token_hash = ?");
  s.bind(tokenHash);
  const int rc = s.step();
  if (rc == SQLITE_DONE) {
    return std::optional<Account>();
  }
  if (rc != SQLITE_ROW) {
    return lastError("find token");
  }
  const Seconds lastUsed = s.integer(5);
  if (lastUsed < unusedSince) {
    return std::optional<Account>();
  }
  auto account = readAccount(s);
  if (now - lastUsed >= kSqliteTouchStep) {
    Statement touch(statements_, "UPDATE tokens SET last_used_at = ? WHERE token_hash = ?");
    touch.bind(now, tokenHash);
    if (touch.step() != SQLITE_DONE) {
      return lastError("note the token's use");
    }
  }
  return std::optional<Account>(std::move(account));
}

Result<std::vector<Device>> SqliteStore::devices(std::int64_t accountId, Seconds unusedSince) {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "SELECT device_id, MIN(created_at), MAX(COALESCE(last_used_at, created_at)) "
              "FROM tokens WHERE account_id = ? AND COALESCE(last_used_at, created_at) >= ? "
              "GROUP BY device_id ORDER BY MIN(created_at), device_id");
  s.bind(accountId, unusedSince);
  std::vector<Device> out;
  int rc = 0;
  while ((rc = s.step()) == SQLITE_ROW) {
    out.push_back(Device{s.text(0), s.integer(1), s.integer(2)});
  }
  if (rc != SQLITE_DONE) {
    return lastError("list devices");
  }
  return out;
}

Result<int> SqliteStore::revokeDevice(std::int64_t accountId, std::string_view deviceId) {
  std::lock_guard lock(mutex_);
  Statement s(statements_, "DELETE FROM tokens WHERE account_id = ? AND device_id = ?");
  s.bind(accountId, deviceId);
  if (s.step() != SQLITE_DONE) {
    return lastError("sign out a device");
  }
  return sqlite3_changes(db_);
}

Result<int> SqliteStore::purgeStaleTokens(Seconds unusedSince) {
  std::lock_guard lock(mutex_);
  Statement s(statements_, "DELETE FROM tokens WHERE COALESCE(last_used_at, created_at) < ?");
  s.bind(unusedSince);
  if (s.step() != SQLITE_DONE) {
    return lastError("purge tokens");
  }
  return sqlite3_changes(db_);
}

Status SqliteStore::recordEvent(std::string_view scope, std::string_view key, std::int64_t bytes,
                                Seconds at) {
  std::lock_guard lock(mutex_);
  Statement s(statements_, "INSERT INTO limit_events (scope, key, bytes, at) VALUES (?, ?, ?, ?)");
  s.bind(scope, key, bytes, at);
  if (s.step() != SQLITE_DONE) {
    return lastError("count an event");
  }
  return success();
}

Result<Usage> SqliteStore::usage(std::string_view scope, std::string_view key, Seconds since) {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "SELECT COUNT(*), COALESCE(SUM(bytes), 0), COALESCE(MIN(at), 0), "
              "COALESCE(MAX(at), 0) FROM limit_events WHERE scope = ? AND key = ? AND at >= ?");
  s.bind(scope, key, since);
  if (s.step() != SQLITE_ROW) {
    return lastError("count events");
  }
  return Usage{s.integer(0), s.integer(1), s.integer(2), s.integer(3)};
}

Status SqliteStore::clearEvents(std::string_view scope, std::string_view key) {
  std::lock_guard lock(mutex_);
  Statement s(statements_, "DELETE FROM limit_events WHERE scope = ? AND key = ?");
  s.bind(scope, key);
  if (s.step() != SQLITE_DONE) {
    return lastError("clear events");
  }
  return success();
}

Result<int> SqliteStore::purgeEvents(Seconds before) {
  std::lock_guard lock(mutex_);
  Statement s(statements_, "DELETE FROM limit_events WHERE at < ?");
  s.bind(before);
  if (s.step() != SQLITE_DONE) {
    return lastError("purge events");
  }
  return sqlite3_changes(db_);
}

Result<std::vector<UsageRow>> SqliteStore::usageSince(Seconds since) {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "SELECT scope, key, COUNT(*), SUM(bytes), MIN(at), MAX(at) FROM limit_events "
              "WHERE at >= ? GROUP BY scope, key ORDER BY scope, key");
  s.bind(since);
  std::vector<UsageRow> out;
  int rc = 0;
  while ((rc = s.step()) == SQLITE_ROW) {
    out.push_back(UsageRow{s.text(0), s.text(1),
                           Usage{s.integer(2), s.integer(3), s.integer(4), s.integer(5)}});
  }
  if (rc != SQLITE_DONE) {
    return lastError("list usage");
  }
  return out;
}

Status SqliteStore::ping() {
  std::lock_guard lock(mutex_);
  Statement s(statements_, "SELECT COUNT(*) FROM accounts WHERE id = 0");
  if (s.step() != SQLITE_ROW) {
    return lastError("check the database");
  }
  return success();
}

Result<int> SqliteStore::trimAnonymousReports(std::int64_t keep) {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "DELETE FROM reports WHERE id IN (SELECT id FROM reports WHERE account_id IS NULL "
              "ORDER BY id DESC LIMIT -1 OFFSET ?)");
  s.bind(keep);
  if (s.step() != SQLITE_DONE) {
    return lastError("trim reports");
  }
  return sqlite3_changes(db_);
}

Result<bool> SqliteStore::revokeToken(std::string_view tokenHash) {
  std::lock_guard lock(mutex_);
  Statement s(statements_, "DELETE FROM tokens WHERE token_hash = ?");
  s.bind(tokenHash);
  if (s.step() != SQLITE_DONE) {
    return lastError("revoke token");
  }
  return sqlite3_changes(db_) > 0;
}

Result<std::optional<SyncBlob>> SqliteStore::blob(std::int64_t accountId) {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "SELECT version, blob, device_id, updated_at FROM sync_blobs WHERE account_id = ?");
  s.bind(accountId);
  const int rc = s.step();
  if (rc == SQLITE_ROW) {
    return std::optional<SyncBlob>(
        SyncBlob{accountId, {}, s.integer(0), s.text(1), s.text(2), s.integer(3)});
  }
  if (rc == SQLITE_DONE) {
    return std::optional<SyncBlob>();
  }
  return lastError("read blob");
}

Result<PutOutcome> SqliteStore::putBlob(std::int64_t accountId, std::int64_t baseVersion,
                                        std::string_view blob, std::string_view deviceId,
                                        Seconds now) {
  std::lock_guard lock(mutex_);
  // The version check is part of the write itself, so a second process that got in between
  // our read and our write cannot be overwritten: its row no longer has our base version.
  if (baseVersion == 0) {
    Statement s(statements_,
                "INSERT INTO sync_blobs (account_id, version, blob, device_id, updated_at) "
                "VALUES (?, 1, ?, ?, ?) ON CONFLICT (account_id) DO NOTHING RETURNING version");
    s.bind(accountId, blob, deviceId, now);
    const int rc = s.step();
    if (rc == SQLITE_ROW) {
      const auto version = s.integer(0);
      if (s.step() != SQLITE_DONE) {
        return lastError("store blob");
      }
      return PutOutcome{true, version};
    }
    if (rc != SQLITE_DONE) {
      return lastError("store blob");
    }
  } else {
    Statement s(statements_,
                "UPDATE sync_blobs SET version = version + 1, blob = ?, device_id = ?, "
                "updated_at = ? WHERE account_id = ? AND version = ? RETURNING version");
    s.bind(blob, deviceId, now, accountId, baseVersion);
    const int rc = s.step();
    if (rc == SQLITE_ROW) {
      const auto version = s.integer(0);
      if (s.step() != SQLITE_DONE) {
        return lastError("store blob");
      }
      return PutOutcome{true, version};
    }
    if (rc != SQLITE_DONE) {
      return lastError("store blob");
    }
  }
  Statement current(statements_, "SELECT version FROM sync_blobs WHERE account_id = ?");
  current.bind(accountId);
  const int rc = current.step();
  if (rc == SQLITE_ROW) {
    return PutOutcome{false, current.integer(0)};
  }
  if (rc == SQLITE_DONE) {
    return PutOutcome{false, 0};
  }
  return lastError("read version");
}

Status SqliteStore::addReport(const Report& report) {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "INSERT INTO reports (kind, account_id, install_id, body, received_at) "
              "VALUES (?, ?, ?, ?, ?)");
  s.bind(report.kind, report.accountId, report.installId, report.body, report.receivedAt);
  if (s.step() != SQLITE_DONE) {
    return lastError("store report");
  }
  return success();
}

Result<std::vector<Account>> SqliteStore::accounts() {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "SELECT id, email, tier, password_hash, created_at FROM accounts ORDER BY id");
  std::vector<Account> out;
  int rc = 0;
  while ((rc = s.step()) == SQLITE_ROW) {
    out.push_back(readAccount(s));
  }
  if (rc != SQLITE_DONE) {
    return lastError("list accounts");
  }
  return out;
}

Result<std::vector<SyncBlob>> SqliteStore::blobs() {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "SELECT b.account_id, a.email, b.version, b.blob, b.device_id, b.updated_at "
              "FROM sync_blobs b JOIN accounts a ON a.id = b.account_id ORDER BY b.account_id");
  std::vector<SyncBlob> out;
  int rc = 0;
  while ((rc = s.step()) == SQLITE_ROW) {
    out.push_back(
        SyncBlob{s.integer(0), s.text(1), s.integer(2), s.text(3), s.text(4), s.integer(5)});
  }
  if (rc != SQLITE_DONE) {
    return lastError("list blobs");
  }
  return out;
}

Result<std::vector<Report>> SqliteStore::reports() {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "SELECT id, kind, account_id, install_id, body, received_at FROM reports "
              "ORDER BY id");
  std::vector<Report> out;
  int rc = 0;
  while ((rc = s.step()) == SQLITE_ROW) {
    Report r{s.integer(0), s.text(1), std::nullopt, s.text(3), s.text(4), s.integer(5)};
    if (!s.isNull(2)) {
      r.accountId = s.integer(2);
    }
    out.push_back(std::move(r));
  }
  if (rc != SQLITE_DONE) {
    return lastError("list reports");
  }
  return out;
}

Result<std::int64_t> SqliteStore::addRelease(const Release& release, std::string_view archive) {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "INSERT INTO releases (version, short_version, title, notes, file_name, length, "
              "ed_signature, published_at, archive) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) "
              "ON CONFLICT (version) DO NOTHING RETURNING id");
  s.bind(release.version, release.shortVersion, release.title, release.notes, release.fileName,
         static_cast<std::int64_t>(archive.size()), release.edSignature, release.publishedAt,
         BlobParam{archive});
  const int rc = s.step();
  if (rc == SQLITE_ROW) {
    const auto id = s.integer(0);
    if (s.step() != SQLITE_DONE) {
      return lastError("add release");
    }
    return id;
  }
  if (rc == SQLITE_DONE) {
    return Error{"a release with version " + release.version + " exists", kDuplicate};
  }
  return lastError("add release");
}

Result<std::vector<Release>> SqliteStore::releases() {
  std::lock_guard lock(mutex_);
  Statement s(statements_,
              "SELECT id, version, short_version, title, notes, file_name, length, ed_signature, "
              "published_at FROM releases ORDER BY id");
  std::vector<Release> out;
  int rc = 0;
  while ((rc = s.step()) == SQLITE_ROW) {
    out.push_back(readRelease(s));
  }
  if (rc != SQLITE_DONE) {
    return lastError("list releases");
  }
  return out;
}

Result<std::optional<std::string>> SqliteStore::releaseArchive(std::string_view version,
                                                               std::string_view fileName) {
  std::lock_guard lock(mutex_);
  Statement s(statements_, "SELECT archive FROM releases WHERE version = ? AND file_name = ?");
  s.bind(version, fileName);
  const int rc = s.step();
  if (rc == SQLITE_ROW) {
    return std::optional<std::string>(s.blob(0));
  }
  if (rc == SQLITE_DONE) {
    return std::optional<std::string>();
  }
  return lastError("read release archive");
}

}  // namespace lumarin::service
