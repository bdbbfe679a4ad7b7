// Connections kept for reuse, against a real server: while a
// ConnectionReuse lives, the next connection to the same URL is the server
// session the last one ended, found as a new one (its own name, none of
// the last user's settings, statements, temporary tables, advisory locks
// or open transaction); a kept session the server ended is replaced;
// without a ConnectionReuse every connection is a session of its own; and
// held locks go on in their session with its next users until their
// holder ends.
#include "platform/ado/pg_connection.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <optional>

#include "testing/postgres_fixture.h"
#include "testing/test_support.h"

namespace velnor::ado::pg {
namespace {

using testing::PostgresServer;

class PgConnectionReuseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VELNOR_START_POSTGRES(server_, tmp_.path());
    server_.Exec("CREATE TABLE kept (n integer)");
  }

  // The one value of `sql` on `db`.
  static std::string One(PgConnection& db, const std::string& sql) {
    std::vector<Row> rows = db.Query(sql);
    return rows.at(0).at(0).value_or("NULL");
  }

  // Expects `db` to be the session `pid` of the server, found as new: with
  // the name `name` and none of a user before's search path, prepared
  // statements or temporary tables.
  static void ExpectSessionFoundAsNew(PgConnection& db, const std::string& pid,
                                      const std::string& name) {
    EXPECT_EQ(One(db, "SELECT pg_backend_pid()"), pid);
    EXPECT_EQ(One(db, "SELECT current_setting('application_name')"), name);
    EXPECT_EQ(One(db, "SHOW search_path"), "\"$user\", public");
    EXPECT_EQ(One(db, "SELECT count(*) FROM pg_prepared_statements"), "0");
    EXPECT_EQ(One(db, "SELECT to_regclass('pg_temp.scratch') IS NULL"), "t");
  }

  // The server session that holds advisory lock 7, or "none".
  std::string LockHolder() const {
    testing::Rows rows = server_.Query(
        "SELECT pid FROM pg_locks WHERE locktype = 'advisory' AND objid = 7 "
        "AND granted");
    return rows.empty() ? "none" : rows.at(0).at(0);
  }

  testing::TempDir tmp_{"pg_connection_test"};
  PostgresServer server_;
};

TEST_F(PgConnectionReuseTest, TheNextUserFindsTheSessionAsNew) {
  ConnectionReuse reuse;
  std::string pid;
  {
    PgConnection first(server_.Url(), "velnor first");
    pid = One(first, "SELECT pg_backend_pid()");
    first.Exec(
        "SET search_path = nowhere; PREPARE velnor_1 AS SELECT 1; CREATE "
        "TEMP TABLE scratch (n integer); SELECT pg_advisory_lock(7); BEGIN; "
        "INSERT INTO public.kept VALUES (1)");
  }
  PgConnection second(server_.Url(), "velnor second");
  ExpectSessionFoundAsNew(second, pid, "velnor second");
  EXPECT_EQ(One(second, "SELECT count(*) FROM kept"), "0");
  // Another session can take the advisory lock the first user held.
  PgConnection other(server_.Url(), "velnor other");
  EXPECT_NE(One(other, "SELECT pg_backend_pid()"), pid);
  EXPECT_EQ(One(other, "SELECT pg_try_advisory_lock(7)"), "t");
}

TEST_F(PgConnectionReuseTest, AKeptSessionTheServerEndedIsReplaced) {
  ConnectionReuse reuse;
  std::string pid;
  {
    PgConnection first(server_.Url(), "velnor first");
    pid = One(first, "SELECT pg_backend_pid()");
  }
  ASSERT_EQ(server_.Query("SELECT pg_terminate_backend(" + pid + ", 10000)"),
            (testing::Rows{{"t"}}));
  PgConnection second(server_.Url(), "velnor second");
  EXPECT_NE(One(second, "SELECT pg_backend_pid()"), pid);
  EXPECT_EQ(One(second, "SELECT current_setting('application_name')"),
            "velnor second");
}

TEST_F(PgConnectionReuseTest, WithoutReuseEachConnectionIsASessionOfItsOwn) {
  std::string pid;
  {
    ConnectionReuse reuse;
    PgConnection first(server_.Url(), "velnor first");
    pid = One(first, "SELECT pg_backend_pid()");
  }
  // The reuse that ended closed the session it kept.
  PgConnection second(server_.Url(), "velnor second");
  EXPECT_NE(One(second, "SELECT pg_backend_pid()"), pid);
  EXPECT_TRUE(testing::WaitFor(
      [&] {
        return One(second,
                   "SELECT count(*) FROM pg_stat_activity WHERE pid = " +
                       pid) == "0";
      },
      std::chrono::seconds(10)));
}

