// Connection and Recordset over the sqlite3 C API.
//
// Invariants:
// - A connection owns one sqlite3 handle and a cache of prepared statements
//   keyed by statement shape (literals lifted out). A cached statement is
//   lent to one user at a time; a second concurrent user of the same shape
//   gets a private statement that is finalized when it is returned.
// - A lent statement is reset when returned, so no idle statement holds a
//   read lock on the file. Every use binds all of its parameters afresh;
//   text is bound without a copy, pointing into the shape's `bound_text` or
//   into a recordset's pending values, which stay put until the next use.
// - `in_transaction` mirrors SQLite's autocommit flag; it is re-read after
//   every failed step because some failures roll the transaction back.
#include "platform/ado/ado.h"

#include <sqlite3.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/ado/nocase.h"
#include "platform/ado/sql_text.h"
#include "platform/automation/error_state.h"

namespace velnor::ado {

using automation::Raise;
using automation::Variant;
using automation::VarType;

namespace {

constexpr const char* kJetSource = "Microsoft JET Database Engine";
constexpr const char* kAdoSource = "ADODB.Recordset";
constexpr int kBusyWaitMs = 2000;
constexpr auto kBatchAge = std::chrono::milliseconds(250);
// More shapes than this means the SQL is not of a few repeated forms; the
// idle entries are then dropped rather than kept forever.
constexpr size_t kMaxCachedShapes = 512;
// Enough for the look-up and update shapes of a report table and a few
// more; a connection that sends more shapes than this scans in full.
constexpr size_t kRecentShapes = 8;

// SQLite's memory statistics take a global mutex around every allocation
// and nothing here reads them. They can be turned off only before the
// library initialises, so this runs as the program loads; should another
// part of the program have used SQLite first, the call just fails.
[[maybe_unused]] const bool kMemoryStatisticsOff =
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;

// Field names are looked up by every write of a new row: most candidates
// differ in size or in their first letter, tested before the full compare.
bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         (a.empty() || (a[0] | 0x20) == (b[0] | 0x20)) &&
         strncasecmp(a.data(), b.data(), a.size()) == 0;
}

[[noreturn]] void RaiseClosed() {
  Raise(kErrObjectClosed, "Operation is not allowed when the object is closed.",
        kAdoSource);
}

[[noreturn]] void RaiseNotUpdatable() {
  Raise(kErrNotUpdatable,
        "Current Recordset does not support updating. This may be a "
        "limitation of the provider, or of the selected locktype.",
        kAdoSource);
}

bool IsWriteAheadLog(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  bool wal = false;
  if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &stmt, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    wal = EqualsNoCase(
        reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "wal");
  }
  sqlite3_finalize(stmt);
  return wal;
}

std::string Quoted(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + '"';
}

}  // namespace

// A prepared statement of one shape with what is known about it.
struct Shape {
  sqlite3_stmt* stmt = nullptr;
  std::vector<std::string> columns;
  std::optional<std::string> bare_table;  // "select * from <table>" sources
  bool in_use = false;
  std::string bound_text;  // the text literals bound by the current user
  SqlPattern pattern;      // of the statements it was prepared for

  ~Shape() { sqlite3_finalize(stmt); }
};

// A statement lent by the connection's cache; returned when destroyed.
class Lease {
 public:
  Lease() = default;
  Lease(Shape* shape, std::unique_ptr<Shape> owned)
      : shape_(shape), owned_(std::move(owned)) {
    shape_->in_use = true;
  }
  Lease(Lease&& other) noexcept { *this = std::move(other); }
  Lease& operator=(Lease&& other) noexcept {
    Return();
    shape_ = std::exchange(other.shape_, nullptr);
    owned_ = std::move(other.owned_);
    return *this;
  }
  ~Lease() { Return(); }

  explicit operator bool() const { return shape_ != nullptr; }
  bool owned() const { return owned_ != nullptr; }
  Shape& shape() const { return *shape_; }
  sqlite3_stmt* stmt() const { return shape_->stmt; }

