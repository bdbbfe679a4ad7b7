// Connection, Recordset and Command: the database objects the report store
// works through, with the members and values it uses, over the engine of
// engine.h (SQLite files, or the schemas of a PostgreSQL database).
//
// The provider "Microsoft.Jet.OLEDB.4.0" selects the engine and the
// connection string is the path of an existing database file (the files keep
// their .mdb names although they hold SQLite). The SQL callers send is
// Jet's: bracketed identifiers, table names in any case, text literals in
// apostrophes; a Command's values are "?" markers, bound rather than
// written into the text. One statement per call: text after the first
// statement is an error and is never executed.
//
// Failures raise automation::AutomationError with a number and description
// modelled on what Jet reports (see the kErr constants below).
//
// Transactions: a connection belongs to a Session (session.h). Opened while
// a session is current, it joins that session, whose owner commits the
// changes of all its databases at once; otherwise it has a session of its
// own, committed by Close and rolled back when the connection is dropped
// without Close. Reads see the session's own changes; other processes see
// them once committed. Objects are for one thread.
#ifndef VELNOR_PLATFORM_ADO_ADO_H_
#define VELNOR_PLATFORM_ADO_ADO_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/engine.h"
#include "platform/automation/error_state.h"
#include "platform/automation/object.h"
#include "platform/automation/variant.h"

namespace velnor::ado {

// CursorTypeEnum
inline constexpr int32_t adOpenForwardOnly = 0;
inline constexpr int32_t adOpenDynamic = 2;
// LockTypeEnum
inline constexpr int32_t adLockReadOnly = 1;
inline constexpr int32_t adLockPessimistic = 2;
inline constexpr int32_t adLockOptimistic = 3;
// CursorLocationEnum
inline constexpr int32_t adUseServer = 2;
inline constexpr int32_t adUseClient = 3;
// ObjectStateEnum
inline constexpr int32_t adStateClosed = 0;
inline constexpr int32_t adStateOpen = 1;

inline constexpr std::string_view kJetProvider = "Microsoft.Jet.OLEDB.4.0";

// Error numbers as the automation error state shows them (negative numbers
// are HRESULTs). Database errors come with Jet's description followed by
// the file and the reason.
inline constexpr int32_t kErrNoCurrentRecord = 3021;       // BOF or EOF
inline constexpr int32_t kErrItemNotFound = 3265;          // no such field
inline constexpr int32_t kErrObjectClosed = 3704;          // not open
inline constexpr int32_t kErrObjectOpen = 3705;            // already open
inline constexpr int32_t kErrProviderNotFound = 3706;      // not Jet
inline constexpr int32_t kErrConnectionInvalid = 3709;     // no open connection
inline constexpr int32_t kErrNotUpdatable = 3251;          // AddNew refused
inline constexpr int32_t kErrUnspecified = -2147467259;    // 0x80004005
inline constexpr int32_t kErrSyntax = -2147217900;         // 0x80040E14
inline constexpr int32_t kErrNoValueGiven = -2147217904;   // 0x80040E10
inline constexpr int32_t kErrTableNotFound = -2147217865;  // 0x80040E37
inline constexpr int32_t kErrRowRefused = -2147217873;     // 0x80040E2F

class Recordset;
class Session;

class Connection : public automation::Object {
 public:
  Connection();
  ~Connection() override;

  // The provider starts as "MSDASQL", as in ADO; Open accepts only
  // kJetProvider (compared without regard to case) and raises 3706 for any
  // other.
  void SetProvider(std::string_view provider);

  // Opens the database file named by `connection_string`, joining the
  // current session (or one of its own). A file that does not exist is an
  // error ("Could not find file '...'."); nothing is created. A file that
  // is not a database raises "Unrecognized database format"; one that
  // cannot be written (a read-only file or folder) raises the read-only
  // error; one that another process holds locked raises the locked error
  // once the session's lock wait has passed. Raises 3705 when already open.
  void Open(std::string_view connection_string);
  int32_t State() const;
  // Closes; open recordsets of the connection are closed first. A
  // connection of its own session commits its changes here, raising the
  // engine's error (and keeping nothing) when that fails. Raises 3704 when
  // not open.
  void Close();
  // Carries out one statement that returns no rows (rows it does return are
  // discarded). Raises 3704 when not open.
  void Execute(std::string_view sql);

  // Prepares `sql` on this connection's database. Raises 3704 when not
  // open, or the engine's error.
  std::unique_ptr<Statement> Prepare(std::string_view sql);
  // Appends the rows `next` gives (one text per name of `columns`, or none
  // for NULL) to `table` in one bulk load where the engine has one (see
  // Engine::CopyRows); false, asking for none, where it has not.
  bool CopyRows(std::string_view table, const std::vector<std::string>& columns,
                const Engine::RowBatches& next);
  // Whether CopyRows bulk-loads (Engine::BulkLoads). Raises 3704 when not
  // open.
  bool BulkLoads() const;
  // Builds the indexes of `table` an append left set aside (see
  // Engine::BuildIndexes), before a look-up that needs them. Raises 3704
  // when not open.
  void BuildIndexes(const std::string& table);
  // Runs `append`, which only appends rows to `table`, with the table's
  // plain index `index` dropped meanwhile and left out past the commit, and
  // its other plain indexes built again after it, where the engine gains by
  // that (see Engine::AppendLeavingIndexesOut). Raises 3704 when not open.
  void AppendLeavingIndexesOut(const std::string& table,
                               const std::string& index,
                               const std::function<void()>& append);
  // Makes `index` of `table` where the database has no index of its name
  // (see Engine::EnsureIndex), before a look-up that needs it. Raises 3704
  // when not open.
  void EnsureIndex(const std::string& table, const IndexDefinition& index);
  // How `column` of `table` compares texts (see Engine::EqualityOf).
  // Raises 3704 when not open.
  TextEquality ColumnEquality(const std::string& table,
                              const std::string& column);
  // The database file, as Open was given it.
  const std::string& path() const;
  // True once a failure (a full disk, an I/O error) spoiled the transaction
  // that this connection's changes belong to: nothing of it will be kept.
  bool TransactionFailed() const;
  // Spoils that transaction with `error` (see Session::Fail): its commit
  // raises `error` and keeps nothing. Raises 3704 when not open.
  void FailTransaction(const automation::AutomationError& error);

