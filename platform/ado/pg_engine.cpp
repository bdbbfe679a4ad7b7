// The PostgreSQL engine: one libpq connection, one transaction over the
// schemas that stand for the attached databases.
//
// Invariants:
// - Inside a transaction exactly one savepoint of the engine's own,
//   kStatementSavepoint, is the innermost. A statement that fails rolls
//   back to it (PostgreSQL would otherwise refuse every later statement of
//   the transaction); one that wrote renews it, so that the next failure
//   undoes only its own statement. A caller's SAVEPOINT, RELEASE and
//   ROLLBACK TO keep it innermost too.
// - Statements and the engine share one Link: a statement that outlives
//   the engine (its connection closed first) finds the link closed and
//   does nothing.
// - Once the connection is lost, or a rollback to the savepoint fails, the
//   transaction is spoiled (Failed): statements find no row and Commit
//   raises that failure. PostgreSQL itself drops what an unfinished
//   transaction wrote, so nothing of it is ever half-stored.
// - Link::attached is what the server's search_path holds: it is set
//   between transactions only (a rollback would undo it), changed only
//   after the server took it, and set again on every new connection.
#include <libpq-fe.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/ado/engine.h"
#include "platform/ado/jet_sql.h"
#include "platform/ado/pg_connection.h"
#include "platform/ado/pg_errors.h"
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"