  void Return() {
    if (!shape_) return;
    sqlite3_reset(shape_->stmt);
    shape_->in_use = false;
    shape_ = nullptr;
    owned_.reset();
  }

 private:
  Shape* shape_ = nullptr;
  std::unique_ptr<Shape> owned_;
};

// Lets the cache be searched with a string_view, without making a key.
struct KeyHash {
  using is_transparent = void;
  size_t operator()(std::string_view key) const {
    return std::hash<std::string_view>()(key);
  }
};

struct Connection::Impl {
  std::string provider = "MSDASQL";
  std::string path;
  sqlite3* db = nullptr;
  std::unordered_map<std::string, std::unique_ptr<Shape>, KeyHash,
                     std::equal_to<>>
      cache;
  SqlShape scratch;
  // Cached shapes most recently prepared for, the most used first; their
  // patterns are tried before the statement is scanned in full.
  std::vector<Shape*> recent;
  bool in_transaction = false;
  std::chrono::steady_clock::time_point batch_start;
  std::vector<Recordset::Impl*> open_recordsets;

  ~Impl() { Teardown(); }

  bool IsOpen() const { return db != nullptr; }

  [[noreturn]] void RaiseError(int rc, std::string_view table) const;
  [[noreturn]] void RaisePrepareError(int rc) const;
  Lease Acquire(std::string_view key);
  // The statement for `sql`, its literals lifted into `scratch` and bound.
  Lease Prepare(std::string_view sql);
  Lease LeaseFor(std::string_view sql);
  // Steps once; a failure raises, naming the table `sql` is about.
  int Step(sqlite3_stmt* stmt, std::string_view sql);
  void BeforeStatement();
  void BeginWrite();
  bool Commit(int busy_wait_ms);
  void Teardown();
};

struct Recordset::Impl {
  int32_t cursor_type = adOpenForwardOnly;
  int32_t lock_type = adLockReadOnly;
  int32_t cursor_location = adUseServer;
  std::shared_ptr<Connection> connection;

  Connection::Impl* cn = nullptr;  // set while open
  Lease lease;
  bool positioned = false;  // the first row has been stepped to
  bool eof = true;
  bool pending = false;  // AddNew row not yet stored
  // The pending row: values[i] counts only when assigned[i]; the values
  // are overwritten in place so that their text keeps its storage.
  std::vector<Variant> values;
  std::vector<bool> assigned;
  // The INSERT of the last stored row and the columns it names; the next
  // row that sets the same columns reuses it.
  Lease insert;
  std::vector<bool> insert_columns;
  std::string insert_sql;

  ~Impl() {
    if (cn) Detach();
  }

  bool IsOpen() const { return cn != nullptr; }
  void RequireOpen() const {
    if (!IsOpen()) RaiseClosed();
  }
  const std::vector<std::string>& Columns() const {
    return lease.shape().columns;
  }
  void Advance();
  void EnsurePositioned() {
    if (!positioned) Advance();
  }
  // Forgets the statement and the pending row and leaves the connection's
  // list of open recordsets.
  void Detach();
  void PrepareInsert();
  void Insert();
};

// --- Connection::Impl ---------------------------------------------------

void Connection::Impl::RaiseError(int rc, std::string_view table) const {
  std::string message = sqlite3_errmsg(db);
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
                " is held by another process; retry when it has finished.",
            kJetSource);
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
    case SQLITE_TOOBIG:
      Raise(kErrRowRefused,
            in_table + file + " refused the row: " + message +
                ". Correct the value written to that column.",
            kJetSource);
    case SQLITE_READONLY:
      Raise(kErrUnspecified,
            "Cannot update. Database or object is read-only. " + file +
                " cannot be written (" + message +
                "); check the file's permissions.",
            kJetSource);
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      Raise(kErrUnspecified,
            "Unrecognized database format " + file + ". " + message +
                "; make the report databases with 'velnor init-db'.",
            kJetSource);
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
      Raise(kErrUnspecified,
            "Disk or network error. " + message + " on " + file +
                "; check the disk and the file's folder.",
            kJetSource);
    default:
      Raise(kErrUnspecified, message + " (database " + file + ").", kJetSource);
  }
}