// The locks a HeldSessionLocks holds go on in their session, which the
// next users take first, found as new but for the locks and the holder's
// name; once it ends they are released by the end of the user then.
TEST_F(PgConnectionReuseTest, HeldLocksGoOnWithTheirSessionForItsNextUsers) {
  ConnectionReuse reuse;
  std::string plain_pid, held_pid;
  std::optional<HeldSessionLocks> held;
  {
    PgConnection plain(server_.Url(), "velnor plain");
    plain_pid = One(plain, "SELECT pg_backend_pid()");
    auto holder = std::make_unique<PgConnection>(server_.Url(), "velnor held");
    held_pid = One(*holder, "SELECT pg_backend_pid()");
    holder->Exec(
        "SELECT pg_advisory_lock(7); SET search_path = nowhere; PREPARE "
        "velnor_1 AS SELECT 1; CREATE TEMP TABLE scratch (n integer)");
    held.emplace(std::move(holder));
  }
  EXPECT_EQ(LockHolder(), held_pid);
  {
    PgConnection next(server_.Url(), "velnor next");
    ExpectSessionFoundAsNew(next, held_pid, "velnor held");
    PgConnection beside(server_.Url(), "velnor beside");
    EXPECT_EQ(One(beside, "SELECT pg_backend_pid()"), plain_pid);
    EXPECT_EQ(One(beside, "SELECT current_setting('application_name')"),
              "velnor beside");
    next.Exec("BEGIN; INSERT INTO kept VALUES (1)");
  }
  EXPECT_EQ(LockHolder(), held_pid);
  {
    PgConnection again(server_.Url(), "velnor again");
    EXPECT_EQ(One(again, "SELECT pg_backend_pid()"), held_pid);
    EXPECT_EQ(One(again, "SELECT count(*) FROM kept"), "0");
    held.reset();
    EXPECT_EQ(LockHolder(), held_pid);
  }
  EXPECT_EQ(LockHolder(), "none");
  // Its session is an ordinary kept one from then on.
  PgConnection after(server_.Url(), "velnor after");
  One(after, "SELECT pg_advisory_lock(7)");
}

// Held locks whose session is idle end at once with their holder; without
// a ConnectionReuse the holder keeps its connection, and the locks, until
// it ends.
TEST_F(PgConnectionReuseTest, HeldLocksEndWithTheirHolder) {
  for (bool reusing : {true, false}) {
    std::optional<ConnectionReuse> reuse;
    if (reusing) reuse.emplace();
    auto holder = std::make_unique<PgConnection>(server_.Url(), "velnor held");
    const std::string pid = One(*holder, "SELECT pg_backend_pid()");
    One(*holder, "SELECT pg_advisory_lock(7)");
    auto held = std::make_unique<HeldSessionLocks>(std::move(holder));
    EXPECT_EQ(LockHolder(), pid) << reusing;
    held.reset();
    EXPECT_TRUE(testing::WaitFor([&] { return LockHolder() == "none"; },
                                 std::chrono::seconds(10)))
        << reusing;
  }
}

// The value of the socket option `name` at `level` of `db`'s socket.
int SocketOption(const PgConnection& db, int level, int name) {
  int value = -1;
  socklen_t size = sizeof value;
  EXPECT_EQ(getsockopt(PQsocket(db.handle()), level, name, &value, &size), 0);
  return value;
}

// A store host that vanishes mid-run (its kernel no longer answers) is
// given up within about two minutes; a URL that says otherwise is obeyed.
TEST_F(PgConnectionReuseTest, ASilentHostIsGivenUpUnlessTheUrlSaysOtherwise) {
  PgConnection ours(server_.Url(), "velnor ours");
  EXPECT_EQ(SocketOption(ours, SOL_SOCKET, SO_KEEPALIVE), 1);
  EXPECT_EQ(SocketOption(ours, IPPROTO_TCP, TCP_KEEPIDLE), 60);
  EXPECT_EQ(SocketOption(ours, IPPROTO_TCP, TCP_KEEPINTVL), 10);
  EXPECT_EQ(SocketOption(ours, IPPROTO_TCP, TCP_KEEPCNT), 6);
  EXPECT_EQ(SocketOption(ours, IPPROTO_TCP, TCP_USER_TIMEOUT), 120000);

  PgConnection theirs(server_.Url() + "?keepalives_idle=300&tcp_user_timeout=0",
                      "velnor theirs");
  EXPECT_EQ(SocketOption(theirs, IPPROTO_TCP, TCP_KEEPIDLE), 300);
  EXPECT_EQ(SocketOption(theirs, IPPROTO_TCP, TCP_USER_TIMEOUT), 0);
  EXPECT_EQ(SocketOption(theirs, IPPROTO_TCP, TCP_KEEPCNT), 6);
}

}  // namespace
}  // namespace velnor::ado::pg