namespace velnor::ado {
namespace {

using automation::AutomationError;
using automation::Raise;
using pg::PgConnection;
using pg::PgError;

constexpr const char* kStatementSavepoint = "velnor_statement";

// Type oids of pg_type that read as numbers.
constexpr Oid kInt8 = 20, kInt2 = 21, kInt4 = 23, kOid = 26, kFloat4 = 700,
              kFloat8 = 701, kNumeric = 1700, kBool = 16;

struct ResultFree {
  void operator()(PGresult* result) const { PQclear(result); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultFree>;

std::string FirstWord(std::string_view sql) {
  size_t start = sql.find_first_not_of(" \t\r\n(");
  if (start == std::string_view::npos) return "";
  size_t end = start;
  while (end < sql.size() &&
         std::isalpha(static_cast<unsigned char>(sql[end]))) {
    ++end;
  }
  return automation::AsciiLowered(sql.substr(start, end - start));
}

// What the engine and its statements share.
struct Link {
  std::string url;
  std::unique_ptr<PgConnection> connection;  // null once closed
  bool began = false;
  std::optional<AutomationError> failure;
  std::vector<std::string> unused_statements;  // to deallocate
  int statements_made = 0;
  std::vector<std::string> attached;  // schemas, quoted, in attach order

  PGconn* conn() const { return connection ? connection->handle() : nullptr; }
  bool InTransaction() const {
    return conn() && PQtransactionStatus(conn()) != PQTRANS_IDLE;
  }

  // Runs `sql` (several statements allowed); a failure raises PgError.
  void Exec(const std::string& sql) { connection->Exec(sql); }

  // The role signed in, `reading` or writing, for a refused right.
  Asker AskerOf(bool reading) const {
    const char* role = conn() ? PQuser(conn()) : nullptr;
    return {role ? role : "", reading};
  }

  // Raises `error`, kept as the transaction's failure when it spoils it.
  [[noreturn]] void Note(const PgError& error, const std::string& where,
                         const std::string& schema, std::string_view table,
                         bool reading) {
    try {
      RaiseError(error, where, schema, table, AskerOf(reading));
    } catch (const AutomationError& raised) {
      if (began && Spoils(error)) failure = raised;
      throw;
    }
  }

  // After a failed statement: back to the state before it.
  void RollBackStatement() {
    if (!began || !conn()) return;
    try {
      Exec(std::string("ROLLBACK TO SAVEPOINT ") + kStatementSavepoint);
    } catch (const PgError& error) {
      try {
        RaiseError(error, url, "");
      } catch (const AutomationError& raised) {
        failure = raised;
      }
    }
  }

  // After a statement that wrote: its changes are kept by the next failure.
  void RenewSavepoint(const std::string& where) {
    if (!began) return;
    try {
      Exec(std::string("RELEASE SAVEPOINT ") + kStatementSavepoint +
           "; SAVEPOINT " + kStatementSavepoint);
    } catch (const PgError& error) {
      Note(error, where, "", "", false);
      throw;
    }
  }

  void DeallocateUnused() {
    if (unused_statements.empty() || !conn()) return;
    std::string sql;
    for (const std::string& name : unused_statements) {
      sql += "DEALLOCATE " + name + ";";
    }
    unused_statements.clear();
    try {
      Exec(sql);
    } catch (const PgError&) {
      RollBackStatement();  // a statement the server has forgotten already
    }
  }
};

enum class StatementKind { kRead, kWrite, kSavepoint, kRelease, kRollbackTo };

class PgStatement : public Statement {
 public:
  PgStatement(std::shared_ptr<Link> link, std::string name, std::string text,
              StatementKind kind, std::string where, std::string schema,
              std::string table)
      : link_(std::move(link)),
        name_(std::move(name)),
        text_(std::move(text)),
        kind_(kind),
        where_(std::move(where)),
        schema_(std::move(schema)),
        table_(std::move(table)) {}

  ~PgStatement() override {
    if (!name_.empty() && link_->connection) {
      link_->unused_statements.push_back(name_);
    }
  }

  // Reads the statement's parameters and columns from the server.
  void Describe(PGresult* description) {
    params_.resize(static_cast<size_t>(PQnparams(description)));
    for (int i = 0; i < PQnfields(description); ++i) {
      columns_.emplace_back(PQfname(description, i));
      types_.push_back(TypeOf(PQftype(description, i)));
    }
  }

  int ParameterCount() const override {
    return static_cast<int>(params_.size());
  }
  void BindNull(int index) override { Bind(index, std::nullopt); }
  void BindInteger(int index, int64_t value) override {
    Bind(index, std::to_string(value));
  }
  void BindReal(int index, double value) override {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    Bind(index, std::string(text));
  }
  void BindText(int index, std::string_view value) override {
    RefuseNul(value, where_);
    Bind(index, std::string(value));
  }

  bool Step() override {
    if (link_->failure || !link_->connection) return false;
    if (!ran_) {
      ran_ = true;
      row_ = 0;
      Run();
    } else {
      ++row_;
    }
    return result_ && row_ < PQntuples(result_.get());
  }
  void Reset() override {
    result_.reset();
    ran_ = false;
    row_ = 0;
  }

  int ColumnCount() const override { return static_cast<int>(columns_.size()); }
  std::string ColumnName(int column) const override {
    return columns_.at(static_cast<size_t>(column));
  }
  ColumnType Type(int column) const override {
    if (PQgetisnull(result_.get(), row_, column)) return ColumnType::kNull;
    return types_.at(static_cast<size_t>(column));
  }
  int64_t Integer(int column) const override {
    if (types_.at(static_cast<size_t>(column)) == ColumnType::kReal) {
      return static_cast<int64_t>(Real(column));
    }
    return std::strtoll(PQgetvalue(result_.get(), row_, column), nullptr, 10);
  }
  double Real(int column) const override {
    return std::strtod(PQgetvalue(result_.get(), row_, column), nullptr);
  }
  std::string_view Text(int column) const override {
    if (PQgetisnull(result_.get(), row_, column)) return {};
    return {PQgetvalue(result_.get(), row_, column),
            static_cast<size_t>(PQgetlength(result_.get(), row_, column))};
  }

 private:
  static ColumnType TypeOf(Oid type) {
    switch (type) {
      case kInt2:
      case kInt4:
      case kInt8:
      case kOid:
      case kBool:
        return ColumnType::kInteger;
      case kFloat4:
      case kFloat8:
      case kNumeric:
        return ColumnType::kReal;
      default:
        return ColumnType::kText;
    }
  }

  void Bind(int index, std::optional<std::string> value) {
    if (index < 1 || static_cast<size_t>(index) > params_.size()) return;
    if (ran_) Reset();
    params_[static_cast<size_t>(index - 1)] = std::move(value);
  }

  void Run() {
    if (kind_ != StatementKind::kRead && kind_ != StatementKind::kWrite) {
      RunSavepointCommand();
      return;
    }
    std::vector<const char*> values;
    for (const auto& param : params_) {
      values.push_back(param ? param->c_str() : nullptr);
    }
    PGconn* conn = link_->conn();
    ResultPtr result(PQexecPrepared(conn, name_.c_str(),
                                    static_cast<int>(values.size()),
                                    values.data(), nullptr, nullptr, 0));
    ExecStatusType status =
        result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
      Fail(result.get());
    }
    result_ = std::move(result);
    if (kind_ == StatementKind::kWrite) link_->RenewSavepoint(where_);
  }

  [[noreturn]] void Fail(const PGresult* result) {
    PgError error = ErrorOf(link_->conn(), result);
    if (!error.ConnectionLost()) link_->RollBackStatement();
    link_->Note(error, where_, schema_, table_, kind_ == StatementKind::kRead);
  }

  // The caller's own savepoints, with the engine's savepoint kept the
  // innermost (see the invariants above).
  void RunSavepointCommand() {
    std::string restore = std::string("; SAVEPOINT ") + kStatementSavepoint;
    std::string sql = kind_ == StatementKind::kSavepoint
                          ? std::string("RELEASE SAVEPOINT ") +
                                kStatementSavepoint + "; " + text_ + restore
                          : text_ + restore;
    try {
      link_->Exec(sql);
    } catch (const PgError& error) {
      // The engine's savepoint may be gone with the failed command: nothing
      // of the transaction can be trusted after it.
      try {
        RaiseError(error, where_, schema_);
      } catch (const AutomationError& raised) {
        link_->failure = raised;
        throw;
      }
    }
  }

  std::shared_ptr<Link> link_;
  std::string name_;  // of the prepared statement; empty for savepoints
  std::string text_;
  StatementKind kind_;
  std::string where_;
  std::string schema_;
  std::string table_;  // for refused rows
  std::vector<std::optional<std::string>> params_;
  std::vector<std::string> columns_;
  std::vector<ColumnType> types_;
  ResultPtr result_;
  bool ran_ = false;
  int row_ = 0;
};

// Whether `sql` may change the columns of a schema's tables: a statement
// of definitions, but for one that makes a temporary table.
bool ChangesSchemas(std::string_view sql) {
  const std::string word = FirstWord(sql);
  if (word == "alter" || word == "drop") return true;
  if (word != "create") return false;
  const std::string next =
      FirstWord(sql.substr(sql.find_first_not_of(" \t\r\n(") + word.size()));
  return next != "temp" && next != "temporary";
}

StatementKind KindOf(std::string_view sql) {
  std::string word = FirstWord(sql);
  if (word == "savepoint") return StatementKind::kSavepoint;
  if (word == "release") return StatementKind::kRelease;
  if (word == "rollback") return StatementKind::kRollbackTo;
  if (word == "select" || word == "with" || word == "values" ||
      word == "show") {
    return StatementKind::kRead;
  }
  return StatementKind::kWrite;
}

class PgEngine : public Engine {
 public:
  explicit PgEngine(std::string url) : link_(std::make_shared<Link>()) {
    link_->url = std::move(url);
  }
  ~PgEngine() override {
    Rollback();
    link_->connection.reset();
  }