void Connection::Impl::RaisePrepareError(int rc) const {
  if ((rc & 0xff) != SQLITE_ERROR) RaiseError(rc, "");
  std::string_view message = sqlite3_errmsg(db);
  constexpr std::string_view kNoTable = "no such table: ";
  constexpr std::string_view kNoColumn = "no such column: ";
  if (message.starts_with(kNoTable)) {
    std::string name(message.substr(kNoTable.size()));
    if (name.starts_with("main.")) name.erase(0, 5);
    Raise(kErrTableNotFound,
          "The Microsoft Jet database engine cannot find the input table or "
          "query '" +
              name +
              "'. Make sure it exists and that its name is "
              "spelled correctly.",
          kJetSource);
  }
  if (message.starts_with(kNoColumn)) {
    Raise(kErrNoValueGiven,
          "No value given for one or more required parameters. '" +
              std::string(message.substr(kNoColumn.size())) +
              "' is not a column of the query's tables in '" + path + "'.",
          kJetSource);
  }
  Raise(kErrSyntax, "Syntax error in SQL statement: " + std::string(message),
        kJetSource);
}

Lease Connection::Impl::Acquire(std::string_view key) {
  auto found = cache.find(key);
  if (found != cache.end() && !found->second->in_use) {
    return Lease(found->second.get(), nullptr);
  }
  auto shape = std::make_unique<Shape>();
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v3(db, key.data(), static_cast<int>(key.size()),
                              SQLITE_PREPARE_PERSISTENT, &shape->stmt, &tail);
  if (rc != SQLITE_OK) RaisePrepareError(rc);
  if (!shape->stmt) {
    Raise(kErrSyntax,
          "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', "
          "'SELECT', or 'UPDATE'.",
          kJetSource);
  }
  // Nothing is executed when more text follows: a second statement could
  // otherwise slip in through an unquoted value.
  if (!IsEmptyTail(std::string_view(tail, key.data() + key.size() - tail))) {
    Raise(kErrSyntax, "Characters found after end of SQL statement.",
          kJetSource);
  }
  int count = sqlite3_column_count(shape->stmt);
  for (int i = 0; i < count; ++i) {
    const char* name = sqlite3_column_name(shape->stmt, i);
    shape->columns.emplace_back(name ? name : "");
  }
  shape->bare_table = BareTableOf(key);
  Shape* prepared = shape.get();
  if (found != cache.end()) return Lease(prepared, std::move(shape));
  if (cache.size() >= kMaxCachedShapes) {
    recent.clear();
    std::erase_if(cache,
                  [](const auto& entry) { return !entry.second->in_use; });
  }
  cache.emplace(std::string(key), std::move(shape));
  return Lease(prepared, nullptr);
}

Lease Connection::Impl::LeaseFor(std::string_view sql) {
  for (size_t i = 0; i < recent.size(); ++i) {
    Shape* shape = recent[i];
    if (!LiftLiteralsLike(shape->pattern, sql, scratch)) continue;
    if (i > 0) std::swap(recent[i], recent[i - 1]);
    if (!shape->in_use) return Lease(shape, nullptr);
    return Acquire(shape->pattern.text);  // a private statement
  }
  LiftLiterals(sql, scratch);
  Lease lease = Acquire(scratch.pattern.text);
  if (!lease.owned()) {
    Shape* shape = &lease.shape();
    shape->pattern = scratch.pattern;
    std::erase(recent, shape);
    if (recent.size() == kRecentShapes) recent.pop_back();
    recent.insert(recent.begin(), shape);
  }
  return lease;
}

