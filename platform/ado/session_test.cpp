// Sessions over plain SQLite files: several databases committed as one,
// nothing kept of a session that is dropped or spoiled, other processes'
// readers seeing whole commits only, and the files that cannot be written
// found when they are opened; transactions apart kept whatever becomes of
// the session's own.
#include "platform/ado/session.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/ado/ado.h"
#include "testing/raised_error.h"
#include "testing/test_support.h"

namespace velnor::ado {
namespace {

using automation::AutomationError;
using testing::ErrorOf;

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.mdb", "b.mdb"}) {
      testing::WriteFile(Path(name), "");
      testing::ExecSql(Path(name), "CREATE TABLE t (k TEXT, n INTEGER)");
    }
  }
  void TearDown() override { ::chmod(dir_.c_str(), 0755); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // The rows of t in `name` as another process would read them.
  std::string Rows(const std::string& name) const {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(Path(name).c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 2000);
    sqlite3_stmt* stmt = nullptr;
    std::string rows;
    if (sqlite3_prepare_v2(db, "SELECT k, n FROM t ORDER BY rowid", -1, &stmt,
                           nullptr) == SQLITE_OK) {
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        rows += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        // Appended apart: GCC 12 warns falsely (-Wrestrict) of a literal +
        // a temporary in optimised builds.
        rows += '=';
        rows += std::to_string(sqlite3_column_int(stmt, 1));
        rows += ';';
      }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
  }

  std::shared_ptr<Connection> Open(const std::string& name) {
    auto cn = std::make_shared<Connection>();
    cn->SetProvider(kJetProvider);
    cn->Open(Path(name));
    return cn;
  }

  testing::TempDir tmp_{"session_test"};
  const std::string dir_ = tmp_.path().string();
};

TEST_F(SessionTest, ChangesOfAllDatabasesAreKeptTogetherOrNotAtAll) {
  for (bool commit : {false, true}) {
    auto session = Session::Begin(1000);
    auto a = Open("a.mdb");
    auto b = Open("b.mdb");
    // Both name table t: each connection's statements reach its own file.
    a->Execute("insert into t values ('a', 1)");
    b->Execute("insert into T values ('b', 2)");
    Command count(b, "select count(*) from t where k = ?");
    count.SetParameter(1, automation::Variant("b"));
    count.Execute();
    EXPECT_EQ(automation::CLng(count.Value(0)), 1);
    count.Close();
    // Closing a connection of the session commits nothing.
    a->Close();
    EXPECT_EQ(Rows("a.mdb"), "");
    EXPECT_EQ(Rows("b.mdb"), "");
    if (commit) {
      session->Commit();
      EXPECT_EQ(Session::Current(), nullptr);
    }
  }
  // The session dropped without Commit kept nothing.
  EXPECT_EQ(Rows("a.mdb"), "a=1;");
  EXPECT_EQ(Rows("b.mdb"), "b=2;");
}

TEST_F(SessionTest, AConnectionOfItsOwnCommitsOnlyWhenClosed) {
  auto dropped = Open("a.mdb");
  dropped->Execute("insert into t values ('dropped', 1)");
  dropped.reset();
  auto closed = Open("a.mdb");
  closed->Execute("insert into t values ('closed', 2)");
  EXPECT_EQ(Rows("a.mdb"), "");
  closed->Close();
  EXPECT_EQ(Rows("a.mdb"), "closed=2;");
}

