// The SQLite engine: one sqlite3 handle whose main database is the first
// file attached and which ATTACHes the others, so that one transaction
// covers them all.
//
// Why a rollback journal and not write-ahead logging: SQLite commits a
// transaction over several files atomically only through a super-journal,
// which exists in rollback-journal modes alone; with write-ahead logs each
// file would commit on its own and a crash between two of them would leave
// one file counted and the other not. So every file attached is switched to
// journal_mode DELETE (the mode is kept in the file), and a killed process
// leaves hot journals that the next opener rolls back, or, past the commit
// point, journals that no longer count.
//
// Invariants:
// - Statements name their tables through QualifyTables, so a statement of
//   one database never reads another database's table of the same name.
// - No database is attached once the transaction has begun (SQLite refuses
//   it), so the session's set of files is fixed for its transaction.
// - The page cache is large enough that a run's changes stay in memory
//   until the commit: other processes can read the files meanwhile, since
//   only the commit takes them exclusively.
#include <sqlite3.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/ado/engine.h"
#include "platform/ado/jet_sql.h"
#include "platform/ado/nocase.h"
#include "platform/ado/page_region.h"
#include "platform/automation/error_state.h"
#include "platform/interrupt/interrupt.h"

namespace velnor::ado {
namespace {

using automation::Raise;

// Per database file; pages are taken only as they are used.
constexpr int kCacheKib = 64 * 1024;
// The sort of an index's rows: the worker threads SQLite's sorter may use
// beside the statement's own, and the size of the runs it hands them.
constexpr int kSorterThreads = 2;
constexpr int kSortRunKib = 1024;
// SQLite reports the file and the system's reason of an I/O failure only
// through its log, so the last such message is kept for the error that
// follows. Per thread: SQLite calls its log on the thread whose statement
// failed.
thread_local std::string last_log_message;

void KeepLogMessage(void*, int code, const char* message) {
  int primary = code & 0xff;
  if (primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN) {
    last_log_message = message ? message : "";
  }
}

// The page size of the files (SQLite's default), whose cached pages go
// into the page region.
constexpr size_t kPageBytes = 4096;

// The settings are global and take effect only before SQLite initialises,
// so they are made as the program loads. Memory statistics take a global
// mutex around every allocation and nothing here reads them. Statement
// journals (what a savepoint or a failing statement undoes) stay in memory
// however large they grow, as temporary storage is in files (below) and
// they would otherwise spill into one past 64 KiB.
[[maybe_unused]] const bool kConfigured =
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK &&
    sqlite3_config(SQLITE_CONFIG_STMTJRNL_SPILL, -1) == SQLITE_OK &&
    sqlite3_config(SQLITE_CONFIG_LOG, KeepLogMessage, nullptr) == SQLITE_OK;
// Without the region SQLite takes the memory of every page from malloc.
[[maybe_unused]] const bool kPagesInRegion = CachePagesInRegion(kPageBytes);

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// How long a statement waits for another process's lock on a file: until
// the deadline, or until SIGINT or SIGTERM asks the process to stop, which
// SQLite's own busy timeout would sleep through.
class LockWait {
 public:
  void Install(sqlite3* db, int wait_ms) {
    deadline_ =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    sqlite3_busy_handler(db, &LockWait::OnBusy, this);
  }