Lease Connection::Impl::Prepare(std::string_view sql) {
  Lease lease = LeaseFor(sql);
  sqlite3_stmt* stmt = lease.stmt();
  if (sqlite3_bind_parameter_count(stmt) !=
      static_cast<int>(scratch.literals.size())) {
    Raise(kErrNoValueGiven,
          "No value given for one or more required parameters. The statement "
          "sent to '" +
              path +
              "' holds a parameter marker (?, :name, @name "
              "or $name); write the value into the SQL text instead.",
          kJetSource);
  }
  // The lease may outlive `sql` (an open recordset steps on later), so the
  // text values move into the shape, sized first so that they stay put.
  std::string& bound = lease.shape().bound_text;
  size_t text_size = 0;
  for (const SqlLiteral& literal : scratch.literals) {
    text_size += literal.text.size();
  }
  bound.clear();
  bound.reserve(text_size);
  int index = 1;
  for (const SqlLiteral& literal : scratch.literals) {
    switch (literal.kind) {
      case SqlLiteral::Kind::kText:
        bound += literal.text;
        sqlite3_bind_text(stmt, index,
                          bound.data() + bound.size() - literal.text.size(),
                          static_cast<int>(literal.text.size()), SQLITE_STATIC);
        break;
      case SqlLiteral::Kind::kInteger:
        sqlite3_bind_int64(stmt, index, literal.integer);
        break;
      case SqlLiteral::Kind::kReal:
        sqlite3_bind_double(stmt, index, literal.real);
        break;
    }
    ++index;
  }
  return lease;
}

int Connection::Impl::Step(sqlite3_stmt* stmt, std::string_view sql) {
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) return rc;
  in_transaction = !sqlite3_get_autocommit(db);
  RaiseError(rc, StatementTable(sql));
}

void Connection::Impl::BeforeStatement() {
  if (in_transaction &&
      std::chrono::steady_clock::now() - batch_start > kBatchAge) {
    // A batch that cannot be committed now (a reader of another process
    // holds the file) stays open and is tried again after the next period,
    // without waiting: the run must not stall here.
    if (!Commit(0)) batch_start = std::chrono::steady_clock::now();
  }
}

void Connection::Impl::BeginWrite() {
  if (in_transaction) return;
  Lease begin = Acquire("BEGIN IMMEDIATE");
  Step(begin.stmt(), "");
  in_transaction = true;
  batch_start = std::chrono::steady_clock::now();
}

bool Connection::Impl::Commit(int busy_wait_ms) {
  sqlite3_busy_timeout(db, busy_wait_ms);
  Lease commit = Acquire("COMMIT");
  int rc = sqlite3_step(commit.stmt());
  sqlite3_busy_timeout(db, kBusyWaitMs);
  in_transaction = !sqlite3_get_autocommit(db);
  return rc == SQLITE_DONE;
}

void Connection::Impl::Teardown() {
  while (!open_recordsets.empty()) open_recordsets.back()->Detach();
  if (db && in_transaction && !Commit(kBusyWaitMs)) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  recent.clear();
  cache.clear();
  sqlite3_close_v2(db);
  db = nullptr;
  in_transaction = false;
}

// --- Connection ---------------------------------------------------------

Connection::Connection() : impl_(std::make_unique<Impl>()) {}
Connection::~Connection() = default;

void Connection::SetProvider(std::string_view provider) {
  impl_->provider = provider;
}
const std::string& Connection::Provider() const { return impl_->provider; }