TEST_F(SessionTest, ReadersSeeOneCommittedStateOfAllFiles) {
  auto writer = Session::Begin(1000);
  auto a = Open("a.mdb");
  auto b = Open("b.mdb");
  a->Execute("insert into t values ('x', 1)");
  b->Execute("insert into t values ('x', 1)");

  // Another reader starts while the run is still open: the files are
  // readable, and the run's changes are not there yet.
  auto reader = Session::BeginReading(1000);
  std::string schema_a = reader->Attach(Path("a.mdb"));
  std::string schema_b = reader->Attach(Path("b.mdb"));
  auto first = reader->Prepare("select count(*) from t", schema_a);
  ASSERT_TRUE(first->Step());
  EXPECT_EQ(first->Integer(0), 0);
  first->Reset();
  // The reader holds both files: the run cannot commit until it is done.
  EXPECT_THROW(writer->Commit(), AutomationError);
  EXPECT_EQ(Rows("a.mdb"), "");
  reader->Commit();

  auto second = Session::Begin(1000);
  a = Open("a.mdb");
  b = Open("b.mdb");
  a->Execute("insert into t values ('y', 2)");
  b->Execute("insert into t values ('y', 2)");
  second->Commit();
  EXPECT_EQ(Rows("a.mdb"), "y=2;");
  EXPECT_EQ(Rows("b.mdb"), "y=2;");
  (void)schema_b;
}

TEST_F(SessionTest, ALockedFileIsFoundWhenOpened) {
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(Path("a.mdb").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr),
            SQLITE_OK);
  {
    auto session = Session::Begin(300);
    auto start = std::chrono::steady_clock::now();
    AutomationError error = ErrorOf([&] { Open("a.mdb"); });
    EXPECT_NE(error.description().find("currently locked"), std::string::npos);
    EXPECT_NE(error.description().find(Path("a.mdb")), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(3));
  }
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
}

// Another process's commit holds a file exclusively for a moment: a reader
// or a writer opening it then waits for it, as for a lock taken later, and
// does not fail at once.
TEST_F(SessionTest, AFileBeingCommittedIsWaitedForWhenOpened) {
  for (const bool writing : {false, true}) {
    SCOPED_TRACE(writing ? "writer" : "reader");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(Path("a.mdb").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr),
              SQLITE_OK);
    std::thread commit([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    auto session =
        writing ? Session::Begin(10000) : Session::BeginReading(10000);
    std::string failure;
    try {
      session->Attach(Path("a.mdb"));
      session->Attach(Path("b.mdb"));
    } catch (const AutomationError& error) {
      failure = error.description();
    }
    commit.join();
    sqlite3_close(other);
    EXPECT_EQ(failure, "");
  }
}

// A run killed while it wrote leaves a journal that a reader who may not
// write the file cannot roll back: the message says that, not that the
// file's permissions are wrong.
TEST_F(SessionTest, AJournalOnlyAWriterCanRollBackIsNamedAsSuch) {
  const pid_t writer = ::fork();
  if (writer == 0) {
    sqlite3* db = nullptr;
    sqlite3_open(Path("a.mdb").c_str(), &db);
    sqlite3_exec(db, "PRAGMA cache_size = 1; BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < 500; ++i) {
      sqlite3_exec(db, "INSERT INTO t VALUES (printf('%.*c', 900, 'x'), 1)",
                   nullptr, nullptr, nullptr);
    }
    ::_exit(0);  // killed in the middle: the journal stays
  }
  int status = 0;
  ASSERT_EQ(::waitpid(writer, &status, 0), writer);
  ASSERT_TRUE(std::filesystem::exists(Path("a.mdb-journal")));
  ::chmod(Path("a.mdb").c_str(), 0444);
  ::chmod(dir_.c_str(), 0555);
  EXPECT_EQ(testing::RunUnprivileged([&] {
              try {
                auto reader = Session::BeginReading(1000);
                reader->Attach(Path("a.mdb"));
              } catch (const AutomationError& error) {
                const std::string& text = error.description();
                return text.find("unfinished changes of a run") !=
                                   std::string::npos &&
                               text.find(Path("a.mdb")) != std::string::npos
                           ? 0
                           : 2;
              }
              return 1;
            }),
            0);
  ::chmod(dir_.c_str(), 0755);
  ::chmod(Path("a.mdb").c_str(), 0644);
  // The next process that may write it rolls the journal back.
  EXPECT_EQ(Rows("a.mdb"), "");
}

// The velnor tests make read-only files on a read-only mount as root.
TEST_F(SessionTest, ReadOnlyFilesAndFoldersAreFoundWhenOpened) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "cannot run as root: file permissions do not bind root "
                    "(collect_faults_test covers read-only storage as root "
                    "with a read-only mount)";
  }
  ::chmod(Path("b.mdb").c_str(), 0444);
  EXPECT_THROW(Open("b.mdb"), AutomationError);
  ::chmod(Path("b.mdb").c_str(), 0644);
  ::chmod(dir_.c_str(), 0555);
  AutomationError error = ErrorOf([&] { Open("b.mdb"); });
  EXPECT_NE(error.description().find("read-only"), std::string::npos)
      << error.description();
}

