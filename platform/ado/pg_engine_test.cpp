// The PostgreSQL engine against a real server: a refused row or a missing
// table fails its statement alone and the transaction goes on, as in
// SQLite; a caller's savepoint undoes what followed it; a lost connection
// spoils the transaction and nothing of it is kept; every transaction,
// also one on a new connection, finds the attached schemas on the
// search_path; errors carry the numbers the error log shows for SQLite.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/ado/ado.h"
#include "platform/ado/engine.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"
#include "testing/postgres_fixture.h"
#include "testing/raised_error.h"
#include "testing/test_support.h"

namespace velnor::ado {
namespace {

using automation::AutomationError;
using testing::PostgresServer;
using testing::Rows;

class PgEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VELNOR_START_POSTGRES(server_, tmp_.path());
    server_.Exec(
        "CREATE SCHEMA qdx_t_srv1; CREATE TABLE qdx_t_srv1.tblgeneral "
        "(url text, \"no of hits\" integer, rowid bigserial)");
  }

  // Runs `sql` with `values` on the session's database; raises as the
  // engine does.
  void Run(Session& session, const std::string& schema, const std::string& sql,
           const std::vector<std::string>& values = {}) {
    std::unique_ptr<Statement> statement = session.Prepare(sql, schema);
    for (size_t i = 0; i < values.size(); ++i) {
      statement->BindText(static_cast<int>(i + 1), values[i]);
    }
    while (statement->Step()) {
    }
  }

  static int32_t NumberOf(const std::function<void()>& failing) {
    return testing::ErrorOf(failing).number();
  }

  testing::TempDir tmp_{"pg_engine_test"};
  PostgresServer server_;
};

TEST_F(PgEngineTest, AFailedStatementFailsAloneAndTheRestIsCommitted) {
  auto session = Session::Begin(1000, MakePostgresEngine(server_.Url()));
  std::string schema = session->Attach("C:\\db\\QDX_T_SRV1.mdb");
  EXPECT_EQ(schema, "qdx_t_srv1");
  const std::string insert =
      "insert into tblGeneral (URL, [No of Hits]) values (?, ?)";
  Run(*session, schema, insert, {"/a", "1"});
  EXPECT_EQ(NumberOf([&] {
              Run(*session, schema, insert, {"/b", "x"});
            }),
            kErrRowRefused);
  EXPECT_EQ(NumberOf([&] {
              Run(*session, schema, insert, {"/c", "2147483648"});
            }),
            kErrRowRefused);
  EXPECT_EQ(NumberOf([&] { Run(*session, schema, "select * from tblNone"); }),
            kErrTableNotFound);
  EXPECT_EQ(NumberOf([&] {
              Run(*session, schema,
                  "select [No such] from "
                  "tblGeneral");
            }),
            kErrNoValueGiven);
  Run(*session, schema, "SAVEPOINT mark");
  Run(*session, schema, insert, {"/undone", "5"});
  Run(*session, schema, "ROLLBACK TO mark");
  Run(*session, schema, "RELEASE mark");
  Run(*session, schema, insert, {"/d", "4"});
  EXPECT_FALSE(session->Failed());
  // Nothing is visible to others before the commit.
  EXPECT_EQ(server_.Query("select count(*) from qdx_t_srv1.tblgeneral"),
            (Rows{{"0"}}));
  session->Commit();
  EXPECT_EQ(server_.Query("select url, \"no of hits\" from "
                          "qdx_t_srv1.tblgeneral order by rowid"),
            (Rows{{"/a", "1"}, {"/d", "4"}}));
}

TEST_F(PgEngineTest, ALostConnectionSpoilsTheTransaction) {
  auto session = Session::Begin(1000, MakePostgresEngine(server_.Url()));
  std::string schema = session->Attach("QDX_T_SRV1.mdb");
  Run(*session, schema, "insert into tblGeneral (URL) values ('/a')");
  server_.Stop();
  EXPECT_EQ(NumberOf([&] {
              Run(*session, schema,
                  "insert into tblGeneral (URL) values "
                  "('/b')");
            }),
            kErrUnspecified);
  EXPECT_TRUE(session->Failed());
  AutomationError error = testing::ErrorOf([&] { session->Commit(); });
  EXPECT_NE(error.description().find("Disk or network error."),
            std::string::npos)
      << error.description();
  ASSERT_EQ(server_.Restart(), "");
  EXPECT_EQ(server_.Query("select count(*) from qdx_t_srv1.tblgeneral"),
            (Rows{{"0"}}));
}

