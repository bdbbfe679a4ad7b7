// Connection, Recordset and Command over the session's engine.
//
// Invariants:
// - An open connection holds its session and the schema of its database;
//   every statement it prepares names that schema's tables.
// - An open recordset holds its query's statement; the connection closes
//   its open recordsets (releasing their statements) before it closes.
// - A recordset's pending new row keeps its values in place, so that text
//   written again reuses its storage.
#include "platform/ado/ado.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <utility>

#include "platform/ado/jet_sql.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"

namespace velnor::ado {

using automation::EqualsIgnoringAsciiCase;
using automation::Raise;
using automation::Variant;
using automation::VarType;

namespace {

[[noreturn]] void RaiseClosed() {
  Raise(kErrObjectClosed,
        "Operation is not allowed when the object is closed.");
}

[[noreturn]] void RaiseNotUpdatable() {
  Raise(kErrNotUpdatable,
        "Current Recordset does not support updating. This may be a "
        "limitation of the provider, or of the selected locktype.");
}

[[noreturn]] void RaiseNoCurrentRecord() {
  Raise(kErrNoCurrentRecord,
        "Either BOF or EOF is True, or the current record has been "
        "deleted. Requested operation requires a current record.");
}

// The value of `column` of the statement's current row.
Variant ColumnValue(const Statement& statement, int column) {
  switch (statement.Type(column)) {
    case ColumnType::kInteger: {
      int64_t value = statement.Integer(column);
      if (value >= INT32_MIN && value <= INT32_MAX) {
        return Variant(static_cast<int32_t>(value));
      }
      return Variant(value);
    }
    case ColumnType::kReal:
      return Variant(statement.Real(column));
    case ColumnType::kNull:
      return Variant(automation::Null{});
    case ColumnType::kText:
      break;
  }
  return Variant(statement.Text(column));
}

void Bind(Statement& statement, int index, const Variant& value) {
  switch (value.Type()) {
    case VarType::kEmpty:
    case VarType::kNull:
      statement.BindNull(index);
      break;
    case VarType::kBoolean:
    case VarType::kInteger:
    case VarType::kLong:
    case VarType::kLongLong:
      statement.BindInteger(index, automation::CLngLng(value));
      break;
    case VarType::kSingle:
    case VarType::kDouble:
      statement.BindReal(index, automation::CDbl(value));
      break;
    case VarType::kDate:
      statement.BindReal(index, automation::CDate(value));
      break;
    case VarType::kString:
      statement.BindText(index, *value.AsString());
      break;
    default:
      statement.BindText(index, automation::CStr(value));
  }
}

// Sets `slot` to `text`, reusing the storage of the text it held.
void AssignText(Variant& slot, std::string_view text) {
  if (std::string* held = slot.AsString()) {
    held->assign(text);
  } else {
    slot = Variant(text);
  }
}

}  // namespace

struct Connection::Impl {
  std::string provider = "MSDASQL";
  std::shared_ptr<Session> session;  // set while open
  bool own_session = false;          // committed by Close
  std::string schema;
  std::string path;
  uint64_t serial = 0;  // tells one opening from the next
  std::vector<Recordset::Impl*> open_recordsets;

  bool IsOpen() const { return session != nullptr; }
  void CloseRecordsets();
};

struct Recordset::Impl {
  int32_t cursor_type = adOpenForwardOnly;
  int32_t lock_type = adLockReadOnly;
  int32_t cursor_location = adUseServer;
  std::shared_ptr<Connection> connection;

  Connection::Impl* cn = nullptr;  // set while open
  std::unique_ptr<Statement> query;
  std::vector<std::string> columns;
  std::optional<std::string> table;  // of a "select * from <table>" source
  bool positioned = false;           // the first row has been stepped to
  bool eof = true;
  bool pending = false;  // AddNew row not yet stored
  // The pending row: values[i] counts only when assigned[i].
  std::vector<Variant> values;
  std::vector<bool> assigned;
  // The INSERT of the last stored row and the columns it names; the next
  // row that sets the same columns reuses it.
  std::unique_ptr<Statement> insert;
  std::vector<bool> insert_columns;

  ~Impl() {
    if (cn) Detach();
  }