  struct Impl;

 private:
  friend class Command;
  friend class Recordset;
  std::unique_ptr<Impl> impl_;
};

// A field of the current row (reading) or of the pending new row (writing),
// named by column. Reading with no current row raises 3021.
class Field {
 public:
  automation::Variant Value() const;
  void SetValue(const automation::Variant& value);
  // SetValue(Variant(text)), reusing the storage of the text it replaces.
  void SetText(std::string_view text);

 private:
  friend class Recordset;
  Field(Recordset* recordset, int column) : rs_(recordset), column_(column) {}
  Recordset* rs_;
  int column_;
};

class Recordset : public automation::Object {
 public:
  Recordset();
  ~Recordset() override;

  void SetCursorType(int32_t cursor_type);
  void SetLockType(int32_t lock_type);
  void SetCursorLocation(int32_t cursor_location);
  void SetActiveConnection(std::shared_ptr<Connection> connection);

  // Runs the query `source` on the active connection and positions on the
  // first row. Rows are read as the cursor moves, never all at once.
  void Open(std::string_view source);
  int32_t State() const;
  // Closes; a pending new row that was never stored is discarded.
  void Close();

  // True when there is no current row. (EOF is a C macro, hence the name.)
  bool Eof() const;
  void MoveNext();

  // The field of column `name` (case-insensitive); raises 3265 when the
  // recordset has no such column.
  Field Fields(std::string_view name);

  // Starts a pending new row; the source must be "select * from <table>".
  void AddNew();
  // Stores the pending row; a row the table refuses raises and stays
  // pending until CancelUpdate or Close.
  void Update();
  void CancelUpdate();

  struct Impl;

 private:
  friend class Field;
  std::unique_ptr<Impl> impl_;
};

// A statement prepared once, with "?" markers for its values, and run many
// times with other values bound, as a prepared ADODB.Command is. A query
// gives a forward-only, read-only cursor over its rows.
class Command {
 public:
  // Prepares `sql` on the open connection `connection`. Raises 3704 when
  // the connection is not open, or what the engine raises for the text.
  Command(std::shared_ptr<Connection> connection, std::string_view sql);
  ~Command();

  // Sets the value of marker `index` (from 1) for the next Execute.
  void SetParameter(int index, const automation::Variant& value);
  // Sets marker `index` to the text `text` without copying it (see
  // Statement::BindBorrowedText): its bytes must stay unchanged until the
  // marker is set again or the command is destroyed.
  void SetBorrowedText(int index, std::string_view text);

  // Runs the statement with the values set; a query is positioned on its
  // first row. Raises the engine's error, or 3704 when the connection was
  // closed meanwhile.
  void Execute();
  // True when the query has no current row (always for other statements).
  bool Eof() const;
  void MoveNext();
  // Column `column` (from 0) of the current row; raises 3021 without one.
  automation::Variant Value(int column) const;
  // The column named `name` (without regard to case); raises 3265 when the
  // query has no such column.
  automation::Variant Value(std::string_view name) const;
  // Column `column` of the current row as text (empty for NULL, a number
  // written out), without a copy: valid until the cursor moves, or the
  // command runs or closes. Raises 3021 without a current row.
  std::string_view BorrowedText(int column) const;
  // Ends the query's run, releasing what it holds until the next Execute.
  void Close();

  // The statement as it would read with the current values written in
  // (see WithLiterals): for error messages, never run.
  std::string Text() const;

  // True while the connection is open as it was when the command was
  // prepared (not closed, nor closed and opened again).
  bool Usable() const;

 private:
  std::shared_ptr<Connection> connection_;
  uint64_t serial_ = 0;
  std::string sql_;
  std::unique_ptr<Statement> statement_;
  std::vector<automation::Variant> parameters_;
  // The texts of markers set by SetBorrowedText (their slot in parameters_
  // is then empty), for Text.
  std::vector<std::optional<std::string_view>> borrowed_;
  bool eof_ = true;
};

// `sql` with each "?" marker replaced by the Jet literal of the value of
// that position: text in apostrophes with inner apostrophes doubled,
// numbers as decimal digits, null as Null. A marker without a value stays.
std::string WithLiterals(std::string_view sql,
                         const std::vector<automation::Variant>& values);

// Registers "ADODB.Connection" and "ADODB.Recordset" with the class registry.
void RegisterClasses();

}  // namespace velnor::ado

#endif  // VELNOR_PLATFORM_ADO_ADO_H_