// A bulk load given in batches is one statement: its rows are kept in
// their order, and a batch refused after others were sent keeps none of
// the load's rows, while the transaction goes on and commits the rest.
TEST_F(PgEngineTest, ABulkLoadOfBatchesIsKeptWholeOrNotAtAll) {
  auto session = Session::Begin(1000, MakePostgresEngine(server_.Url()));
  std::string schema = session->Attach("QDX_T_SRV1.mdb");
  auto load = [&](std::vector<std::vector<Engine::CopyRow>> batches) {
    size_t next = 0;
    return session->CopyRows(schema, "tblGeneral", {"URL", "No of Hits"},
                             [&]() -> const std::vector<Engine::CopyRow>* {
                               return next < batches.size() ? &batches[next++]
                                                            : nullptr;
                             });
  };
  EXPECT_TRUE(
      load({{{"/a", "1"}, {"/b\\t\tb", std::nullopt}}, {}, {{"/c", "3"}}}));
  // Nothing is visible to others before the commit.
  EXPECT_EQ(server_.Query("select count(*) from qdx_t_srv1.tblgeneral"),
            (Rows{{"0"}}));
  const std::string nul("/d\0d", 4);
  AutomationError refused = testing::ErrorOf([&] {
    load({{{"/kept-not", "1"}}, {{"/e", "5"}, {nul, "6"}}});
  });
  EXPECT_EQ(refused.number(), automation::kErrInvalidProcedureCall);
  EXPECT_NE(refused.description().find("holds a NUL byte"), std::string::npos)
      << refused.description();
  Run(*session, schema, "insert into tblGeneral (URL) values ('/f')");
  // A raise of the caller's own ends the load alike.
  EXPECT_THROW(session->CopyRows(schema, "tblGeneral", {"URL"},
                                 [&]() -> const std::vector<Engine::CopyRow>* {
                                   throw std::runtime_error("no more rows");
                                 }),
               std::runtime_error);
  Run(*session, schema, "insert into tblGeneral (URL) values ('/g')");
  EXPECT_FALSE(session->Failed());
  session->Commit();
  EXPECT_EQ(server_.Query("select url, coalesce(\"no of hits\"::text, "
                          "'null') from qdx_t_srv1.tblgeneral order by rowid"),
            (Rows{{"/a", "1"},
                  {"/b\\t\tb", "null"},
                  {"/c", "3"},
                  {"/f", "null"},
                  {"/g", "null"}}));
}

// The report's set statements group keys as the column compares them, so
// only the collations whose rule is known may be reported as such.
TEST_F(PgEngineTest, TellsHowAColumnComparesTexts) {
  server_.Exec(
      "CREATE EXTENSION IF NOT EXISTS citext; ALTER TABLE "
      "qdx_t_srv1.tblgeneral ADD COLUMN \"identifier\" citext COLLATE \"C\", "
      "ADD COLUMN plain citext, ADD COLUMN bytes text COLLATE \"C\"");
  auto session = Session::Begin(1000, MakePostgresEngine(server_.Url()));
  std::string schema = session->Attach("QDX_T_SRV1.mdb");
  Run(*session, schema, "select count(*) from tblGeneral");
  auto equality = [&](const std::string& column) {
    return session->EqualityOf(schema, "tblGeneral", column);
  };
  EXPECT_EQ(equality("Identifier"), TextEquality::kAsciiCaseless);
  EXPECT_EQ(equality("URL"), TextEquality::kExact);
  EXPECT_EQ(equality("bytes"), TextEquality::kExact);
  // citext under the database's own collation may lower more than ASCII.
  EXPECT_EQ(equality("plain"), TextEquality::kOther);
  EXPECT_EQ(equality("No of Hits"), TextEquality::kOther);
  EXPECT_EQ(equality("missing"), TextEquality::kOther);
  // Its rows are bulk-loaded (COPY), which callers ask before making them.
  EXPECT_TRUE(session->BulkLoads());
  // Asking leaves the transaction usable.
  Run(*session, schema, "insert into tblGeneral (URL) values ('/a')");
  // The answers follow the transaction's own changes of the columns.
  Run(*session, schema,
      "alter table [qdx_t_srv1].tblGeneral alter column URL type citext");
  EXPECT_EQ(equality("URL"), TextEquality::kOther);
  Run(*session, schema, "drop table [qdx_t_srv1].tblGeneral");
  Run(*session, schema, "create table [qdx_t_srv1].tblGeneral (URL text)");
  EXPECT_EQ(equality("URL"), TextEquality::kExact);
  EXPECT_EQ(equality("bytes"), TextEquality::kOther);
  session->Rollback();
  // And those another session made between transactions.
  server_.Exec(
      "ALTER TABLE qdx_t_srv1.tblgeneral ALTER COLUMN url TYPE citext COLLATE "
      "\"POSIX\"");
  Run(*session, schema, "select count(*) from tblGeneral");
  EXPECT_EQ(equality("URL"), TextEquality::kAsciiCaseless);
  EXPECT_EQ(equality("bytes"), TextEquality::kExact);
  Run(*session, schema, "insert into tblGeneral (URL) values ('/a')");
  session->Commit();
  EXPECT_EQ(server_.Query("select count(*) from qdx_t_srv1.tblgeneral"),
            (Rows{{"1"}}));
}