  std::string Attach(const std::string& path, int /*lock_wait_ms*/,
                     bool for_writing) override {
    std::string schema = PostgresSchemaOf(path);
    if (schema.size() > kMaxPostgresName) {
      Raise(kErrUnspecified, "The schema name '" + schema + "' for '" + path +
                                 "' is longer "
                                 "than PostgreSQL's " +
                                 std::to_string(kMaxPostgresName) +
                                 " characters; use a shorter server name.");
    }
    // Two spellings of one database name one schema, on the path already.
    if (std::find(link_->attached.begin(), link_->attached.end(),
                  pg::QuoteIdentifier(schema)) != link_->attached.end()) {
      return schema;
    }
    // The search_path set inside a transaction would be undone by its
    // rollback, or by a failed statement's rollback to the savepoint:
    // attaching only between transactions keeps it set for good.
    if (link_->began) {
      Raise(kErrUnspecified,
            "The database '" + path +
                "' was opened after the run's first statement; open every "
                "database of a run before using any.");
    }
    Connect();
    std::vector<pg::Row> found;
    try {
      found = link_->connection->Query(
          "SELECT 1 FROM pg_namespace WHERE nspname = $1", {schema});
    } catch (const PgError& error) {
      RaiseError(error, Where(schema), schema, "",
                 link_->AskerOf(!for_writing));
    }
    if (found.empty()) {
      Raise(kErrUnspecified, "Could not find the schema '" + schema +
                                 "' (the database '" + path + "') in " +
                                 link_->url +
                                 ". Make it with 'velnor init-db --db-url'.");
    }
    FindOperatorsOf(schema);
    return schema;
  }

