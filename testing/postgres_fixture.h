// Test support: a real PostgreSQL server (Debian's postgresql package) of
// the test's own, in a temporary folder, on a free port of 127.0.0.1 and a
// unix socket in that folder. Its database "velnor" holds bytes as they
// are (SQL_ASCII) and belongs to the role "collector", which signs in over
// TCP with a password that only a .pgpass file (PGPASSFILE) gives, as the
// README sets up a central store. The server is stopped by its process id.
#ifndef VELNOR_TESTING_POSTGRES_FIXTURE_H_
#define VELNOR_TESTING_POSTGRES_FIXTURE_H_

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/test_support.h"

struct pg_conn;

namespace velnor::testing {

class PostgresServer {
 public:
  PostgresServer() = default;
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;
  ~PostgresServer();

  // Why the server cannot run here (the binaries are missing), or "".
  static std::string Unavailable();

  // Makes the cluster in a new folder under `dir` and starts it; sets
  // PGPASSFILE for this process (and the velnor processes it starts).
  // Returns "" once the server accepts the collector, else what failed,
  // with the server's log.
  std::string Start(const std::filesystem::path& dir);
  // Starts the cluster again after Stop, on the same port.
  std::string Restart();
  // Stops the server by its process id (fast shutdown: clients are cut
  // off); waits up to 10 s, then kills it. Safe to call more than once.
  void Stop();

  // The collector's URL (no password in it).
  std::string Url() const;
  // Runs `sql` as the collector (several statements allowed).
  void Exec(const std::string& sql) const;
  // The rows of `sql`, values as text, NULL as "NULL".
  Rows Query(const std::string& sql) const;
  // Makes the login role `role`, with no rights but those every role has,
  // its password in the password file beside the collector's; returns its
  // URL.
  std::string AddRole(const std::string& role) const;
  uint16_t port() const { return port_; }

 private:
  std::string RunAsOwner(const std::string& command) const;
  std::string WaitReady();

  std::filesystem::path dir_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// One connection to a server, kept open, so that a transaction begun on
// it holds its locks while other sessions run.
class PostgresSession {
 public:
  explicit PostgresSession(const std::string& url);
  PostgresSession(const PostgresSession&) = delete;
  PostgresSession& operator=(const PostgresSession&) = delete;
  ~PostgresSession();

  // Runs `sql` (several statements allowed).
  void Exec(const std::string& sql);

 private:
  pg_conn* connection_;
};

}  // namespace velnor::testing

// In a test's SetUp: `server` (a PostgresServer) started in a new folder
// under `dir`, or the test skipped when no server can run here (a failure
// when TestToolsRequired(): VELNOR_SKIP_WITHOUT_TOOL), or failed with what
// kept it from starting. A macro because the skip and the failure end the
// caller.
#define VELNOR_START_POSTGRES(server, dir)                                  \
  do {                                                                      \
    if (std::string why = ::velnor::testing::PostgresServer::Unavailable(); \
        !why.empty()) {                                                     \
      VELNOR_SKIP_WITHOUT_TOOL(why);                                        \
    }                                                                       \
    ASSERT_EQ((server).Start(dir), "");                                     \
  } while (false)

#endif  // VELNOR_TESTING_POSTGRES_FIXTURE_H_