// The report schemas' text type finds its "=" on the search_path only: the
// path must hold every attached schema in each transaction, whatever came
// before it.
TEST_F(PgEngineTest, EveryTransactionSeesTheAttachedSchemasOnTheSearchPath) {
  server_.Exec(
      "CREATE SCHEMA qdx_t_srv2; CREATE TABLE qdx_t_srv2.tblgeneral (url "
      "text)");
  auto session = Session::Begin(1000, MakePostgresEngine(server_.Url()));
  std::string first = session->Attach("QDX_T_SRV1.mdb");
  auto search_path = [&] {
    auto statement =
        session->Prepare("select current_setting('search_path')", first);
    EXPECT_TRUE(statement->Step());
    return std::string(statement->Text(0));
  };
  search_path();
  // Set inside the transaction, the path would go with its rollback.
  AutomationError error =
      testing::ErrorOf([&] { session->Attach("QDX_T_SRV2.mdb"); });
  EXPECT_NE(error.description().find("'QDX_T_SRV2.mdb' was opened after"),
            std::string::npos)
      << error.description();
  // Another spelling of a database on the path already is that database.
  EXPECT_EQ(session->Attach("elsewhere/QDX_T_SRV1.mdb"), first);
  session->Rollback();
  EXPECT_EQ(search_path(), "qdx_t_srv1, \"$user\", public");
  session->Rollback();
  session->Attach("QDX_T_SRV2.mdb");
  EXPECT_EQ(search_path(), "qdx_t_srv1, qdx_t_srv2, \"$user\", public");
  session->Commit();
  // Between transactions the server drops the connection (a restart, an
  // administrator): the next transaction begins on a new one, path set.
  EXPECT_EQ(server_.Query("SELECT pg_terminate_backend(pid, 5000) FROM "
                          "pg_stat_activity WHERE application_name LIKE "
                          "'velnor process%'"),
            (Rows{{"t"}}));
  EXPECT_EQ(search_path(), "qdx_t_srv1, qdx_t_srv2, \"$user\", public");
  Run(*session, "qdx_t_srv2", "insert into tblGeneral (URL) values ('/a')");
  session->Commit();
  EXPECT_EQ(server_.Query("select url from qdx_t_srv2.tblgeneral"),
            (Rows{{"/a"}}));
}