TEST_F(SessionTest, AFullDatabaseSpoilsTheWholeSession) {
  auto session = Session::Begin(1000);
  auto a = Open("a.mdb");
  auto b = Open("b.mdb");
  b->Execute("insert into t values ('b', 1)");
  // The first file opened is the session's main database; limiting its
  // size is a full disk in small.
  a->Execute("PRAGMA max_page_count = 3");
  Command insert(a, "insert into t values (?, 1)");
  insert.SetParameter(1, automation::Variant(std::string(2000, 'x')));
  bool full = false;
  for (int i = 0; i < 20 && !full; ++i) {
    try {
      insert.Execute();
    } catch (const AutomationError& error) {
      full = true;
      EXPECT_NE(error.description().find("full"), std::string::npos)
          << error.description();
    }
  }
  ASSERT_TRUE(full);
  EXPECT_TRUE(b->TransactionFailed());
  // Later statements do nothing, and the commit reports the failure.
  b->Execute("insert into t values ('late', 2)");
  EXPECT_NE(ErrorOf([&] { session->Commit(); }).description().find("full"),
            std::string::npos);
  EXPECT_EQ(Rows("a.mdb"), "");
  EXPECT_EQ(Rows("b.mdb"), "");
}

// A reason only the caller knows (a count past its column) spoils the
// session as a full disk does: the first reason is the one raised.
TEST_F(SessionTest, AFailureTheCallerGivesKeepsNothingEither) {
  auto session = Session::Begin(1000);
  auto a = Open("a.mdb");
  auto b = Open("b.mdb");
  a->Execute("insert into t values ('a', 1)");
  EXPECT_FALSE(b->TransactionFailed());
  b->FailTransaction(AutomationError(6, "the count would pass 2147483647"));
  a->FailTransaction(AutomationError(5, "a later reason"));
  EXPECT_TRUE(a->TransactionFailed());
  AutomationError error = ErrorOf([&] { session->Commit(); });
  EXPECT_EQ(error.number(), 6);
  EXPECT_EQ(error.description(), "the count would pass 2147483647");
  EXPECT_EQ(Rows("a.mdb"), "");
  // The next session of the same files is not spoiled.
  auto next = Session::Begin(1000);
  auto again = Open("a.mdb");
  again->Execute("insert into t values ('kept', 2)");
  EXPECT_FALSE(again->TransactionFailed());
  next->Commit();
  EXPECT_EQ(Rows("a.mdb"), "kept=2;");
}

