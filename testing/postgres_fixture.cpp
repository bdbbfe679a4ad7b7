// initdb refuses to run as root, so as root (CI) the cluster belongs to
// the "postgres" user that Debian's package makes, and its commands run
// through runuser; as anyone else they run as that user. The postmaster's
// pid comes from postmaster.pid and it is signalled directly.
#include "testing/postgres_fixture.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace velnor::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kBin[] = "/usr/lib/postgresql/15/bin";
constexpr char kPassword[] = "Collector-Test-1";

bool Alive(pid_t pid) { return pid > 0 && ::kill(pid, 0) == 0; }

std::string Slurp(const fs::path& file) {
  return ReadFile(file).substr(0, 3000);
}

}  // namespace

PostgresServer::~PostgresServer() { Stop(); }

std::string PostgresServer::Unavailable() {
  for (const char* tool : {"initdb", "pg_ctl", "postgres"}) {
    if (!fs::exists(fs::path(kBin) / tool)) {
      return std::string(kBin) + "/" + tool +
             " is missing: install Debian's postgresql package "
             "(scripts/deps.sh)";
    }
  }
  if (::geteuid() == 0 && !::getpwnam("postgres")) {
    return "running as root, and there is no user 'postgres' to own the "
           "test cluster (Debian's postgresql package makes it)";
  }
  return "";
}

std::string PostgresServer::RunAsOwner(const std::string& command) const {
  std::string full = ::geteuid() == 0
                         ? "runuser -u postgres -- sh -c '" + command + "'"
                         : command;
  full += " >>" + (dir_ / "commands.log").string() + " 2>&1";
  if (std::system(full.c_str()) != 0) {
    return "failed: " + command + "\n" + Slurp(dir_ / "commands.log");
  }
  return "";
}

std::string PostgresServer::Start(const fs::path& dir) {
  dir_ = dir / "pg";
  fs::create_directories(dir_);
  if (::geteuid() == 0) {
    passwd* owner = ::getpwnam("postgres");
    for (const fs::path& p : {dir, dir_}) {
      if (::chown(p.c_str(), owner->pw_uid, owner->pw_gid) != 0) {
        return "cannot give " + p.string() + " to postgres";
      }
    }
  }
  port_ = FreePort();
  std::ofstream(dir_ / "pwfile") << "unused-superuser-password\n";
  std::string error =
      RunAsOwner(std::string(kBin) + "/initdb -D " + (dir_ / "data").string() +
                 " -U postgres --pwfile=" + (dir_ / "pwfile").string() +
                 " -E SQL_ASCII --locale=C --auth-local=trust "
                 "--auth-host=scram-sha-256");
  if (!error.empty()) return error;
  error = Restart();
  if (!error.empty()) return error;
  // The collector's role and database, as README's set-up makes them.
  PGconn* admin =
      PQconnectdb(("host=" + dir_.string() + " port=" + std::to_string(port_) +
                   " user=postgres dbname=postgres")
                      .c_str());
  if (PQstatus(admin) != CONNECTION_OK) {
    std::string reason = PQerrorMessage(admin);
    PQfinish(admin);
    return "cannot sign in as postgres: " + reason;
  }
  for (const std::string& sql :
       {std::string("CREATE ROLE collector LOGIN PASSWORD '") + kPassword + "'",
        std::string("CREATE DATABASE velnor OWNER collector")}) {
    PGresult* result = PQexec(admin, sql.c_str());
    bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    std::string reason = PQresultErrorMessage(result);
    PQclear(result);
    if (!ok) {
      PQfinish(admin);
      return sql + ": " + reason;
    }
  }
  PQfinish(admin);
  fs::path pgpass = dir / "pgpass";
  std::ofstream(pgpass) << "127.0.0.1:" << port_
                        << ":velnor:collector:" << kPassword << "\n";
  fs::permissions(pgpass, fs::perms::owner_read | fs::perms::owner_write);
  ::setenv("PGPASSFILE", pgpass.c_str(), 1);
  return "";
}

std::string PostgresServer::AddRole(const std::string& role) const {
  PGconn* admin =
      PQconnectdb(("host=" + dir_.string() + " port=" + std::to_string(port_) +
                   " user=postgres dbname=velnor")
                      .c_str());
  const std::string password = std::string(kPassword) + "-" + role;
  PGresult* result = PQexec(
      admin,
      ("CREATE ROLE " + role + " LOGIN PASSWORD '" + password + "'").c_str());
  EXPECT_EQ(PQresultStatus(result), PGRES_COMMAND_OK) << PQerrorMessage(admin);
  PQclear(result);
  PQfinish(admin);
  std::ofstream(dir_.parent_path() / "pgpass", std::ios::app)
      << "127.0.0.1:" << port_ << ":velnor:" << role << ":" << password << "\n";
  return "postgresql://" + role + "@127.0.0.1:" + std::to_string(port_) +
         "/velnor";
}

std::string PostgresServer::Restart() {
  std::string error = RunAsOwner(
      std::string(kBin) + "/pg_ctl -D " + (dir_ / "data").string() + " -l " +
      (dir_ / "server.log").string() + " -o \"-p " + std::to_string(port_) +
      " -k " + dir_.string() +
      " -c listen_addresses=127.0.0.1 -c fsync=off\" start -w -t 30");
  if (!error.empty()) return error + Slurp(dir_ / "server.log");
  std::ifstream pid_file(dir_ / "data" / "postmaster.pid");
  pid_file >> pid_;
  return Alive(pid_) ? "" : "no postmaster: " + Slurp(dir_ / "server.log");
}

void PostgresServer::Stop() {
  if (!Alive(pid_)) return;
  ::kill(pid_, SIGINT);
  for (int i = 0; i < 100 && Alive(pid_); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (Alive(pid_)) ::kill(pid_, SIGKILL);
  pid_ = -1;
}

std::string PostgresServer::Url() const {
  return "postgresql://collector@127.0.0.1:" + std::to_string(port_) +
         "/velnor";
}

void PostgresServer::Exec(const std::string& sql) const {
  PGconn* conn = PQconnectdb(Url().c_str());
  PGresult* result = PQexec(conn, sql.c_str());
  EXPECT_EQ(PQresultStatus(result), PGRES_COMMAND_OK)
      << sql << ": " << PQerrorMessage(conn);
  PQclear(result);
  PQfinish(conn);
}

Rows PostgresServer::Query(const std::string& sql) const {
  PGconn* conn = PQconnectdb(Url().c_str());
  PGresult* result = PQexec(conn, sql.c_str());
  Rows rows;
  EXPECT_EQ(PQresultStatus(result), PGRES_TUPLES_OK)
      << sql << ": " << PQerrorMessage(conn);
  for (int r = 0; r < PQntuples(result); ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < PQnfields(result); ++c) {
      row.emplace_back(PQgetisnull(result, r, c) ? "NULL"
                                                 : PQgetvalue(result, r, c));
    }
    rows.push_back(std::move(row));
  }
  PQclear(result);
  PQfinish(conn);
  return rows;
}

PostgresSession::PostgresSession(const std::string& url)
    : connection_(PQconnectdb(url.c_str())) {
  EXPECT_EQ(PQstatus(connection_), CONNECTION_OK)
      << PQerrorMessage(connection_);
}

PostgresSession::~PostgresSession() { PQfinish(connection_); }

void PostgresSession::Exec(const std::string& sql) {
  PGresult* result = PQexec(connection_, sql.c_str());
  EXPECT_EQ(PQresultStatus(result), PGRES_COMMAND_OK)
      << sql << ": " << PQerrorMessage(connection_);
  PQclear(result);
}

}  // namespace velnor::testing
