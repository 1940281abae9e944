#include "PostgresServer.h"

#include <libpq-fe.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace lumarin::test {

namespace {

namespace fs = std::filesystem;

// LUMARIN_PG_BINDIR, else the newest Debian cluster version, else whatever PATH has.
std::string findBinDir() {
  if (const char* env = std::getenv("LUMARIN_PG_BINDIR");
      env && fs::exists(fs::path(env) / "initdb")) {
    return env;
  }
  std::string best;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
    const auto bin = entry.path() / "bin";
    if (fs::exists(bin / "initdb") && fs::exists(bin / "pg_ctl") && bin.string() > best) {
      best = bin.string();
    }
  }
  if (!best.empty()) {
    return best;
  }
  if (std::system("command -v initdb >/dev/null 2>&1 && command -v pg_ctl >/dev/null 2>&1") == 0) {
    return "";
  }
  return "-";
}

std::string readAll(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::unique_ptr<PostgresServer>& instance() {
  static std::unique_ptr<PostgresServer> server;
  return server;
}

}  // namespace

PostgresServer* PostgresServer::shared(std::string& whyNot) {
  auto& server = instance();
  if (server) {
    return server.get();
  }
  const std::string binDir = findBinDir();
  if (binDir == "-") {
    whyNot =
        "PostgreSQL server programs (initdb, pg_ctl) are not installed; install Debian's "
        "postgresql package (scripts/install-deps.sh) to run the PostgreSQL store tests";
    return nullptr;
  }
  // As root the server runs as "nobody", who must reach the directory: /tmp, whatever TMPDIR
  // says (it may point into root's home). The socket path also has to stay short (108 bytes).
  const fs::path base = ::geteuid() == 0 ? fs::path("/tmp") : fs::temp_directory_path();
  std::string pattern = (base / "lumarin-pg-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    whyNot = "cannot create a temporary directory";
    return nullptr;
  }
  const std::string dir = pattern;
  std::string runAs;
  if (::geteuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr || ::chown(dir.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
      whyNot = "running as root without a usable \"nobody\" user for PostgreSQL";
      return nullptr;
    }
    runAs = "runuser -u nobody -- ";
  }
  const std::string prefix = binDir.empty() ? "" : binDir + "/";
  // fsync off (-F, --no-sync): the cluster lives as long as this process.
  const std::string init = runAs + prefix + "initdb -D " + dir + "/data -U lumarin " +
                           "--auth=trust -E UTF8 --no-sync > " + dir + "/initdb.log 2>&1";
  const std::string start = runAs + prefix + "pg_ctl -D " + dir + "/data -o \"-k " + dir +
                            " -c listen_addresses= -F\" -l " + dir + "/server.log -w start > " +
                            dir + "/pg_ctl.log 2>&1";
  server.reset(new PostgresServer(binDir, dir));
  if (std::system(init.c_str()) != 0) {
    whyNot = "initdb failed:\n" + readAll(fs::path(dir) / "initdb.log");
    server.reset();
    return nullptr;
  }
  if (std::system(start.c_str()) != 0) {
    whyNot = "the PostgreSQL server did not start:\n" + readAll(fs::path(dir) / "server.log");
    server.reset();
    return nullptr;
  }
  return server.get();
}

PostgresServer::~PostgresServer() {
  if (fs::exists(fs::path(dir_) / "data" / "postmaster.pid")) {
    const std::string runAs = ::geteuid() == 0 ? "runuser -u nobody -- " : "";
    const std::string prefix = binDir_.empty() ? "" : binDir_ + "/";
    const std::string stop =
        runAs + prefix + "pg_ctl -D " + dir_ + "/data -m immediate -w stop > /dev/null 2>&1";
    (void)std::system(stop.c_str());
  }
  std::error_code error;
  fs::remove_all(dir_, error);
}

std::string PostgresServer::conninfo(const std::string& database) const {
  return "host=" + dir_ + " dbname=" + database + " user=lumarin";
}

std::string PostgresServer::freshDatabaseUri() {
  const std::string conninfo = freshDatabase();
  const auto name = conninfo.substr(conninfo.find("dbname=") + 7);
  return "postgresql:///" + name.substr(0, name.find(' ')) + "?host=" + dir_ + "&user=lumarin";
}

std::string PostgresServer::freshDatabase() {
  const std::string name = "lumarin_test_" + std::to_string(++databases_);
  PGconn* conn = PQconnectdb(conninfo("postgres").c_str());
  PGresult* result = PQexec(conn, ("CREATE DATABASE " + name).c_str());
  PQclear(result);
  PQfinish(conn);
  return conninfo(name);
}

}  // namespace lumarin::test
