// Connection and Recordset: the database objects the report store works
// through, with the members and values it uses, over SQLite 3 files.
//
// The provider "Microsoft.Jet.OLEDB.4.0" selects this engine and the
// connection string is the path of an existing database file (the files keep
// their .mdb names although they hold SQLite). The SQL the component sends is
// Jet's: bracketed identifiers, table names in any case, text literals in
// apostrophes. One statement per call: text after the first statement is an
// error and is never executed.
//
// Failures raise automation::AutomationError with a number and description
// modelled on what Jet reports (see the kErr constants below).
//
// Writes are batched like Jet's implicit transactions: a connection opens a
// transaction at its first write and commits it at the first statement that
// comes more than about 250 ms later, and always on Close and destruction.
// Reads on the connection see its own pending writes; another process sees
// them once committed. Statements are prepared once per shape: literals are
// lifted out of the text into parameters, so look-ups that differ only in
// their literals share one plan. Objects are for one thread.
#ifndef VELNOR_PLATFORM_ADO_ADO_H_
#define VELNOR_PLATFORM_ADO_ADO_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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

class Connection : public automation::Object {
 public:
  Connection();
  ~Connection() override;  // commits pending writes and closes

  // The provider starts as "MSDASQL", as in ADO; Open accepts only
  // kJetProvider (compared without regard to case) and raises 3706 for any
  // other.
  void SetProvider(std::string_view provider);
  const std::string& Provider() const;

  // Opens the database file named by `connection_string`. A file that does
  // not exist is an error ("Could not find file '...'."); nothing is created.
  // A file that is not a database raises "Unrecognized database format";
  // a file another process holds locked raises the locked error after about
  // two seconds of waiting. Raises 3705 when already open.
  void Open(std::string_view connection_string);
  int32_t State() const;
  // Commits pending writes and closes; open recordsets of the connection
  // are closed first. Raises 3704 when not open, and the locked error when
  // the pending writes cannot be committed (they are then rolled back).
  void Close();
  // Carries out one statement that returns no rows (rows it does return are
  // discarded). Raises 3704 when not open.
  void Execute(std::string_view sql);

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
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
  int32_t CursorType() const;
  void SetLockType(int32_t lock_type);
  int32_t LockType() const;
  void SetCursorLocation(int32_t cursor_location);
  int32_t CursorLocation() const;
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

// Registers "ADODB.Connection" and "ADODB.Recordset" with the class registry.
void RegisterClasses();

}  // namespace velnor::ado

#endif  // VELNOR_PLATFORM_ADO_ADO_H_
