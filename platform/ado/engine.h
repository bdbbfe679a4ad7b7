// The database engine behind Connection, Recordset and Command: one handle
// that holds every database of a session and runs one transaction over all
// of them, and the statements prepared on it. SqliteEngine implements it
// for SQLite files, PgEngine for the schemas of one PostgreSQL database;
// the report store and the collector do not know which one they use.
//
// Failures raise automation::AutomationError with the numbers of ado.h
// (kErr...) and a description that names the database file and the reason.
#ifndef VELNOR_PLATFORM_ADO_ENGINE_H_
#define VELNOR_PLATFORM_ADO_ENGINE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/automation/error_state.h"

namespace velnor::ado {

enum class ColumnType { kNull, kInteger, kReal, kText };

// What Engine::Commit raises when it cannot tell whether the transaction
// was committed: the connection to the server was lost while the server
// committed it. All of it or nothing was kept; only the database can say
// which.
class CommitOutcomeUnknown : public automation::AutomationError {
 public:
  using automation::AutomationError::AutomationError;
};

// Which texts a column takes for equal: byte for byte, or also those that
// differ only in the case of ASCII letters (SQLite's NOCASE, citext under
// the "C" collation), or by some other rule.
enum class TextEquality { kExact, kAsciiCaseless, kOther };

// One prepared statement. Parameters are numbered from 1 and keep their
// values across runs until bound again; text is copied when bound, but
// for BindBorrowedText.
class Statement {
 public:
  virtual ~Statement() = default;

  virtual int ParameterCount() const = 0;
  virtual void BindNull(int index) = 0;
  virtual void BindInteger(int index, int64_t value) = 0;
  virtual void BindReal(int index, double value) = 0;
  virtual void BindText(int index, std::string_view value) = 0;
  // Binds `value` as BindText does, but may keep only the view: its bytes
  // must stay unchanged until the parameter is bound again or the
  // statement is destroyed. Spares a copy of texts the caller holds anyway.
  virtual void BindBorrowedText(int index, std::string_view value) {
    BindText(index, value);
  }

  // Runs the statement (first call after Reset) or moves to its next row;
  // true while a row is current.
  virtual bool Step() = 0;
  // Ends the current run and releases what it holds; bindings stay.
  virtual void Reset() = 0;

  virtual int ColumnCount() const = 0;
  virtual std::string ColumnName(int column) const = 0;
  // Values of the current row; valid until the next Step or Reset.
  virtual ColumnType Type(int column) const = 0;
  virtual int64_t Integer(int column) const = 0;
  virtual double Real(int column) const = 0;
  virtual std::string_view Text(int column) const = 0;
};

// An index that EnsureIndex makes, in the form of each engine: SQLite's on
// `columns`, in order; PostgreSQL's as `postgres` says, the text after "ON
// table" in its CREATE INDEX (the method and the indexed expressions),
// since the schemas index texts by expressions of their columns.
struct IndexDefinition {
  std::string name;
  std::vector<std::string> columns;
  std::string postgres;
};

class Engine {
 public:
  virtual ~Engine() = default;

  // Makes the database `path` part of the handle and returns the schema
  // its statements name. Nothing is created: a missing file or one that is
  // not a database raises here; `for_writing`, so does one that cannot be
  // written (a read-only file or folder) or that another process keeps
  // locked for longer than `lock_wait_ms`, before any statement runs.
  // Raises also once a transaction has begun.
  virtual std::string Attach(const std::string& path, int lock_wait_ms,
                             bool for_writing) = 0;

  // Prepares one statement of Jet SQL (bracketed names, apostrophe
  // literals, "?" parameters) for the database of `schema`; its tables are
  // looked up in that database only. `path` names the file in errors.
  // Text after the first statement is refused, never run.
  virtual std::unique_ptr<Statement> Prepare(std::string_view sql,
                                             const std::string& schema,
                                             const std::string& path) = 0;

  // How `column` of `table` in the database of `schema` compares texts;
  // kOther when the table or column is not there.
  virtual TextEquality EqualityOf(const std::string& schema,
                                  const std::string& table,
                                  const std::string& column) = 0;

  // The rows of a bulk load, one text or null per column.
  using CopyRow = std::vector<std::optional<std::string>>;
  // Gives a bulk load's rows a batch at a time: each call returns the next
  // batch (valid until the next call) or, after the last, nullptr.
  using RowBatches = std::function<const std::vector<CopyRow>*()>;