void Connection::Open(std::string_view connection_string) {
  if (impl_->IsOpen()) {
    Raise(kErrObjectOpen, "Operation is not allowed when the object is open.",
          "ADODB.Connection");
  }
  if (!EqualsNoCase(impl_->provider, kJetProvider)) {
    Raise(kErrProviderNotFound,
          "Provider cannot be found. It may not be properly installed. The "
          "provider is '" +
              impl_->provider + "'; set it to '" + std::string(kJetProvider) +
              "'.",
          "ADODB.Connection");
  }
  // The connection string is a Windows path as the host composed it, the
  // folder and the file joined by a backslash: on this machine a backslash
  // separates folders too.
  std::string path(connection_string);
  std::replace(path.begin(), path.end(), '\\', '/');
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    Raise(kErrUnspecified, "Could not find file '" + path + "'.", kJetSource);
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(
      path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  impl_->db = db;
  impl_->path = path;
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyWaitMs);
  if (rc == SQLITE_OK) rc = InstallNoCase(db);
  // Reading the schema now tells a database from any other file (and a
  // locked one) at Open rather than at the first query. The page cache is
  // sized for report tables of a few hundred thousand rows, so that their
  // look-ups and updates stay in memory; it grows only as pages are used.
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db,
                      "PRAGMA cache_size = -65536; "
                      "SELECT count(*) FROM sqlite_schema",
                      nullptr, nullptr, nullptr);
  }
  // In a write-ahead-log file a commit then costs no disk flush; committed
  // batches still survive a crash of the process, and the log is flushed
  // at every checkpoint. Rollback-journal files keep full syncing, which
  // they need to stay intact. A run rewrites the same count pages batch
  // after batch: checkpointing every 4000 pages (16 MB of 4 KB pages)
  // rather than every 1000 copies each page into the file once where it
  // would be copied several times, with a quarter of the flushes.
  if (rc == SQLITE_OK && IsWriteAheadLog(db)) {
    rc = sqlite3_exec(db,
                      "PRAGMA synchronous = NORMAL; "
                      "PRAGMA wal_autocheckpoint = 4000",
                      nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) {
    std::unique_ptr<Impl> failed =
        std::exchange(impl_, std::make_unique<Impl>());
    impl_->provider = failed->provider;
    failed->RaiseError(rc, "");
  }
}

int32_t Connection::State() const {
  return impl_->IsOpen() ? adStateOpen : adStateClosed;
}

void Connection::Close() {
  if (!impl_->IsOpen()) RaiseClosed();
  while (!impl_->open_recordsets.empty()) {
    impl_->open_recordsets.back()->Detach();
  }
  if (impl_->in_transaction && !impl_->Commit(kBusyWaitMs)) {
    std::string path = impl_->path;
    impl_->Teardown();
    Raise(kErrUnspecified,
          "Could not update; currently locked by another session on this "
          "machine. The last changes to '" +
              path + "' were lost because another process held the file.",
          kJetSource);
  }
  impl_->Teardown();
}

void Connection::Execute(std::string_view sql) {
  if (!impl_->IsOpen()) RaiseClosed();
  impl_->BeforeStatement();
  Lease lease = impl_->Prepare(sql);
  if (!sqlite3_stmt_readonly(lease.stmt())) impl_->BeginWrite();
  while (impl_->Step(lease.stmt(), sql) == SQLITE_ROW) {
  }
}

// --- Recordset::Impl ----------------------------------------------------

void Recordset::Impl::Advance() {
  positioned = true;
  eof = cn->Step(lease.stmt(), "") != SQLITE_ROW;
}

void Recordset::Impl::Detach() {
  lease.Return();
  insert.Return();
  pending = false;
  std::erase(cn->open_recordsets, this);
  cn = nullptr;
}

void Recordset::Impl::PrepareInsert() {
  const std::string& table = *lease.shape().bare_table;
  std::string names;
  std::string markers;
  for (size_t i = 0; i < values.size(); ++i) {
    if (!assigned[i]) continue;
    if (!names.empty()) {
      names += ',';
      markers += ',';
    }
    names += Quoted(Columns()[i]);
    markers += '?';
  }
  insert_sql = "INSERT INTO " + Quoted(table) +
               (names.empty() ? " DEFAULT VALUES"
                              : " (" + names + ") VALUES (" + markers + ")");
  insert.Return();
  insert_columns.clear();
  insert = cn->Acquire(insert_sql);
  insert_columns = assigned;
}