  bool IsOpen() const { return cn != nullptr; }
  void RequireOpen() const {
    if (!IsOpen()) RaiseClosed();
  }
  void Advance() {
    positioned = true;
    eof = !query->Step();
  }
  void EnsurePositioned() {
    if (!positioned) Advance();
  }
  // Forgets the statements and the pending row and leaves the connection's
  // list of open recordsets.
  void Detach() {
    query.reset();
    insert.reset();
    pending = false;
    std::erase(cn->open_recordsets, this);
    cn = nullptr;
  }
  void Insert();
};

void Connection::Impl::CloseRecordsets() {
  while (!open_recordsets.empty()) open_recordsets.back()->Detach();
}

// --- Connection ---------------------------------------------------------

Connection::Connection() : impl_(std::make_unique<Impl>()) {}

// A connection dropped without Close keeps nothing of its own session:
// only Close commits.
Connection::~Connection() { impl_->CloseRecordsets(); }

void Connection::SetProvider(std::string_view provider) {
  impl_->provider = provider;
}

void Connection::Open(std::string_view connection_string) {
  if (impl_->IsOpen()) {
    Raise(kErrObjectOpen, "Operation is not allowed when the object is open.");
  }
  if (!EqualsIgnoringAsciiCase(impl_->provider, kJetProvider)) {
    Raise(kErrProviderNotFound,
          "Provider cannot be found. It may not be properly installed. The "
          "provider is '" +
              impl_->provider + "'; set it to '" + std::string(kJetProvider) +
              "'.");
  }
  std::shared_ptr<Session> session = Session::Current();
  bool own = session == nullptr;
  if (own) session = Session::Private(kDefaultLockWaitMs);
  impl_->schema = session->Attach(connection_string);
  impl_->path = session->PathOf(impl_->schema);
  impl_->session = std::move(session);
  impl_->own_session = own;
  // Counted for the process, so that no two openings share a serial.
  static std::atomic<uint64_t> openings{0};
  impl_->serial = ++openings;
}

int32_t Connection::State() const {
  return impl_->IsOpen() ? adStateOpen : adStateClosed;
}

void Connection::Close() {
  if (!impl_->IsOpen()) RaiseClosed();
  impl_->CloseRecordsets();
  std::shared_ptr<Session> session = std::exchange(impl_->session, nullptr);
  if (impl_->own_session) session->Commit();
}

void Connection::Execute(std::string_view sql) {
  std::unique_ptr<Statement> statement = Prepare(sql);
  while (statement->Step()) {
  }
}

std::unique_ptr<Statement> Connection::Prepare(std::string_view sql) {
  if (!impl_->IsOpen()) RaiseClosed();
  return impl_->session->Prepare(sql, impl_->schema);
}

bool Connection::CopyRows(std::string_view table,
                          const std::vector<std::string>& columns,
                          const Engine::RowBatches& next) {
  if (!impl_->IsOpen()) RaiseClosed();
  return impl_->session->CopyRows(impl_->schema, table, columns, next);
}

bool Connection::BulkLoads() const {
  if (!impl_->IsOpen()) RaiseClosed();
  return impl_->session->BulkLoads();
}

void Connection::BuildIndexes(const std::string& table) {
  if (!impl_->IsOpen()) RaiseClosed();
  impl_->session->BuildIndexes(impl_->schema, table);
}

void Connection::AppendLeavingIndexesOut(const std::string& table,
                                         const std::string& index,
                                         const std::function<void()>& append) {
  if (!impl_->IsOpen()) RaiseClosed();
  impl_->session->AppendLeavingIndexesOut(impl_->schema, table, index, append);
}

void Connection::EnsureIndex(const std::string& table,
                             const IndexDefinition& index) {
  if (!impl_->IsOpen()) RaiseClosed();
  impl_->session->EnsureIndex(impl_->schema, table, index);
}

TextEquality Connection::ColumnEquality(const std::string& table,
                                        const std::string& column) {
  if (!impl_->IsOpen()) RaiseClosed();
  return impl_->session->EqualityOf(impl_->schema, table, column);
}

const std::string& Connection::path() const { return impl_->path; }

bool Connection::TransactionFailed() const {
  return impl_->IsOpen() && impl_->session->Failed();
}

void Connection::FailTransaction(const automation::AutomationError& error) {
  if (!impl_->IsOpen()) RaiseClosed();
  impl_->session->Fail(error);
}

// --- Recordset ----------------------------------------------------------

void Recordset::Impl::Insert() {
  if (!insert || insert_columns != assigned) {
    std::string names;
    std::string markers;
    for (size_t i = 0; i < values.size(); ++i) {
      if (!assigned[i]) continue;
      if (!names.empty()) {
        names += ',';
        markers += ',';
      }
      names += QuotedIdentifier(columns[i]);
      markers += '?';
    }
    std::string sql =
        "INSERT INTO " + QuotedIdentifier(*table) +
        (names.empty() ? " DEFAULT VALUES"
                       : " (" + names + ") VALUES (" + markers + ")");
    insert.reset();
    insert = connection->Prepare(sql);
    insert_columns = assigned;
  }
  int index = 1;
  for (size_t i = 0; i < values.size(); ++i) {
    if (assigned[i]) Bind(*insert, index++, values[i]);
  }
  // Reset also after a failure, so that an idle statement holds nothing.
  struct ResetAfter {
    Statement& statement;
    ~ResetAfter() { statement.Reset(); }
  } reset_after{*insert};
  insert->Step();
}

Recordset::Recordset() : impl_(std::make_unique<Impl>()) {}
Recordset::~Recordset() = default;

void Recordset::SetCursorType(int32_t cursor_type) {
  if (impl_->IsOpen()) Raise(kErrObjectOpen);
  impl_->cursor_type = cursor_type;
}

void Recordset::SetLockType(int32_t lock_type) {
  if (impl_->IsOpen()) Raise(kErrObjectOpen);
  impl_->lock_type = lock_type;
}

void Recordset::SetCursorLocation(int32_t cursor_location) {
  if (impl_->IsOpen()) Raise(kErrObjectOpen);
  impl_->cursor_location = cursor_location;
}

void Recordset::SetActiveConnection(std::shared_ptr<Connection> connection) {
  if (impl_->IsOpen()) Raise(kErrObjectOpen);
  impl_->connection = std::move(connection);
}

void Recordset::Open(std::string_view source) {
  if (impl_->IsOpen()) {
    Raise(kErrObjectOpen, "Operation is not allowed when the object is open.");
  }
  if (!impl_->connection || !impl_->connection->impl_->IsOpen()) {
    Raise(kErrConnectionInvalid,
          "The connection cannot be used to perform this operation. It is "
          "either closed or invalid in this context.");
  }
  std::unique_ptr<Statement> query = impl_->connection->Prepare(source);
  std::optional<std::string> table = BareTable(source);
  // A whole-table source is mostly opened to append rows: its first row is
  // read only when asked for.
  bool positioned = !table;
  bool eof = positioned && !query->Step();
  impl_->columns.clear();
  for (int i = 0; i < query->ColumnCount(); ++i) {
    impl_->columns.push_back(query->ColumnName(i));
  }
  impl_->query = std::move(query);
  impl_->table = std::move(table);
  impl_->insert.reset();
  impl_->cn = impl_->connection->impl_.get();
  impl_->positioned = positioned;
  impl_->eof = eof;
  impl_->cn->open_recordsets.push_back(impl_.get());
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
  if (impl_->eof) RaiseNoCurrentRecord();
  impl_->Advance();
}

Field Recordset::Fields(std::string_view name) {
  impl_->RequireOpen();
  const std::vector<std::string>& columns = impl_->columns;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (EqualsIgnoringAsciiCase(columns[i], name))
      return Field(this, static_cast<int>(i));
  }
  Raise(kErrItemNotFound,
        "Item cannot be found in the collection corresponding to the "
        "requested name or ordinal. The recordset has no column '" +
            std::string(name) + "'.");
}