  // Appends the rows `next` gives (one text or null per name of `columns`)
  // to `table` of the database of `schema` in one bulk load, as one
  // statement: all of them or, raising, none. Each batch is sent before the
  // next is asked for, so that the server takes in one while the caller
  // makes the next; a raise of `next` ends the load with nothing appended
  // and is passed on. "temp." before the table names the session's
  // temporary tables. Returns false, asking for no batch, for an engine
  // without a bulk load, whose caller inserts the rows with statements
  // instead.
  virtual bool CopyRows(const std::string& /*schema*/,
                        std::string_view /*table*/,
                        const std::vector<std::string>& /*columns*/,
                        const RowBatches& /*next*/) {
    return false;
  }
  // Whether CopyRows bulk-loads, so that a caller without one need not make
  // the texts of rows it would refuse.
  virtual bool BulkLoads() const { return false; }

  // Runs `append`, which only appends rows to `table` of the database of
  // `schema` inside the current transaction. An engine whose indexes cost
  // more kept up to date row by row than built once may drop the table's
  // plain index `index` meanwhile and leave it out past the commit (the
  // caller makes it again before it looks rows up by it: EnsureIndex), and
  // drop its other plain indexes and build them again, with the same
  // definitions, afterwards or, for a series of appends, at BuildIndexes or
  // before the commit at the latest. Until then a look-up of the table
  // reads every row. A failure anywhere raises and leaves what the
  // transaction's savepoint undoes. By default it only runs `append`.
  virtual void AppendLeavingIndexesOut(const std::string& /*schema*/,
                                       const std::string& /*table*/,
                                       const std::string& /*index*/,
                                       const std::string& /*path*/,
                                       const std::function<void()>& append) {
    append();
  }
  // Builds the indexes of `table` that AppendLeavingIndexesOut set aside to
  // build again, if any; raises when one cannot be built. By default
  // nothing is set aside.
  virtual void BuildIndexes(const std::string& /*schema*/,
                            const std::string& /*table*/) {}
  // Makes the plain index `index` of `table` where the database of `schema`
  // has no index of that name; raises when it cannot be made. By default
  // indexes are never left out, so there is nothing to make.
  virtual void EnsureIndex(const std::string& /*schema*/,
                           const std::string& /*table*/,
                           const IndexDefinition& /*index*/,
                           const std::string& /*path*/) {}

  // One write transaction over every attached database, waiting up to
  // `lock_wait_ms` for other writers.
  virtual void Begin(int lock_wait_ms) = 0;
  // A write transaction whose write locks are taken by its writes, each
  // database's by the first write to it: a short transaction that writes
  // one database then commits it alone, without a journal over all of
  // them (for SQLite a super-journal, three more flushes to the disk).
  virtual void BeginApart(int lock_wait_ms) { Begin(lock_wait_ms); }
  // One read transaction over every attached database: what it reads of
  // all of them is one committed state, however other processes write
  // meanwhile. Commit ends it.
  virtual void BeginRead(int lock_wait_ms) = 0;
  // Makes the transaction's changes to all databases visible at once, or
  // none of them: a failure raises and leaves every database as before,
  // except that CommitOutcomeUnknown leaves them as before or committed.
  // Without a transaction it does nothing.
  virtual void Commit(int lock_wait_ms) = 0;
  virtual void Rollback() = 0;
  // True once a failure that spoils the transaction (a full disk, an I/O
  // error, a transaction the engine ended by itself) was raised. From then
  // on statements run no more (Step finds no row) and Commit rolls back
  // and raises that failure: a transaction is kept whole or not at all.
  virtual bool Failed() const = 0;
};

// The engine for SQLite files (.mdb names, SQLite inside).
std::unique_ptr<Engine> MakeSqliteEngine();

// The engine for one PostgreSQL database, reached through `url` (a libpq
// connection URI or key=value string) when the first database is attached.
// Each database is a schema of it named after the file name of its path
// (see PostgresSchemaOf); the tables, columns and functions the statements
// name are those reportdb's init-db makes there. Every statement runs
// inside a savepoint of its own, so that a refused row fails alone, as in
// SQLite, and never the whole transaction.
std::unique_ptr<Engine> MakePostgresEngine(const std::string& url);

// `name` as an SQL identifier: in double quotes, each quote inside doubled.
inline std::string QuotedIdentifier(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + '"';
}

// The schema that stands for the database `path` in PostgreSQL: the file
// name without folder (either separator) and extension, in lower case:
// "reports\\QDX_UAWebLogHitsByHour_SRV1.mdb" becomes
// "qdx_uawebloghitsbyhour_srv1".
std::string PostgresSchemaOf(std::string_view path);

// PostgreSQL cuts longer names: a schema name longer than this is refused.
inline constexpr size_t kMaxPostgresName = 63;

// The batches of a bulk load of `rows` in one batch; `rows` outlives the
// load.
inline Engine::RowBatches OneBatch(const std::vector<Engine::CopyRow>& rows) {
  return
      [&rows, given = false]() mutable -> const std::vector<Engine::CopyRow>* {
        return std::exchange(given, true) ? nullptr : &rows;
      };
}

}  // namespace velnor::ado

#endif  // VELNOR_PLATFORM_ADO_ENGINE_H_