 private:
  static int OnBusy(void* self, int) {
    const auto* wait = static_cast<LockWait*>(self);
    if (interrupt::Interrupted() ||
        std::chrono::steady_clock::now() >= wait->deadline_) {
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return 1;
  }

  std::chrono::steady_clock::time_point deadline_;
};

// `path` with its folder's symbolic links resolved. SQLite opens a file to
// write with SQLITE_OPEN_NOFOLLOW, which refuses a link anywhere in the
// path: the folder is the user's to name as they like, the file in it is
// not, so only the folder is resolved here.
std::string WithRealFolder(const std::string& path) {
  char real[PATH_MAX];
  if (::realpath(FolderOf(path).c_str(), real) == nullptr) return path;
  const size_t slash = path.rfind('/');
  return std::string(real) + "/" +
         (slash == std::string::npos ? path : path.substr(slash + 1));
}

// Raises the error `rc` of `db` as the Jet engine would name it, with the
// file `path` and, for a refused row, the table.
[[noreturn]] void RaiseError(sqlite3* db, int rc, const std::string& path,
                             std::string_view table = "") {
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  std::string file = "'" + path + "'";
  std::string in_table =
      table.empty() ? "" : "Table '" + std::string(table) + "' in ";
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      Raise(kErrUnspecified,
            "Could not update; currently locked by another session on this "
            "machine. The database " +
                file +
                " is held by another process; retry when it has finished.");
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
    case SQLITE_TOOBIG:
      Raise(kErrRowRefused, in_table + file + " refused the row: " + message +
                                ". Correct the value written to that column.");
    case SQLITE_READONLY:
      // A run stopped while it wrote left its journal, which the next
      // process that may write the file rolls back on opening it; one that
      // may only read it cannot, and the file's permissions are not what
      // is wrong.
      if (rc == SQLITE_READONLY_ROLLBACK) {
        Raise(kErrUnspecified,
              "Cannot update. Database or object is read-only. " + file +
                  " holds the unfinished changes of a run that was stopped "
                  "while it wrote them (its journal lies beside it), which "
                  "only a process that may write the file and its folder can "
                  "undo; run velnor once as the user that collects (the next "
                  "collect does it), then read it again.");
      }
      Raise(kErrUnspecified,
            "Cannot update. Database or object is read-only. " + file +
                " cannot be written (" + message +
                "); check the file's permissions.");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      // A damaged file stays: init-db leaves an existing one as it is, and
      // a ledger is made by collect, so neither would mend it.
      Raise(kErrUnspecified,
            "Unrecognized database format " + file + ". " + message +
                "; restore it from a backup, or move it out of the "
                "folder.");
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN: {
      std::string detail =
          last_log_message.empty() ? "" : " (" + last_log_message + ")";
      last_log_message.clear();
      Raise(kErrUnspecified,
            "Disk or network error. " + message + detail + " on " + file +
                "; check the disk's free space and the file's folder.");
    }
    default:
      Raise(kErrUnspecified, message + " (database " + file + ").");
  }
}

// What a failed statement leaves for the whole transaction.
struct TransactionState {
  bool began = false;
  std::optional<automation::AutomationError> failure;
};

// Failures after which the transaction cannot be trusted to hold every
// change made before them.
bool SpoilsTransaction(int rc) {
  switch (rc & 0xff) {
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_NOMEM:
    case SQLITE_CORRUPT:
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
      return true;
    default:
      return false;
  }
}

class SqliteStatement : public Statement {
 public:
  SqliteStatement(sqlite3* db, sqlite3_stmt* stmt, std::string path,
                  std::string table, TransactionState* transaction)
      : db_(db),
        stmt_(stmt),
        path_(std::move(path)),
        table_(std::move(table)),
        transaction_(transaction) {}
  ~SqliteStatement() override { sqlite3_finalize(stmt_); }

  int ParameterCount() const override {
    return sqlite3_bind_parameter_count(stmt_);
  }
  void BindNull(int index) override {
    Unfinished();
    sqlite3_bind_null(stmt_, index);
  }
  void BindInteger(int index, int64_t value) override {
    Unfinished();
    sqlite3_bind_int64(stmt_, index, value);
  }
  void BindReal(int index, double value) override {
    Unfinished();
    sqlite3_bind_double(stmt_, index, value);
  }
  void BindText(int index, std::string_view value) override {
    Unfinished();
    sqlite3_bind_text(stmt_, index, value.data(),
                      static_cast<int>(value.size()), SQLITE_TRANSIENT);
  }
  void BindBorrowedText(int index, std::string_view value) override {
    Unfinished();
    sqlite3_bind_text(stmt_, index, value.data(),
                      static_cast<int>(value.size()), SQLITE_STATIC);
  }