void Recordset::Impl::Insert() {
  cn->BeforeStatement();
  cn->BeginWrite();
  if (!insert || insert_columns != assigned) PrepareInsert();
  sqlite3_stmt* stmt = insert.stmt();
  // Reset before binding (a failed step leaves the statement unfinished)
  // and after the step, so that it holds no lock while the row is idle.
  sqlite3_reset(stmt);
  struct ResetAfter {
    sqlite3_stmt* stmt;
    ~ResetAfter() { sqlite3_reset(stmt); }
  } reset_after{stmt};
  std::string converted;  // text of a value that is not a string already
  int index = 1;
  for (size_t i = 0; i < values.size(); ++i) {
    if (!assigned[i]) continue;
    const Variant& value = values[i];
    switch (value.Type()) {
      case VarType::kEmpty:
      case VarType::kNull:
        sqlite3_bind_null(stmt, index);
        break;
      case VarType::kBoolean:
      case VarType::kInteger:
      case VarType::kLong:
      case VarType::kLongLong:
        sqlite3_bind_int64(stmt, index, automation::CLngLng(value));
        break;
      case VarType::kSingle:
      case VarType::kDouble:
        sqlite3_bind_double(stmt, index, automation::CDbl(value));
        break;
      case VarType::kDate:
        sqlite3_bind_double(stmt, index, automation::CDate(value));
        break;
      case VarType::kString: {
        // The pending row keeps its values until the next AddNew.
        const std::string& text = *value.AsString();
        sqlite3_bind_text(stmt, index, text.data(),
                          static_cast<int>(text.size()), SQLITE_STATIC);
        break;
      }
      default:
        converted = automation::CStr(value);
        sqlite3_bind_text(stmt, index, converted.data(),
                          static_cast<int>(converted.size()), SQLITE_TRANSIENT);
    }
    ++index;
  }
  cn->Step(stmt, insert_sql);
}

// --- Recordset ----------------------------------------------------------

Recordset::Recordset() : impl_(std::make_unique<Impl>()) {}
Recordset::~Recordset() = default;

void Recordset::SetCursorType(int32_t cursor_type) {
  if (impl_->IsOpen()) Raise(kErrObjectOpen, "", kAdoSource);
  impl_->cursor_type = cursor_type;
}
int32_t Recordset::CursorType() const { return impl_->cursor_type; }

void Recordset::SetLockType(int32_t lock_type) {
  if (impl_->IsOpen()) Raise(kErrObjectOpen, "", kAdoSource);
  impl_->lock_type = lock_type;
}
int32_t Recordset::LockType() const { return impl_->lock_type; }

void Recordset::SetCursorLocation(int32_t cursor_location) {
  if (impl_->IsOpen()) Raise(kErrObjectOpen, "", kAdoSource);
  impl_->cursor_location = cursor_location;
}
int32_t Recordset::CursorLocation() const { return impl_->cursor_location; }

void Recordset::SetActiveConnection(std::shared_ptr<Connection> connection) {
  if (impl_->IsOpen()) Raise(kErrObjectOpen, "", kAdoSource);
  impl_->connection = std::move(connection);
}

void Recordset::Open(std::string_view source) {
  if (impl_->IsOpen()) {
    Raise(kErrObjectOpen, "Operation is not allowed when the object is open.",
          kAdoSource);
  }
  if (!impl_->connection || !impl_->connection->impl().IsOpen()) {
    Raise(kErrConnectionInvalid,
          "The connection cannot be used to perform this operation. It is "
          "either closed or invalid in this context.",
          kAdoSource);
  }
  Connection::Impl& cn = impl_->connection->impl();
  cn.BeforeStatement();
  Lease lease = cn.Prepare(source);
  if (!sqlite3_stmt_readonly(lease.stmt())) cn.BeginWrite();
  // A whole-table source is mostly opened to append rows: its first row is
  // read only when asked for, so that it holds no read lock meanwhile.
  bool positioned = !lease.shape().bare_table;
  bool eof = positioned && cn.Step(lease.stmt(), "") != SQLITE_ROW;
  impl_->lease = std::move(lease);
  impl_->cn = &cn;
  impl_->positioned = positioned;
  impl_->eof = eof;
  cn.open_recordsets.push_back(impl_.get());
}

int32_t Recordset::State() const {
  return impl_->IsOpen() ? adStateOpen : adStateClosed;
}

void Recordset::Close() {
  impl_->RequireOpen();
  impl_->Detach();
}

bool Recordset::Eof() const {
  impl_->RequireOpen();
  impl_->EnsurePositioned();
  return impl_->eof;
}