  bool BulkLoads() const override { return true; }

  bool CopyRows(const std::string& schema, std::string_view table,
                const std::vector<std::string>& columns,
                const RowBatches& next) override {
    if (link_->failure) throw *link_->failure;
    const std::string where = Where(schema);
    // Each batch is refused before any of it is sent: a text the server
    // would cut short ends the copy with none of its rows kept.
    auto checked = [&]() -> const std::vector<CopyRow>* {
      const std::vector<CopyRow>* rows = next();
      if (!rows) return nullptr;
      for (const CopyRow& row : *rows) {
        for (const auto& value : row) {
          if (value) RefuseNul(*value, where);
        }
      }
      return rows;
    };
    std::string target = automation::AsciiLowered(table);
    target =
        target.starts_with("temp.")
            ? "pg_temp." + pg::QuoteIdentifier(target.substr(5))
            : pg::QuoteIdentifier(schema) + "." + pg::QuoteIdentifier(target);
    std::string names;
    for (const std::string& column : columns) {
      names += (names.empty() ? "" : ", ") +
               pg::QuoteIdentifier(automation::AsciiLowered(column));
    }
    try {
      link_->connection->CopyIn(
          "COPY " + target + " (" + names + ") FROM STDIN", checked);
    } catch (const PgError& error) {
      if (!error.ConnectionLost()) link_->RollBackStatement();
      link_->Note(error, where, schema, table, false);
    } catch (...) {
      // A refused text, or the caller's own raise: the unfinished copy
      // failed the statement, which is undone before the raise goes on.
      link_->RollBackStatement();
      throw;
    }
    link_->RenewSavepoint(where);
    return true;
  }

