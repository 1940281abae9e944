#pragma once

#include <memory>
#include <string>

namespace lumarin::test {

// A throwaway PostgreSQL server for one test process: initdb and pg_ctl from Debian's
// `postgresql` package in a temporary directory, reachable only through a unix socket there
// (no TCP port, so parallel test processes never collide). PostgreSQL refuses to run as root,
// so as root the server runs as "nobody". Stopped and removed with the object.
class PostgresServer {
 public:
  // The shared server of this process, started on first use; nullptr when the server
  // programs are not installed (`whyNot` says so) or it could not start (`whyNot` has its log).
  static PostgresServer* shared(std::string& whyNot);

  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // A connection string for a new, empty database of its own: libpq keywords, or the URI form
  // that `lumarin-service --db postgresql://...` is given.
  std::string freshDatabase();
  std::string freshDatabaseUri();

 private:
  PostgresServer(std::string binDir, std::string dir) : binDir_(std::move(binDir)), dir_(dir) {}
  std::string conninfo(const std::string& database) const;

  std::string binDir_;
  std::string dir_;
  int databases_ = 0;
};

}  // namespace lumarin::test
