// Connections kept for reuse, against a real server: while a
// ConnectionReuse lives, the next connection to the same URL is the server
// session the last one ended, found as a new one (its own name, none of
// the last user's settings, statements, temporary tables, advisory locks
// or open transaction); a kept session the server ended is replaced; and
// without a ConnectionReuse every connection is a session of its own.
#include "platform/ado/pg_connection.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(One(second, "SELECT pg_backend_pid()"), pid);
  EXPECT_EQ(One(second, "SELECT current_setting('application_name')"),
            "velnor second");
  EXPECT_EQ(One(second, "SHOW search_path"), "\"$user\", public");
  EXPECT_EQ(One(second, "SELECT count(*) FROM pg_prepared_statements"), "0");
  EXPECT_EQ(One(second, "SELECT to_regclass('pg_temp.scratch') IS NULL"), "t");
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

}  // namespace
}  // namespace velnor::ado::pg