  bool Step() override {
    if (transaction_->failure) return false;
    int rc = sqlite3_step(stmt_);
    running_ = rc == SQLITE_ROW;
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3_reset(stmt_);
    bool ended = transaction_->began && sqlite3_get_autocommit(db_);
    try {
      RaiseError(db_, rc, path_, table_);
    } catch (const automation::AutomationError& error) {
      if (SpoilsTransaction(rc) || ended) transaction_->failure = error;
      throw;
    }
  }
  void Reset() override {
    running_ = false;
    sqlite3_reset(stmt_);
  }

  int ColumnCount() const override { return sqlite3_column_count(stmt_); }
  std::string ColumnName(int column) const override {
    const char* name = sqlite3_column_name(stmt_, column);
    return name ? name : "";
  }
  ColumnType Type(int column) const override {
    switch (sqlite3_column_type(stmt_, column)) {
      case SQLITE_INTEGER:
        return ColumnType::kInteger;
      case SQLITE_FLOAT:
        return ColumnType::kReal;
      case SQLITE_NULL:
        return ColumnType::kNull;
      default:
        return ColumnType::kText;
    }
  }
  int64_t Integer(int column) const override {
    return sqlite3_column_int64(stmt_, column);
  }
  double Real(int column) const override {
    return sqlite3_column_double(stmt_, column);
  }
  std::string_view Text(int column) const override {
    const auto* text =
        reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    if (!text) return {};
    return {text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
  }

 private:
  // Binding into a statement that is half-way through its rows would
  // change what the rest of them mean.
  void Unfinished() {
    if (running_) Reset();
  }

  sqlite3* db_;
  sqlite3_stmt* stmt_;
  std::string path_;
  std::string table_;  // for refused rows
  TransactionState* transaction_;
  bool running_ = false;
};

class SqliteEngine : public Engine {
 public:
  ~SqliteEngine() override {
    if (db_ && !sqlite3_get_autocommit(db_)) Exec("ROLLBACK");
    sqlite3_close_v2(db_);
  }

  std::string Attach(const std::string& path, int lock_wait_ms,
                     bool for_writing) override {
    if (db_ && !sqlite3_get_autocommit(db_)) {
      Raise(kErrUnspecified,
            "The database '" + path +
                "' was opened after the run's first statement; open every "
                "database of a run before using any.");
    }
    struct stat info {};
    if (for_writing && ::lstat(path.c_str(), &info) == 0 &&
        S_ISLNK(info.st_mode)) {
      Raise(kErrUnspecified,
            "'" + path +
                "' is a symbolic link, and a database is never written "
                "through one (it could point at any file); put the database "
                "file itself in its place.");
    }
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
      Raise(kErrUnspecified, "Could not find file '" + path + "'.");
    }
    std::string schema = db_ ? "db" + std::to_string(paths_.size()) : "main";
    const std::string opened = for_writing ? WithRealFolder(path) : path;
    // ATTACH reads the file's schema, and so waits for its lock as any
    // statement does.
    if (db_) {
      lock_wait_.Install(db_, lock_wait_ms);
      Exec("ATTACH DATABASE " + SqlText(opened) + " AS " + schema, path);
    } else {
      Open(opened, path, for_writing, lock_wait_ms);
    }
    paths_.push_back(path);
    try {
      lock_wait_.Install(db_, lock_wait_ms);
      // Reading the schema tells a database from any other file.
      Exec(
          "SELECT count(*) FROM " + QuotedIdentifier(schema) + ".sqlite_schema",
          path);
      if (for_writing) PrepareForWriting(schema, path);
    } catch (...) {
      if (schema != "main") Exec("DETACH DATABASE " + schema);
      paths_.pop_back();
      if (paths_.empty()) Close();
      throw;
    }
    return schema;
  }

  std::unique_ptr<Statement> Prepare(std::string_view sql,
                                     const std::string& schema,
                                     const std::string& path) override {
    std::string qualified = QualifyTables(sql, QuotedIdentifier(schema) + ".");
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v3(db_, qualified.c_str(),
                                static_cast<int>(qualified.size()),
                                SQLITE_PREPARE_PERSISTENT, &stmt, &tail);
    if (rc != SQLITE_OK) RaisePrepareError(rc, schema, path);
    auto statement = std::make_unique<SqliteStatement>(
        db_, stmt, path, StatementTable(sql), &transaction_);
    if (!stmt) {
      Raise(kErrSyntax,
            "Invalid SQL statement; expected 'DELETE', 'INSERT', "
            "'PROCEDURE', 'SELECT', or 'UPDATE'.");
    }
    // Nothing is run when more text follows: a second statement could
    // otherwise slip in through a value.
    if (!IsEmptyTail(std::string_view(
            tail, qualified.data() + qualified.size() - tail))) {
      Raise(kErrSyntax, "Characters found after end of SQL statement.");
    }
    return statement;
  }