// A transaction apart (a run's start, and its failure) is kept whatever
// becomes of the session's own, which it comes before or after; what
// fails inside it, or a failure the caller gives there, keeps none of it
// and spoils nothing else.
TEST_F(SessionTest, ATransactionApartIsKeptWhateverBecomesOfTheSessions) {
  auto session = Session::Begin(1000);
  const std::string a = session->Attach(Path("a.mdb"));
  const std::string b = session->Attach(Path("b.mdb"));
  auto insert = [&](const std::string& schema, const std::string& row) {
    session->Prepare("insert into t values (" + row + ")", schema)->Step();
  };
  session->CommitApart([&] { insert(a, "'start', 1"); });
  EXPECT_EQ(Rows("a.mdb"), "start=1;");
  EXPECT_EQ(ErrorOf([&] {
              session->CommitApart([&] {
                insert(b, "'raised', 2");
                automation::Raise(5, "refused");
              });
            }).number(),
            5);
  EXPECT_EQ(ErrorOf([&] {
              session->CommitApart([&] {
                insert(b, "'spoiled', 3");
                session->Fail(AutomationError(6, "too big"));
              });
            }).number(),
            6);
  EXPECT_EQ(Rows("b.mdb"), "");
  insert(b, "'run', 4");
  EXPECT_EQ(ErrorOf([&] { session->CommitApart([] {}); }).number(),
            kErrUnspecified);
  session->Fail(AutomationError(7, "the count would pass 2147483647"));
  EXPECT_EQ(ErrorOf([&] { session->Commit(); }).number(), 7);
  session->CommitApart([&] { insert(a, "'failed', 5"); });
  EXPECT_EQ(Rows("a.mdb"), "start=1;failed=5;");
  EXPECT_EQ(Rows("b.mdb"), "");
}

// What another process reads of `sql` in the file `name`, a row a line.
std::string Read(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  std::string rows;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK);
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const unsigned char* text = sqlite3_column_text(stmt, i);
      rows += text ? reinterpret_cast<const char*>(text) : "NULL";
      rows += '|';
    }
    rows += '\n';
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