void Recordset::AddNew() {
  impl_->RequireOpen();
  if (!impl_->table || impl_->lock_type == adLockReadOnly) {
    RaiseNotUpdatable();
  }
  if (impl_->pending) Update();  // as ADO does: AddNew stores the last row
  size_t count = impl_->columns.size();
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
  if (rs.eof) RaiseNoCurrentRecord();
  return ColumnValue(*rs.query, column_);
}

void Field::SetValue(const Variant& value) {
  Recordset::Impl& rs = *rs_->impl_;
  rs.RequireOpen();
  if (!rs.pending) RaiseNotUpdatable();
  if (value.Type() == VarType::kObject ||
      value.Type() == VarType::kStringArray) {
    Raise(automation::kErrTypeMismatch);
  }
  rs.values[column_] = value;
  rs.assigned[column_] = true;
}

void Field::SetText(std::string_view text) {
  Recordset::Impl& rs = *rs_->impl_;
  rs.RequireOpen();
  if (!rs.pending) RaiseNotUpdatable();
  AssignText(rs.values[column_], text);
  rs.assigned[column_] = true;
}

// --- Command ------------------------------------------------------------

Command::Command(std::shared_ptr<Connection> connection, std::string_view sql)
    : connection_(std::move(connection)), sql_(sql) {
  if (!connection_) Raise(automation::kErrObjectNotSet);
  statement_ = connection_->Prepare(sql);
  serial_ = connection_->impl_->serial;
  parameters_.resize(static_cast<size_t>(statement_->ParameterCount()));
  borrowed_.resize(parameters_.size());
}