  // The plain index `index` is dropped before the append and left out:
  // sorting a report's rows for its key index cost a run of fresh
  // databases a third of its time, for look-ups that only counting record
  // by record makes, which makes the index again first (EnsureIndex). The
  // table's other indexes stay, one a user made included; a unique one of
  // that name stays too, as it refuses rows. A savepoint that undoes the
  // append undoes the drop.
  void AppendLeavingIndexesOut(const std::string& schema,
                               const std::string& table,
                               const std::string& index,
                               const std::string& path,
                               const std::function<void()>& append) override {
    if (IsPlainIndex(schema, table, index, path)) {
      Exec("DROP INDEX " + QuotedIdentifier(schema) + "." +
               QuotedIdentifier(index),
           path);
    }
    append();
  }

  void EnsureIndex(const std::string& schema, const std::string& table,
                   const IndexDefinition& index,
                   const std::string& path) override {
    std::string sql = "CREATE INDEX IF NOT EXISTS " + QuotedIdentifier(schema) +
                      "." + QuotedIdentifier(index.name) + " ON " +
                      QuotedIdentifier(table) + " (";
    for (size_t i = 0; i < index.columns.size(); ++i) {
      sql += (i > 0 ? ", " : "") + QuotedIdentifier(index.columns[i]);
    }
    MakeIndex(sql + ")", path);
  }

  // Whether the database of `schema` has an index `index` of `table` that
  // is neither unique nor one of a constraint (which has no text).
  bool IsPlainIndex(const std::string& schema, const std::string& table,
                    const std::string& index, const std::string& path) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(
        db_,
        ("SELECT sql FROM " + QuotedIdentifier(schema) +
         ".sqlite_schema WHERE type = 'index' AND name = ?1 COLLATE NOCASE "
         "AND tbl_name = ?2 COLLATE NOCASE AND sql IS NOT NULL")
            .c_str(),
        -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_bind_text(stmt, 1, index.data(), static_cast<int>(index.size()),
                        SQLITE_TRANSIENT);
      sqlite3_bind_text(stmt, 2, table.data(), static_cast<int>(table.size()),
                        SQLITE_TRANSIENT);
      rc = sqlite3_step(stmt);
    }
    const bool plain =
        rc == SQLITE_ROW && std::string_view(reinterpret_cast<const char*>(
                                                 sqlite3_column_text(stmt, 0)))
                                .starts_with("CREATE INDEX ");
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) RaiseError(db_, rc, path);
    return plain;
  }

  TextEquality EqualityOf(const std::string& schema, const std::string& table,
                          const std::string& column) override {
    const char* collation = nullptr;
    if (!db_ || sqlite3_table_column_metadata(
                    db_, schema.c_str(), table.c_str(), column.c_str(), nullptr,
                    &collation, nullptr, nullptr, nullptr) != SQLITE_OK) {
      return TextEquality::kOther;
    }
    if (sqlite3_stricmp(collation, "BINARY") == 0) return TextEquality::kExact;
    if (sqlite3_stricmp(collation, "NOCASE") == 0) {
      return TextEquality::kAsciiCaseless;
    }
    return TextEquality::kOther;
  }

  void Begin(int lock_wait_ms) override {
    lock_wait_.Install(db_, lock_wait_ms);
    Exec("BEGIN IMMEDIATE", AllPaths());
    transaction_ = {};
    transaction_.began = true;
  }