// An append leaves out the one plain index it names, in the right file of
// several, and nothing else: the table's unique index goes on refusing
// rows, and one asked for by name stays as well; a failure while the rows
// are appended leaves, once rolled back to the caller's savepoint, the
// indexes and rows as they were.
TEST_F(SessionTest, AnAppendLeavesOutThePlainIndexItNamesAndNothingElse) {
  const std::string kIndexes =
      "CREATE INDEX \"t_k\" ON \"t\" (\"k\" COLLATE NOCASE, n);"
      "create unique index T_N on t (n) where n > 0;"
      "CREATE INDEX t_mine ON t (n, k);"  // a user's own
      "CREATE TABLE u (k TEXT); CREATE INDEX u_k ON u (k)";
  for (const char* name : {"a.mdb", "b.mdb"}) {
    testing::ExecSql(Path(name), kIndexes);
    testing::ExecSql(Path(name), "INSERT INTO t VALUES ('old', 1)");
  }
  const std::string kIndexNames =
      "SELECT group_concat(name) FROM (SELECT name FROM sqlite_schema WHERE "
      "type = 'index' ORDER BY name)";
  struct Case {
    const char* index;
    const char* appended;
    bool kept;
    const char* indexes_after;
  };
  const Case kCases[] = {
      {"t_k", "insert into t values ('dup', 1)", false,  // T_N refuses it
       "T_N,t_k,t_mine,u_k|\n"},
      {"t_k", "insert into nowhere values ('lost', 9)", false,  // fails
       "T_N,t_k,t_mine,u_k|\n"},
      {"t_k", "insert into t values ('x', 2), ('X', 3), ('y', 0)", true,
       "T_N,t_mine,u_k|\n"},
      {"T_N", "insert into t values ('z', 4)", true, "T_N,t_k,t_mine,u_k|\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.appended);
    testing::ExecSql(Path("b.mdb"),
                     "DELETE FROM t WHERE k <> 'old'; CREATE INDEX IF NOT "
                     "EXISTS \"t_k\" ON \"t\" (\"k\" COLLATE NOCASE, n)");
    auto session = Session::Begin(1000);
    auto a = Open("a.mdb");
    auto b = Open("b.mdb");
    b->Execute("SAVEPOINT s");
    auto append = [&] {
      b->AppendLeavingIndexesOut("T", c.index, [&] { b->Execute(c.appended); });
    };
    if (c.kept) {
      append();
    } else {
      EXPECT_NE(ErrorOf(append).description(), "");
      b->Execute("ROLLBACK TO s");
    }
    b->Execute("RELEASE s");
    EXPECT_FALSE(b->TransactionFailed());
    session->Commit();
    EXPECT_EQ(Read(Path("b.mdb"), kIndexNames), c.indexes_after);
    EXPECT_EQ(Read(Path("a.mdb"), kIndexNames), "T_N,t_k,t_mine,u_k|\n");
    EXPECT_EQ(Read(Path("b.mdb"), "PRAGMA integrity_check"), "ok|\n");
    EXPECT_EQ(Rows("a.mdb"), "old=1;");
  }
  EXPECT_EQ(Rows("b.mdb"), "old=1;z=4;");
}

// Plain indexes dropped by a series of appends stay out past the commit,
// unless a savepoint undid the drop; EnsureIndex makes one again, in the
// right file of several, as a CREATE INDEX of those columns would, whose
// look-ups find the rows, and leaves an index of that name as it is.
TEST_F(SessionTest, PlainIndexesLeftOutByAppendsComeBackWhereEnsured) {
  const std::string kSchema =
      "SELECT type, name, tbl_name, sql FROM sqlite_schema ORDER BY name";
  testing::ExecSql(Path("b.mdb"),
                   "CREATE INDEX \"t_k\" ON \"t\" (\"k\", \"n\")");
  const std::string indexed = Read(Path("b.mdb"), kSchema);
  testing::ExecSql(Path("b.mdb"), "DROP INDEX t_k");
  const std::string plain = Read(Path("b.mdb"), kSchema);
  const std::string other = Read(Path("a.mdb"), kSchema);
  enum class Ending { kCommit, kDropUndone, kEnsured, kEnsuredTwice };
  for (Ending ending : {Ending::kCommit, Ending::kDropUndone, Ending::kEnsured,
                        Ending::kEnsuredTwice}) {
    SCOPED_TRACE(static_cast<int>(ending));
    testing::ExecSql(Path("b.mdb"),
                     "DELETE FROM t; CREATE INDEX IF NOT EXISTS \"t_k\" ON "
                     "\"t\" (\"k\", \"n\")");
    auto session = Session::Begin(1000);
    auto a = Open("a.mdb");
    auto b = Open("b.mdb");
    auto append = [&](const std::string& row) {
      b->AppendLeavingIndexesOut(
          "T", "t_k", [&] { b->Execute("insert into t values " + row); });
    };
    if (ending == Ending::kDropUndone) b->Execute("SAVEPOINT s");
    append("('x', 1)");
    append("('x', 2)");
    if (ending == Ending::kDropUndone) {
      b->Execute("ROLLBACK TO s");
      b->Execute("RELEASE s");
      append("('x', 3)");
      b->Execute("SAVEPOINT s");
      b->Execute("ROLLBACK TO s");
      b->Execute("RELEASE s");
    }
    if (ending == Ending::kEnsured || ending == Ending::kEnsuredTwice) {
      b->EnsureIndex("t",
                     {.name = "t_k", .columns = {"k", "n"}, .postgres = ""});
    }
    if (ending == Ending::kEnsuredTwice)
      b->EnsureIndex("t", {.name = "t_k", .columns = {"n"}, .postgres = ""});
    session->Commit();
    EXPECT_EQ(Read(Path("a.mdb"), kSchema), other);
    EXPECT_EQ(Read(Path("b.mdb"), "PRAGMA integrity_check"), "ok|\n");
    if (ending == Ending::kCommit || ending == Ending::kDropUndone) {
      EXPECT_EQ(Read(Path("b.mdb"), kSchema), plain);
      continue;
    }
    EXPECT_EQ(Read(Path("b.mdb"), kSchema), indexed);
    EXPECT_EQ(Read(Path("b.mdb"),
                   "SELECT n FROM t INDEXED BY t_k WHERE k = 'x' ORDER BY n"),
              "1|\n2|\n");
  }
}

}  // namespace
}  // namespace velnor::ado