Command::~Command() = default;

void Command::SetParameter(int index, const Variant& value) {
  Variant& slot = parameters_.at(static_cast<size_t>(index - 1));
  slot = value;
  borrowed_[static_cast<size_t>(index - 1)].reset();
  Bind(*statement_, index, slot);
}

void Command::SetBorrowedText(int index, std::string_view text) {
  parameters_.at(static_cast<size_t>(index - 1)) = Variant();
  borrowed_[static_cast<size_t>(index - 1)] = text;
  statement_->BindBorrowedText(index, text);
}

void Command::Execute() {
  if (!Usable()) RaiseClosed();
  statement_->Reset();
  eof_ = !statement_->Step();
  if (eof_) statement_->Reset();
}

bool Command::Eof() const { return eof_; }

void Command::MoveNext() {
  if (eof_) RaiseNoCurrentRecord();
  eof_ = !statement_->Step();
  if (eof_) statement_->Reset();
}

Variant Command::Value(int column) const {
  if (eof_) RaiseNoCurrentRecord();
  return ColumnValue(*statement_, column);
}

std::string_view Command::BorrowedText(int column) const {
  if (eof_) RaiseNoCurrentRecord();
  return statement_->Text(column);
}

Variant Command::Value(std::string_view name) const {
  for (int i = 0; i < statement_->ColumnCount(); ++i) {
    if (EqualsIgnoringAsciiCase(statement_->ColumnName(i), name))
      return Value(i);
  }
  Raise(kErrItemNotFound,
        "Item cannot be found in the collection corresponding to the "
        "requested name or ordinal. The query has no column '" +
            std::string(name) + "'.");
}

void Command::Close() {
  eof_ = true;
  statement_->Reset();
}

std::string Command::Text() const {
  std::vector<Variant> values = parameters_;
  for (size_t i = 0; i < values.size(); ++i) {
    if (borrowed_[i]) values[i] = Variant(*borrowed_[i]);
  }
  return WithLiterals(sql_, values);
}

bool Command::Usable() const {
  return connection_->State() == adStateOpen &&
         connection_->impl_->serial == serial_;
}

std::string WithLiterals(std::string_view sql,
                         const std::vector<Variant>& values) {
  return FillParameters(sql, [&values](int index) -> std::string {
    if (index < 1 || static_cast<size_t>(index) > values.size()) return "?";
    const Variant& value = values[static_cast<size_t>(index - 1)];
    switch (value.Type()) {
      case VarType::kEmpty:
      case VarType::kNull:
        return "Null";
      case VarType::kBoolean:
      case VarType::kInteger:
      case VarType::kLong:
      case VarType::kLongLong:
      case VarType::kSingle:
      case VarType::kDouble:
        return automation::CStr(value);
      default: {
        std::string literal = "'";
        for (char c : automation::CStr(value)) {
          literal += c;
          if (c == '\'') literal += '\'';
        }
        return literal + "'";
      }
    }
  });
}

void RegisterClasses() {
  automation::RegisterClass("ADODB.Connection",
                            [] { return std::make_shared<Connection>(); });
  automation::RegisterClass("ADODB.Recordset",
                            [] { return std::make_shared<Recordset>(); });
}

}  // namespace velnor::ado