  // A btree built once sorts the rows and writes its pages in order, where
  // each row appended under a kept index descends the tree and compares its
  // key on every level: for a new report of tens of thousands of rows the
  // server spends about a third of the load's CPU time on that. The plain
  // index `index` is dropped and left out past the commit: the report's key
  // index serves only the look-ups of counting record by record, which
  // makes it again first (EnsureIndex), and building it cost a new store's
  // first run about a third of its server time. The table's other indexes
  // are made again from the definition the server gives of each ("if not
  // exists": a savepoint that undid the drop left it in place). Those of
  // constraints cannot be dropped alone and stay, and so do partial ones:
  // such an index holds only the rows its condition picks (the reports'
  // holds those without a folded key, none of ours), so each appended row
  // costs it one test of the condition, where making it again reads the
  // whole table. The dropped indexes lock the table until the transaction
  // ends, as the rows appended do for any writer: a reader of the (new,
  // empty) report meanwhile waits for the commit.
  //
  // Plain indexes stay set aside across the appends of a transaction and
  // are made once, at BuildIndexes or the commit: a run that appends a
  // site at a time then sorts all of its rows once. A unique index is made
  // again at once, so that a row it refuses fails the append that brought
  // it; one named `index` too.
  void AppendLeavingIndexesOut(const std::string& schema,
                               const std::string& table,
                               const std::string& index,
                               const std::string& /*path*/,
                               const std::function<void()>& append) override {
    if (link_->failure) throw *link_->failure;
    // Outside a transaction nothing would undo a drop that a failure left.
    if (!link_->began) return append();
    SetAside& aside = set_aside_[{schema, automation::AsciiLowered(table)}];
    if (!aside.made.empty() && !aside.built) return append();
    std::vector<std::string> made;
    bool unique = false;
    RunForIndexes(schema, table, [&] {
      std::string drop;
      for (const pg::Row& found : link_->connection->Query(
               "SELECT quote_ident(n.nspname) || '.' || "
               "quote_ident(i.relname), pg_get_indexdef(x.indexrelid), "
               "x.indisunique, i.relname = $3 AND NOT x.indisunique FROM "
               "pg_index x JOIN pg_class i ON i.oid = x.indexrelid JOIN "
               "pg_class c ON c.oid = x.indrelid JOIN pg_namespace n ON n.oid "
               "= c.relnamespace WHERE n.nspname = $1 AND c.relname = $2 AND "
               "NOT EXISTS (SELECT 1 FROM pg_constraint k WHERE k.conindid = "
               "x.indexrelid) AND x.indpred IS NULL ORDER BY i.oid",
               {schema, automation::AsciiLowered(table),
                automation::AsciiLowered(index)})) {
        drop += "DROP INDEX " + *found[0] + ";";
        unique = unique || *found[2] == "t";
        if (*found[3] != "t") made.push_back(IfNotExists(*found[1]));
      }
      if (!drop.empty()) link_->Exec(drop);
    });
    aside = {.made = unique ? std::vector<std::string>{} : made,
             .schema = schema};
    append();
    if (unique) MakeIndexes({.made = made, .schema = schema}, table);
  }

  // Asks the catalog first: CREATE INDEX locks out the table's writers
  // until the transaction ends even when it finds the index there.
  void EnsureIndex(const std::string& schema, const std::string& table,
                   const IndexDefinition& index,
                   const std::string& /*path*/) override {
    if (link_->failure) throw *link_->failure;
    const std::string name = automation::AsciiLowered(index.name);
    RunForIndexes(schema, table, [&] {
      if (!link_->connection
               ->Query("SELECT 1 FROM pg_class c JOIN pg_namespace n ON n.oid "
                       "= c.relnamespace WHERE n.nspname = $1 AND c.relname = "
                       "$2",
                       {schema, name})
               .empty()) {
        return;
      }
      link_->Exec("CREATE INDEX IF NOT EXISTS " + pg::QuoteIdentifier(name) +
                  " ON " + pg::QuoteIdentifier(schema) + "." +
                  pg::QuoteIdentifier(automation::AsciiLowered(table)) + " " +
                  index.postgres);
    });
  }

  void BuildIndexes(const std::string& schema,
                    const std::string& table) override {
    auto found = set_aside_.find({schema, automation::AsciiLowered(table)});
    if (found == set_aside_.end() || found->second.built) return;
    MakeIndexes(found->second, table);
    found->second.built = true;
  }