  // A deferred transaction: each write takes its own database's lock,
  // waiting for it as Begin does. SQLite gives up at once instead of
  // waiting where a read of the transaction came first and another
  // process is writing the same file (waiting could deadlock); the
  // callers write under the run lock, which keeps other writers out.
  void BeginApart(int lock_wait_ms) override {
    lock_wait_.Install(db_, lock_wait_ms);
    Exec("BEGIN", AllPaths());
    transaction_ = {};
    transaction_.began = true;
  }

  void BeginRead(int lock_wait_ms) override {
    lock_wait_.Install(db_, lock_wait_ms);
    Exec("BEGIN", AllPaths());
    transaction_ = {};
    transaction_.began = true;
    // A read lock on every file now, in the order a commit takes them, so
    // that no commit falls between the reads of two files.
    for (size_t i = 0; i < paths_.size(); ++i) {
      std::string schema = i == 0 ? "main" : "db" + std::to_string(i);
      Exec(
          "SELECT count(*) FROM " + QuotedIdentifier(schema) + ".sqlite_schema",
          paths_[i]);
    }
  }

  void Commit(int lock_wait_ms) override {
    if (!transaction_.began) return;
    if (transaction_.failure) {
      automation::AutomationError failure = *transaction_.failure;
      Rollback();
      throw failure;
    }
    lock_wait_.Install(db_, lock_wait_ms);
    int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      transaction_ = {};
      return;
    }
    std::string paths = AllPaths();
    // A commit that failed half-way is undone: every file stays as it was.
    Rollback();
    RaiseError(db_, rc, paths);
  }

  void Rollback() override {
    if (db_ && !sqlite3_get_autocommit(db_)) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    transaction_ = {};
  }

  bool Failed() const override { return transaction_.failure.has_value(); }

 private:
  // A reader opens the files writable too when it may, so that it can roll
  // back what a killed run left in a journal before reading. A writer's
  // handle follows no symbolic link, in its files or those it attaches.
  // `opened` is the name given to SQLite, `path` the one messages show.
  void Open(const std::string& opened, const std::string& path,
            bool for_writing, int lock_wait_ms) {
    bool writable =
        for_writing || (::access(path.c_str(), W_OK) == 0 &&
                        ::access(FolderOf(path).c_str(), W_OK) == 0);
    int rc = sqlite3_open_v2(
        opened.c_str(), &db_,
        (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) |
            (for_writing ? SQLITE_OPEN_NOFOLLOW : 0) | SQLITE_OPEN_NOMUTEX,
        nullptr);
    if (db_) sqlite3_extended_result_codes(db_, 1);
    // Before the set-up below: its cache_size pragma reads the file's
    // schema, which another process's commit holds for a moment; without
    // the wait a report or a run starting then would fail at once.
    if (rc == SQLITE_OK) lock_wait_.Install(db_, lock_wait_ms);
    if (rc == SQLITE_OK) rc = InstallNoCase(db_);
    // Temporary storage in files, as SQLite's sorter starts worker threads
    // only then: an index made from a run's rows is sorted on both cores.
    // The staging tables of a run's counts (temporary tables) keep a cache
    // as large as a database's, so they stay in memory all the same; the
    // files themselves are SQLite's own, made exclusively under random
    // names and deleted on close.
    if (rc == SQLITE_OK) {
      const std::string setup = "PRAGMA temp_store = FILE; PRAGMA threads = " +
                                std::to_string(kSorterThreads) +
                                "; PRAGMA temp.cache_size = -" +
                                std::to_string(kCacheKib);
      rc = sqlite3_exec(db_, setup.c_str(), nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
      sqlite3* failed = std::exchange(db_, nullptr);
      struct Closer {
        sqlite3* db;
        ~Closer() { sqlite3_close_v2(db); }
      } closer{failed};
      RaiseError(failed, rc, path);
    }
  }

  void Close() {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }

  // Checks that the attached file is one this process may write, switches
  // it to a rollback journal and sizes its cache.
  void PrepareForWriting(const std::string& schema, const std::string& path) {
    std::string name = QuotedIdentifier(schema);
    if (sqlite3_db_readonly(db_, schema.c_str()) == 1) {
      Raise(kErrUnspecified,
            "Cannot update. Database or object is read-only. '" + path +
                "' cannot be written; check the file's permissions.");
    }
    if (::access(FolderOf(path).c_str(), W_OK) != 0) {
      Raise(kErrUnspecified,
            "Cannot update. Database or object is read-only. The folder of '" +
                path +
                "' cannot be written, so its changes could not be "
                "journalled; check the folder's permissions.");
    }
    if (QueryText("PRAGMA " + name + ".journal_mode = DELETE", path) !=
        "delete") {
      Raise(kErrUnspecified,
            "Could not update; currently locked by another session on this "
            "machine. '" +
                path +
                "' uses a write-ahead log and another process has it open, so "
                "it cannot be switched to the journal a run commits with; "
                "close the other program and retry.");
    }
    Exec("PRAGMA " + name + ".cache_size = -" + std::to_string(kCacheKib),
         path);
    // Taking the write lock once finds a read-only file or another
    // process's lock now, rather than at the first counted record.
    Exec("BEGIN IMMEDIATE", path);
    Exec("ROLLBACK", path);
  }

  // The first column of the first row of `sql`, as text.
  std::string QueryText(const std::string& sql, const std::string& path) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr);
    std::string text;
    if (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      const unsigned char* value = sqlite3_column_text(stmt, 0);
      text = value ? reinterpret_cast<const char*>(value) : "";
      rc = SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_OK && rc != SQLITE_DONE) RaiseError(db_, rc, path);
    return text;
  }

  // SQLite's sorter hands runs to its worker threads only when the rows
  // outgrow one run, whose size follows the main database's cache: while
  // indexes are made, the cache is made small (so that the sort is split
  // into runs of about kSortRunKib) and kept from spilling, so that the
  // dirty pages of the transaction stay in memory as the invariant above
  // says.
  void MakeIndex(const std::string& sql, const std::string& path) {
    Exec("PRAGMA cache_spill = OFF; PRAGMA main.cache_size = -" +
             std::to_string(kSortRunKib),
         path);
    struct Restore {
      SqliteEngine* engine;
      ~Restore() {
        engine->Exec("PRAGMA main.cache_size = -" + std::to_string(kCacheKib) +
                     "; PRAGMA cache_spill = ON");
      }
    } restore{this};
    Exec(sql, path);
  }

  void Exec(const std::string& sql, const std::string& path = "") {
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      if (!path.empty()) RaiseError(db_, rc, path);
    }
  }

  [[noreturn]] void RaisePrepareError(int rc, const std::string& schema,
                                      const std::string& path) {
    if ((rc & 0xff) != SQLITE_ERROR) RaiseError(db_, rc, path);
    std::string_view message = sqlite3_errmsg(db_);
    constexpr std::string_view kNoTable = "no such table: ";
    constexpr std::string_view kNoColumn = "no such column: ";
    if (message.starts_with(kNoTable)) {
      std::string name(message.substr(kNoTable.size()));
      if (name.starts_with(schema + ".")) name.erase(0, schema.size() + 1);
      Raise(kErrTableNotFound,
            "The Microsoft Jet database engine cannot find the input table "
            "or query '" +
                name +
                "'. Make sure it exists and that its name is "
                "spelled correctly.");
    }
    if (message.starts_with(kNoColumn)) {
      Raise(kErrNoValueGiven,
            "No value given for one or more required parameters. '" +
                std::string(message.substr(kNoColumn.size())) +
                "' is not a column of the query's tables in '" + path + "'.");
    }
    Raise(kErrSyntax, "Syntax error in SQL statement: " + std::string(message));
  }

  static std::string SqlText(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
      quoted += c;
      if (c == '\'') quoted += '\'';
    }
    return quoted + "'";
  }

  std::string AllPaths() const {
    std::string all;
    for (const std::string& path : paths_) {
      if (!all.empty()) all += "', '";
      all += path;
    }
    return all;
  }

  sqlite3* db_ = nullptr;
  std::vector<std::string> paths_;  // by schema: main, db1, db2, ...
  TransactionState transaction_;
  LockWait lock_wait_;
};

}  // namespace

std::unique_ptr<Engine> MakeSqliteEngine() {
  return std::make_unique<SqliteEngine>();
}

}  // namespace velnor::ado