void Recordset::MoveNext() {
  impl_->RequireOpen();
  impl_->EnsurePositioned();
  if (impl_->eof) {
    Raise(kErrNoCurrentRecord,
          "Either BOF or EOF is True, or the current record has been "
          "deleted. Requested operation requires a current record.",
          kAdoSource);
  }
  impl_->Advance();
}

Field Recordset::Fields(std::string_view name) {
  impl_->RequireOpen();
  const std::vector<std::string>& columns = impl_->Columns();
  for (size_t i = 0; i < columns.size(); ++i) {
    if (EqualsNoCase(columns[i], name)) return Field(this, static_cast<int>(i));
  }
  Raise(kErrItemNotFound,
        "Item cannot be found in the collection corresponding to the "
        "requested name or ordinal. The recordset has no column '" +
            std::string(name) + "'.",
        kAdoSource);
}

void Recordset::AddNew() {
  impl_->RequireOpen();
  if (!impl_->lease.shape().bare_table || impl_->lock_type == adLockReadOnly) {
    RaiseNotUpdatable();
  }
  if (impl_->pending) Update();  // as ADO does: AddNew stores the last row
  size_t count = impl_->Columns().size();
  impl_->values.resize(count);
  impl_->assigned.assign(count, false);
  impl_->pending = true;
}

void Recordset::Update() {
  impl_->RequireOpen();
  if (!impl_->pending) return;
  impl_->Insert();
  impl_->pending = false;
}

void Recordset::CancelUpdate() {
  impl_->RequireOpen();
  impl_->pending = false;
}

// --- Field --------------------------------------------------------------

Variant Field::Value() const {
  Recordset::Impl& rs = *rs_->impl_;
  rs.RequireOpen();
  if (rs.pending) {
    return rs.assigned[column_] ? rs.values[column_]
                                : Variant(automation::Null{});
  }
  rs.EnsurePositioned();
  if (rs.eof) {
    Raise(kErrNoCurrentRecord,
          "Either BOF or EOF is True, or the current record has been "
          "deleted. Requested operation requires a current record.",
          kAdoSource);
  }
  sqlite3_stmt* stmt = rs.lease.stmt();
  switch (sqlite3_column_type(stmt, column_)) {
    case SQLITE_INTEGER: {
      int64_t value = sqlite3_column_int64(stmt, column_);
      if (value >= INT32_MIN && value <= INT32_MAX) {
        return Variant(static_cast<int32_t>(value));
      }
      return Variant(value);
    }
    case SQLITE_FLOAT:
      return Variant(sqlite3_column_double(stmt, column_));
    case SQLITE_NULL:
      return Variant(automation::Null{});
    default: {
      const auto* text =
          reinterpret_cast<const char*>(sqlite3_column_text(stmt, column_));
      int size = sqlite3_column_bytes(stmt, column_);
      return Variant(std::string(text ? text : "", static_cast<size_t>(size)));
    }
  }
}

void Field::SetValue(const Variant& value) {
  Recordset::Impl& rs = *rs_->impl_;
  rs.RequireOpen();
  if (!rs.pending) RaiseNotUpdatable();
  if (value.Type() == VarType::kObject ||
      value.Type() == VarType::kStringArray) {
    Raise(automation::kErrTypeMismatch, "", kAdoSource);
  }
  rs.values[column_] = value;
  rs.assigned[column_] = true;
}

void Field::SetText(std::string_view text) {
  Recordset::Impl& rs = *rs_->impl_;
  rs.RequireOpen();
  if (!rs.pending) RaiseNotUpdatable();
  Variant& value = rs.values[column_];
  if (std::string* held = value.AsString()) {
    held->assign(text);
  } else {
    value = Variant(text);
  }
  rs.assigned[column_] = true;
}

void RegisterClasses() {
  automation::RegisterClass("ADODB.Connection",
                            [] { return std::make_shared<Connection>(); });
  automation::RegisterClass("ADODB.Recordset",
                            [] { return std::make_shared<Recordset>(); });
}

}  // namespace velnor::ado