  std::unique_ptr<Statement> Prepare(std::string_view sql,
                                     const std::string& schema,
                                     const std::string& /*path*/) override {
    if (link_->failure) throw *link_->failure;
    if (!link_->connection) Connect();
    const std::string quoted = pg::QuoteIdentifier(schema);
    std::string text = PostgresSql(QualifyTables(sql, quoted + "."), quoted);
    StatementKind kind = KindOf(sql);
    if (ChangesSchemas(sql)) equalities_.clear();
    std::string where = Where(schema);
    if (text.find(';') != std::string::npos &&
        !IsEmptyTail(std::string_view(text).substr(text.find(';')))) {
      Raise(kErrSyntax, "Characters found after end of SQL statement.");
    }
    if (kind != StatementKind::kRead && kind != StatementKind::kWrite) {
      return std::make_unique<PgStatement>(link_, "", text, kind, where, schema,
                                           "");
    }
    link_->DeallocateUnused();
    std::string name = "velnor_" + std::to_string(++link_->statements_made);
    auto statement = std::make_unique<PgStatement>(
        link_, name, text, kind, where, schema, StatementTable(sql));
    PGconn* conn = link_->conn();
    ResultPtr prepared(PQprepare(conn, name.c_str(), text.c_str(), 0, nullptr));
    ResultPtr description;
    if (prepared && PQresultStatus(prepared.get()) == PGRES_COMMAND_OK) {
      description.reset(PQdescribePrepared(conn, name.c_str()));
    }
    const PGresult* failed = !description ? prepared.get() : description.get();
    if (!description || PQresultStatus(description.get()) != PGRES_COMMAND_OK) {
      PgError error = ErrorOf(conn, failed);
      if (!error.ConnectionLost()) link_->RollBackStatement();
      link_->Note(error, where, schema, "", kind == StatementKind::kRead);
    }
    statement->Describe(description.get());
    return statement;
  }

  // The report schemas' velnor_nocase compares the texts lowered under "C",
  // and citext (the earlier schemas) lowers by its collation: under "C"
  // both fold ASCII letters only. Text of a deterministic collation is
  // equal only byte for byte. A run asks of a dozen columns: the columns of
  // a schema are read from the catalog once, with its first question, and
  // kept until the transaction ends or a statement changes the schemas.
  TextEquality EqualityOf(const std::string& schema, const std::string& table,
                          const std::string& column) override {
    if (link_->failure || !link_->connection) return TextEquality::kOther;
    auto known = equalities_.find(schema);
    if (known == equalities_.end()) {
      std::optional<Equalities> read = ReadEqualities(schema);
      if (!read) return TextEquality::kOther;
      known = equalities_.emplace(schema, std::move(*read)).first;
    }
    auto found = known->second.find(
        {automation::AsciiLowered(table), automation::AsciiLowered(column)});
    return found == known->second.end() ? TextEquality::kOther : found->second;
  }

  void Begin(int lock_wait_ms) override {
    // A run's set statements sort and hash its keys: in memory rather than
    // on disk. Each of them runs once, so compiling it to machine code (JIT,
    // which a large table's estimates would call for) costs the server more
    // than it saves. They join staged keys, which no index orders, with the
    // report by folded texts: a merge join sorts both sides by lower() of
    // every text, which the planner prices as cheap but which costs the
    // server about twice a hash join's one pass over each side, so merge
    // joins are left out (an index look-up per staged key stays open to a
    // few keys against a large report). Durability (synchronous_commit,
    // fsync) is the server's setting and stays as its administrator chose.
    Start("BEGIN ISOLATION LEVEL READ COMMITTED; SET LOCAL lock_timeout = " +
          std::to_string(lock_wait_ms) +
          "; SET LOCAL work_mem = '64MB'; SET LOCAL jit = off; SET LOCAL "
          "enable_mergejoin = off; SAVEPOINT " +
          kStatementSavepoint);
  }

  void BeginRead(int lock_wait_ms) override {
    // One snapshot for every schema: what is read is one committed state.
    Start(
        "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY; SET LOCAL "
        "lock_timeout = " +
        std::to_string(lock_wait_ms) + "; SAVEPOINT " + kStatementSavepoint);
  }