// A new report's rows are appended with its indexes set aside, across
// the appends of a transaction: the one named is left out past the commit,
// the others are made again alike at BuildIndexes or the commit; the index
// of a constraint and a partial one stay. A failure inside leaves the
// caller's savepoint to undo the drops with the rows. EnsureIndex makes
// the index left out again as given, and leaves one of its name as it is.
TEST_F(PgEngineTest, AppendsLeaveTheNamedIndexOutAndMakeTheOthersAgainAlike) {
  server_.Exec(
      "CREATE INDEX tblgeneral_key ON qdx_t_srv1.tblgeneral (lower(url), "
      "\"no of hits\"); ALTER TABLE qdx_t_srv1.tblgeneral ADD CONSTRAINT "
      "one_row UNIQUE (rowid); INSERT INTO qdx_t_srv1.tblgeneral (url, \"no "
      "of hits\") VALUES ('/old', 1); CREATE INDEX few ON "
      "qdx_t_srv1.tblgeneral (rowid) WHERE \"no of hits\" IS NULL; CREATE "
      "INDEX mine ON qdx_t_srv1.tblgeneral (\"no of hits\", url)");
  const std::string kIndexes =
      "SELECT indexname, indexdef FROM pg_indexes WHERE schemaname = "
      "'qdx_t_srv1' ORDER BY indexname";
  const Rows indexes = server_.Query(kIndexes);
  ASSERT_EQ(indexes.size(), 4u);
  Rows without_key = indexes;
  std::erase_if(without_key,
                [](const auto& row) { return row[0] == "tblgeneral_key"; });
  const IndexDefinition key = {.name = "tblGeneral_Key",
                               .columns = {"URL", "No of Hits"},
                               .postgres = "(lower(url), \"no of hits\")"};
  const std::string insert =
      "insert into tblGeneral (URL, [No of Hits]) values (?, ?)";
  enum class End { kFailure, kBuild, kCommit };
  for (End end : {End::kFailure, End::kBuild, End::kCommit}) {
    SCOPED_TRACE(static_cast<int>(end));
    auto session = Session::Begin(1000, MakePostgresEngine(server_.Url()));
    const std::string schema = session->Attach("QDX_T_SRV1.mdb");
    auto left = [&] {
      auto names = session->Prepare(
          "select string_agg(indexname, ',' order by indexname) from "
          "pg_catalog.pg_indexes where schemaname = 'qdx_t_srv1'",
          schema);
      EXPECT_TRUE(names->Step());
      return std::string(names->Text(0));
    };
    Run(*session, schema, "SAVEPOINT s");
    const std::vector<std::string> urls =
        end == End::kFailure ? std::vector<std::string>{"/A"}
                             : std::vector<std::string>{"/A", "/B"};
    for (const std::string& url : urls) {
      auto append = [&] {
        session->AppendLeavingIndexesOut(
            schema, "tblGeneral", "tblGeneral_Key", [&] {
              EXPECT_EQ(left(), "few,one_row");
              Run(*session, schema, insert, {url, "2"});
              if (end == End::kFailure)
                Run(*session, schema, insert, {"/b", "x"});
            });
      };
      if (end != End::kFailure) {
        append();
        continue;
      }
      EXPECT_EQ(NumberOf(append), kErrRowRefused);
      Run(*session, schema, "ROLLBACK TO s");
      EXPECT_EQ(left(), "few,mine,one_row,tblgeneral_key");
    }
    Run(*session, schema, "RELEASE s");
    if (end == End::kBuild) {
      session->BuildIndexes(schema, "tblGeneral");
      EXPECT_EQ(left(), "few,mine,one_row");
    }
    EXPECT_FALSE(session->Failed());
    session->Commit();
    EXPECT_EQ(server_.Query(kIndexes),
              end == End::kFailure ? indexes : without_key);
    EXPECT_EQ(
        server_.Query("select url from qdx_t_srv1.tblgeneral order by rowid"),
        end == End::kFailure ? (Rows{{"/old"}})
                             : (Rows{{"/old"}, {"/A"}, {"/B"}}));
    auto later = Session::Begin(1000, MakePostgresEngine(server_.Url()));
    later->Attach("QDX_T_SRV1.mdb");
    later->EnsureIndex(schema, "tblGeneral", key);
    later->EnsureIndex(
        schema, "tblGeneral",
        {.name = key.name, .columns = {"URL"}, .postgres = "(url)"});
    later->Commit();
    EXPECT_EQ(server_.Query(kIndexes), indexes);
    server_.Exec("DELETE FROM qdx_t_srv1.tblgeneral WHERE url <> '/old'");
  }
}

TEST_F(PgEngineTest, AMissingSchemaOrServerIsNamed) {
  auto session = Session::Begin(1000, MakePostgresEngine(server_.Url()));
  AutomationError error =
      testing::ErrorOf([&] { session->Attach("QDX_Other_SRV1.mdb"); });
  EXPECT_NE(error.description().find("'qdx_other_srv1'"), std::string::npos)
      << error.description();
  server_.Stop();
  auto later = Session::Begin(1000, MakePostgresEngine(server_.Url()));
  error = testing::ErrorOf([&] { later->Attach("QDX_T_SRV1.mdb"); });
  EXPECT_NE(error.description().find("Could not connect"), std::string::npos)
      << error.description();
}

}  // namespace
}  // namespace velnor::ado