  void Commit(int /*lock_wait_ms*/) override {
    if (!link_->began) return;
    try {
      for (auto& [key, aside] : set_aside_) {
        if (!aside.built && !link_->failure) MakeIndexes(aside, key.second);
      }
    } catch (...) {
      Rollback();
      throw;
    }
    set_aside_.clear();
    equalities_.clear();
    if (link_->failure) {
      AutomationError failure = *link_->failure;
      Rollback();
      throw failure;
    }
    link_->began = false;
    ResultPtr result(PQexec(link_->conn(), "COMMIT"));
    bool committed = result &&
                     PQresultStatus(result.get()) == PGRES_COMMAND_OK &&
                     std::string_view(PQcmdStatus(result.get())) == "COMMIT";
    if (committed) return;
    PgError error = ErrorOf(link_->conn(), result.get());
    if (error.ConnectionLost()) {
      throw CommitOutcomeUnknown(kErrUnspecified,
                                 "Disk or network error. " +
                                     std::string(error.what()) + " while " +
                                     link_->url + " committed the transaction");
    }
    Rollback();
    RaiseError(error, link_->url, "");
  }

  void Rollback() override {
    if (link_->InTransaction()) {
      ResultPtr result(PQexec(link_->conn(), "ROLLBACK"));
    }
    link_->began = false;
    link_->failure.reset();
    set_aside_.clear();
    equalities_.clear();
  }

  bool Failed() const override { return link_->failure.has_value(); }

 private:
  void Connect() {
    if (link_->connection) {
      if (PQstatus(link_->conn()) == CONNECTION_OK) return;
      link_->connection.reset();
    }
    try {
      link_->connection = std::make_unique<PgConnection>(
          link_->url, "velnor process " + std::to_string(::getpid()));
    } catch (const PgError& error) {
      Raise(kErrUnspecified,
            "Could not connect to the PostgreSQL database " + link_->url +
                ": " + pg::Sentence(error.what()) +
                " Check the URL, that the server runs and accepts this "
                "machine, and the password in " +
                pg::PasswordFile(link_->url) + ".");
    }
    // A new connection has none of the old one's statements or settings.
    link_->unused_statements.clear();
    if (link_->attached.empty()) return;
    try {
      SetSearchPath(link_->attached);
    } catch (const PgError& error) {
      link_->connection.reset();
      RaiseError(error, link_->url, "");
    }
  }

  // Begins a transaction with `sql`. A connection found lost here held no
  // transaction, so nothing is lost by beginning once more on a new one.
  void Start(const std::string& sql) {
    Connect();
    equalities_.clear();
    link_->failure.reset();
    try {
      try {
        link_->Exec(sql);
      } catch (const PgError& error) {
        if (!error.ConnectionLost()) throw;
        link_->connection.reset();
        Connect();
        link_->Exec(sql);
      }
    } catch (const PgError& error) {
      if (link_->InTransaction()) {
        ResultPtr result(PQexec(link_->conn(), "ROLLBACK"));
      }
      RaiseError(error, link_->url, "");
    }
    link_->began = true;
  }

  // How each column of the tables of `schema` compares texts, by table
  // and column name; nothing when the catalog cannot be read.
  using Equalities =
      std::map<std::pair<std::string, std::string>, TextEquality>;
  std::optional<Equalities> ReadEqualities(const std::string& schema) {
    std::vector<pg::Row> found;
    try {
      found = link_->connection->Query(
          "SELECT c.relname, a.attname, t.typname, co.collname, "
          "co.collisdeterministic FROM pg_attribute a JOIN pg_class c ON c.oid "
          "= a.attrelid JOIN pg_namespace n ON n.oid = c.relnamespace JOIN "
          "pg_type t ON t.oid = a.atttypid LEFT JOIN pg_collation co ON co.oid "
          "= a.attcollation WHERE n.nspname = $1 AND c.relkind IN ('r', 'p', "
          "'v', 'm', 'f') AND a.attnum > 0 AND NOT a.attisdropped",
          {schema});
    } catch (const PgError& error) {
      if (!error.ConnectionLost()) link_->RollBackStatement();
      return std::nullopt;
    }
    Equalities equalities;
    for (const pg::Row& row : found) {
      if (!row[0] || !row[1]) continue;
      equalities[{*row[0], *row[1]}] = EqualityOfType(row[2], row[3], row[4]);
    }
    return equalities;
  }

  static TextEquality EqualityOfType(const pg::Value& type,
                                     const pg::Value& collation,
                                     const pg::Value& deterministic) {
    if (!type || !collation || !deterministic) return TextEquality::kOther;
    if (*type == "citext" && (*collation == "C" || *collation == "POSIX")) {
      return TextEquality::kAsciiCaseless;
    }
    if (*type == "velnor_nocase" && *collation == "C") {
      return TextEquality::kAsciiCaseless;
    }
    if ((*type == "text" || *type == "varchar") && *deterministic == "t") {
      return TextEquality::kExact;
    }
    return TextEquality::kOther;
  }

  // Puts `schema` on the connection's search_path, after those attached
  // before it and before the default ones: its tables' text type has its
  // own "=" (reportdb/pg_schema.h), which PostgreSQL finds only there.
  // The schema counts as attached only once the server took the path.
  void FindOperatorsOf(const std::string& schema) {
    std::vector<std::string> attached = link_->attached;
    attached.push_back(pg::QuoteIdentifier(schema));
    try {
      SetSearchPath(attached);
    } catch (const PgError& error) {
      RaiseError(error, Where(schema), schema);
    }
    link_->attached = std::move(attached);
  }

  // Runs outside any transaction, so that no rollback undoes it.
  void SetSearchPath(const std::vector<std::string>& schemas) {
    std::string path;
    for (const std::string& name : schemas) path += name + ", ";
    link_->Exec("SET search_path = " + path + "\"$user\", public");
  }

  std::string Where(const std::string& schema) const {
    return "'" + schema + "' in " + link_->url;
  }

  // The indexes of a table set aside by AppendLeavingIndexesOut.
  struct SetAside {
    std::vector<std::string> made;  // each one's CREATE, "if not exists"
    std::string schema;
    bool built = false;
  };

  static std::string IfNotExists(const std::string& definition) {
    for (std::string_view head : {"CREATE INDEX ", "CREATE UNIQUE INDEX "}) {
      if (definition.starts_with(head)) {
        return std::string(head) + "IF NOT EXISTS " +
               definition.substr(head.size());
      }
    }
    return definition;
  }

  // Runs `work` (statements of the transaction on the indexes of `table`)
  // as one statement: a failure rolls back what it did and raises.
  void RunForIndexes(const std::string& schema, std::string_view table,
                     const std::function<void()>& work) {
    const std::string where = Where(schema);
    try {
      work();
    } catch (const PgError& error) {
      if (!error.ConnectionLost()) link_->RollBackStatement();
      link_->Note(error, where, schema, table, false);
    }
    link_->RenewSavepoint(where);
  }

  void MakeIndexes(const SetAside& aside, std::string_view table) {
    if (aside.made.empty()) return;
    std::string sql;
    for (const std::string& made : aside.made) sql += made + ";";
    RunForIndexes(aside.schema, table, [&] { link_->Exec(sql); });
  }

  std::shared_ptr<Link> link_;
  // By schema and lower-cased table name, until the transaction ends.
  std::map<std::pair<std::string, std::string>, SetAside> set_aside_;
  // EqualityOf's answers by schema, until the transaction ends or a
  // statement changes the schemas.
  std::map<std::string, Equalities> equalities_;
};

}  // namespace

std::unique_ptr<Engine> MakePostgresEngine(const std::string& url) {
  return std::make_unique<PgEngine>(url);
}

std::string PostgresSchemaOf(std::string_view path) {
  size_t slash = path.find_last_of("/\\");
  std::string_view file =
      slash == std::string_view::npos ? path : path.substr(slash + 1);
  size_t dot = file.rfind('.');
  if (dot != std::string_view::npos && dot > 0) file = file.substr(0, dot);
  return automation::AsciiLowered(file);
}

}  // namespace velnor::ado
