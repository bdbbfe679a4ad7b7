// Making the report schemas in PostgreSQL. Each schema is made in one
// transaction that starts with CREATE SCHEMA, so a schema that a
// concurrent init-db makes first makes that transaction fail and is left
// exactly as it was; one that exists is not sent a CREATE at all.
#include "reportdb/pg_schema.h"

#include <algorithm>
#include <map>

#include "platform/ado/engine.h"
#include "platform/ado/pg_connection.h"
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "reportdb/table_layout.h"

namespace velnor::reportdb {
namespace {

using ado::pg::PgConnection;
using ado::pg::PgError;
using ado::pg::QuoteIdentifier;
using ado::pg::RaiseSchemaFailure;
using automation::Raise;

std::unique_ptr<PgConnection> Connect(const std::string& url) {
  return ado::pg::ConnectForSchemas(url, "velnor init-db");
}

constexpr const char* kTextType = "velnor_nocase";

// The schema's own text type and its equality: text of the "C" collation
// whose "=" compares the ASCII-lowered texts, so that the report's
// look-ups ("... where URL = '/x' ...") find keys whatever their case, as
// SQLite's NOCASE finds them. The operator is a plain SQL expression that
// the planner inlines: a comparison then becomes lower(column) = lower(value)
// (under "C" lower() folds ASCII letters only, so "É" and "é" stay two
// keys), which matches the expression indexes below and hashes in joins.
// Texts are folded once when a row is indexed, never on every comparison
// inside the index. The operator lives in the schema, so a session finds it
// only with the schema on its search_path (the engine puts every attached
// schema there).
std::string TextTypeStatements(const std::string& qualified) {
  const std::string type = qualified + kTextType;
  return "CREATE DOMAIN " + type + " AS text COLLATE \"C\";\n" +
         "CREATE FUNCTION " + qualified + "velnor_nocase_eq(" + type + ", " +
         type +
         ") RETURNS boolean LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS "
         "$$ SELECT lower($1::text COLLATE \"C\") = lower($2::text COLLATE "
         "\"C\") $$;\n"
         "CREATE OPERATOR " +
         qualified + "= (LEFTARG = " + type + ", RIGHTARG = " + type +
         ", FUNCTION = " + qualified +
         "velnor_nocase_eq, COMMUTATOR = "
         "OPERATOR(" +
         qualified + "=));\n";
}

// An index column: a text column by its folded text, as the inlined "="
// compares it.
std::string IndexedExpression(const TableLayout& table,
                              const std::string& column) {
  std::string name = QuoteIdentifier(automation::AsciiLowered(column));
  for (const ColumnLayout& layout : table.columns) {
    if (layout.name == column && !layout.is_long) {
      return "lower((" + name + ")::text COLLATE \"C\")";
    }
  }
  return name;
}

// True when `index` is the index of the counts' key (site identifier, URL,
// bucket).
bool IsCountsKey(const IndexLayout& index) {
  return index.columns.size() == 3 && index.columns[0] == "Identifier" &&
         index.columns[1] == "URL";
}

// The counts' key is indexed by the folded URL alone, in a hash index. A
// btree refuses an entry of more than a third of a page (2,704 bytes), so
// a record with a longer URL, which a SQLite file holds, could not be
// stored at all; a hash index keeps only each entry's hash code and takes
// any length. It serves the one kind of look-up the counts get, by equal
// keys; a look-up reads the URL's rows of every bucket and site of the
// server and keeps the one asked for: a few dozen at most, as the
// identifier and the bucket tell few rows apart for one URL. The set
// statements' joins match the folded key instead (FoldedKeyColumn) and
// need no index.
std::vector<std::string> IndexedColumns(const IndexLayout& index) {
  if (IsCountsKey(index)) return {index.columns[1]};
  return index.columns;
}

// The counts' table's folded key: FoldedKey, which our bulk loads write
// with each new row (the client has it already, staged for the join), so
// that the server folds no text of a row it stores; a column the server
// computed (generated) cost a new store's first run about a tenth of its
// server time. It is folded once, when the row is written (a raised count
// leaves it as it is), so that a join of the run's staged keys with the
// stored rows hashes and compares bytes and lowers no text of either side.
// It has no index of its own: a hash join reads the stored rows in one
// pass, and the record-by-record look-ups use the key index.
std::string FoldedKeyColumn() {
  return std::string(kFoldedKeyColumn) + " text COLLATE \"C\"";
}

// Rows another writer stores without the key (or with an identifier or
// URL changed since) are found through a partial index that holds only
// them: empty while every row has its key, so that it costs our loads and
// raises nothing (a raise changes no column it names, and stays a
// heap-only update) and makes the fill before each join (FillFoldedKeys) a
// look-up of nothing. A change of another writer's identifiers or URLs
// clears the changed rows' keys, once per statement.
std::string KeyUpkeepStatements(const std::string& qualified) {
  const std::string table = qualified + "tblgeneral";
  return "CREATE INDEX tblgeneral_unkeyed ON " + table + " (rowid) WHERE " +
         kFoldedKeyColumn + " IS NULL;\n" + "CREATE FUNCTION " + qualified +
         "velnor_clear_keys() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
         "UPDATE " +
         table + " SET " + kFoldedKeyColumn + " = NULL WHERE " +
         kFoldedKeyColumn + " IS DISTINCT FROM " + FoldedKeyExpression() +
         "; RETURN NULL; END $$;\n" +
         "CREATE TRIGGER velnor_clear_keys AFTER UPDATE OF identifier, url "
         "ON " +
         table + " FOR EACH STATEMENT EXECUTE FUNCTION " + qualified +
         "velnor_clear_keys();\n";
}

// What follows "ON table" in the CREATE INDEX of `index` of `table`.
std::string IndexBody(const TableLayout& table, const IndexLayout& index) {
  std::string body = IsCountsKey(index) ? "USING hash (" : "(";
  const std::vector<std::string> columns = IndexedColumns(index);
  for (size_t i = 0; i < columns.size(); ++i) {
    body += (i > 0 ? ", " : "") + IndexedExpression(table, columns[i]);
  }
  return body + ")";
}

std::string IndexStatements(const TableLayout& table,
                            const std::string& qualified) {
  std::string sql;
  for (const IndexLayout& index : table.indexes) {
    sql += "CREATE INDEX " +
           QuoteIdentifier(automation::AsciiLowered(index.name)) + " ON " +
           qualified + automation::AsciiLowered(table.name) + " " +
           IndexBody(table, index) + ";\n";
  }
  return sql;
}

// STABLE, as its body is (pg_typeof and the regtype casts): PostgreSQL
// inlines a SQL function only when it is declared no stricter than its
// body, and the check of counts calls it on every row of a report, which
// as a function call costs the server ten times the scan.
std::string TypeofStatement(const std::string& qualified) {
  return "CREATE OR REPLACE FUNCTION " + qualified +
         "typeof(anyelement) RETURNS text LANGUAGE sql STABLE AS $$ "
         "SELECT CASE WHEN $1 IS NULL THEN 'null' "
         "WHEN pg_typeof($1) IN ('smallint'::regtype, 'integer'::regtype, "
         "'bigint'::regtype) THEN 'integer' "
         "WHEN pg_typeof($1) IN ('real'::regtype, 'double precision'::regtype, "
         "'numeric'::regtype) THEN 'real' ELSE 'text' END $$;\n";
}

// The check of counts on an integer column: such a column holds nothing
// but integers or NULL, so this typeof (which calls resolve to for one)
// tests for NULL alone, where the one of any type compares the value's
// type with six for every row.
std::string IntegerTypeofStatement(const std::string& qualified) {
  return "CREATE FUNCTION " + qualified +
         "typeof(integer) RETURNS text LANGUAGE sql IMMUTABLE AS $$ "
         "SELECT CASE WHEN $1 IS NULL THEN 'null' ELSE 'integer' END $$;\n";
}

// The counts' table leaves half of each page free: a run raises most of
// the rows it finds, and a raised row's new version that fits on its own
// page is a heap-only update, with no new entry in the key index (whose
// texts are lowered again for each entry). A full page moves the new
// version to another page and indexes it anew, which costs the server
// several times the write of the row. The next run's page pruning frees
// the old versions' space again.
constexpr const char* kRaisedTableStorage = "(fillfactor = 50)";

// Row identities each session takes from a table's sequence at once.
constexpr int kRowidCache = 1000;

std::string RowidCacheStatement(const std::string& sequence) {
  return "ALTER SEQUENCE " + sequence + " CACHE " +
         std::to_string(kRowidCache) + ";\n";
}

// The table `table` of the current design in the schema `qualified`
// (quoted, with its "."), whose text type exists.
std::string TableStatements(const TableLayout& table,
                            const std::string& qualified) {
  const std::string name = automation::AsciiLowered(table.name);
  std::string sql = "CREATE TABLE " + qualified + name + " (";
  for (const ColumnLayout& column : table.columns) {
    sql += QuoteIdentifier(automation::AsciiLowered(column.name)) + " " +
           (column.is_long ? "integer" : qualified + kTextType) + ", ";
  }
  return sql + std::string("rowid bigserial") +
         (name == "tblgeneral" ? ", " + FoldedKeyColumn() : "") + ")" +
         (name == "tblgeneral" ? std::string(" WITH ") + kRaisedTableStorage
                               : "") +
         ";\n" + RowidCacheStatement(qualified + name + "_rowid_seq") +
         IndexStatements(table, qualified) +
         (name == "tblgeneral" ? KeyUpkeepStatements(qualified) : "");
}

std::string SchemaStatements(ReportKind kind, bool is_ftp,
                             const std::string& schema) {
  const std::string qualified = QuoteIdentifier(schema) + ".";
  std::string sql = "CREATE SCHEMA " + QuoteIdentifier(schema) + ";\n" +
                    TextTypeStatements(qualified);
  for (const TableLayout& table : ReportTableLayouts(kind, is_ftp)) {
    sql += TableStatements(table, qualified);
  }
  return sql + TypeofStatement(qualified) + IntegerTypeofStatement(qualified);
}

// Whether `tables` (lower-cased names) holds the table of `layout`.
bool HasTable(const std::vector<std::string>& tables,
              const TableLayout& layout) {
  return std::ranges::find(tables, automation::AsciiLowered(layout.name)) !=
         tables.end();
}

// Adds the folded key to the counts' table of an earlier design and
// computes it for every row; that writes the table anew.
std::string FoldedKeyStatement(const std::string& qualified) {
  return "ALTER TABLE " + qualified + "tblgeneral ADD COLUMN " +
         FoldedKeyColumn() + ";\n" + FillFoldedKeys(qualified + "tblgeneral") +
         ";\n" + KeyUpkeepStatements(qualified);
}

// Turns the counts' folded key of an earlier design, computed by the
// server, into the column our loads write; the stored keys are kept.
std::string WrittenKeyStatement(const std::string& qualified) {
  return "ALTER TABLE " + qualified + "tblgeneral ALTER COLUMN " +
         kFoldedKeyColumn + " DROP EXPRESSION;\n" +
         KeyUpkeepStatements(qualified);
}

// The statements that bring a schema made with citext text columns (the
// earlier design, whose every comparison inside an index lowered both
// texts) to the design above: the same rows, in the same order (rowid is
// kept), with the new text type and indexes; its tables `lacking` aside.
std::string UpgradeStatements(ReportKind kind, bool is_ftp,
                              const std::string& schema,
                              const std::vector<std::string>& lacking) {
  const std::string qualified = QuoteIdentifier(schema) + ".";
  std::string sql = TextTypeStatements(qualified);
  for (const TableLayout& table : ReportTableLayouts(kind, is_ftp)) {
    if (HasTable(lacking, table)) continue;
    for (const IndexLayout& index : table.indexes) {
      sql += "DROP INDEX IF EXISTS " + qualified +
             QuoteIdentifier(automation::AsciiLowered(index.name)) + ";\n";
    }
    std::string columns;
    for (const ColumnLayout& column : table.columns) {
      if (column.is_long) continue;
      const std::string name =
          QuoteIdentifier(automation::AsciiLowered(column.name));
      columns += (columns.empty() ? " ALTER COLUMN " : ", ALTER COLUMN ") +
                 name + " TYPE " + qualified + kTextType + " USING " + name +
                 "::text";
    }
    sql += "ALTER TABLE " + qualified + automation::AsciiLowered(table.name) +
           columns + ";\n" + IndexStatements(table, qualified);
  }
  return sql;
}

// The marks of the earlier designs in the catalog: each a condition on the
// schema named $1, asked alone by Upgrade and all at once by NeedsUpgrade.

// `schema` still has text columns of the citext type in its report
// tables: a table another tool renamed (and init-db made anew) is not one
// of them, and keeps its columns as they are.
std::string CitextColumns() {
  std::string names;
  for (ReportKind kind : kReportKinds) {
    for (const TableLayout& table : ReportTableLayouts(kind, true)) {
      std::string name = "'";
      name += automation::AsciiLowered(table.name);
      name += "'";
      if (names.find(name) != std::string::npos) continue;
      if (!names.empty()) names += ", ";
      names += name;
    }
  }
  return "EXISTS (SELECT 1 FROM pg_attribute a JOIN pg_class c ON c.oid = "
         "a.attrelid JOIN pg_namespace n ON n.oid = c.relnamespace JOIN "
         "pg_type t ON t.oid = a.atttypid WHERE n.nspname = $1 AND c.relkind "
         "= 'r' AND c.relname IN (" +
         names + ") AND t.typname = 'citext' AND NOT a.attisdropped)";
}

// Its typeof of any type is declared IMMUTABLE.
constexpr char kImmutableTypeof[] =
    "EXISTS (SELECT 1 FROM pg_proc p JOIN pg_namespace n ON n.oid = "
    "p.pronamespace WHERE n.nspname = $1 AND p.proname = 'typeof' AND "
    "p.provolatile = 'i' AND p.proargtypes = "
    "'anyelement'::regtype::oid::text::oidvector)";

// Its counts table, c, of which `condition` holds. A counts table another
// tool renamed or dropped is no mark of an earlier design: the run goes on
// without it, as it does without a file's table, one error-log line for
// each count it cannot write.
std::string CountsTableWhere(const std::string& condition) {
  return "EXISTS (SELECT 1 FROM pg_class c JOIN pg_namespace n ON n.oid = "
         "c.relnamespace WHERE n.nspname = $1 AND c.relname = 'tblgeneral' "
         "AND c.relkind = 'r' AND (" +
         condition + "))";
}

// Its counts table fills its pages.
std::string FullPages() {
  return CountsTableWhere(
      "c.reloptions IS NULL OR NOT 'fillfactor=50' = ANY (c.reloptions)");
}

// Its key index of the counts is a btree (the earlier designs, which also
// held the bucket and, earlier still, the site identifier). A counts table
// without a key index is of the current design: a run counting in memory
// into the new report left it out, and the next run that looks keys up
// makes it (KeyIndexDefinition), so init-db and migrate leave it out too
// rather than index rows no look-up may ever need.
constexpr char kBtreeKeyIndex[] =
    "EXISTS (SELECT 1 FROM pg_index i JOIN pg_class c ON c.oid = "
    "i.indexrelid JOIN pg_namespace n ON n.oid = c.relnamespace JOIN pg_am a "
    "ON a.oid = c.relam WHERE n.nspname = $1 AND c.relname = "
    "'tblgeneral_key' AND a.amname = 'btree')";

// Its counts table has no folded key.
std::string NoFoldedKey() {
  return CountsTableWhere(
      std::string("NOT EXISTS (SELECT 1 FROM pg_attribute a WHERE a.attrelid "
                  "= c.oid AND a.attname = '") +
      kFoldedKeyColumn + "' AND NOT a.attisdropped)");
}

// Its counts table has the folded key the server computes.
std::string GeneratedKey() {
  return std::string(
             "EXISTS (SELECT 1 FROM pg_attribute a JOIN pg_class c ON c.oid "
             "= a.attrelid JOIN pg_namespace n ON n.oid = c.relnamespace "
             "WHERE n.nspname = $1 AND c.relname = 'tblgeneral' AND "
             "a.attname = '") +
         kFoldedKeyColumn + "' AND a.attgenerated <> '')";
}

// It lacks the typeof of integer columns.
constexpr char kNoIntegerTypeof[] =
    "NOT EXISTS (SELECT 1 FROM pg_proc p JOIN pg_namespace n ON n.oid = "
    "p.pronamespace WHERE n.nspname = $1 AND p.proname = 'typeof' AND "
    "p.proargtypes = 'integer'::regtype::oid::text::oidvector)";

// The condition that its sequences hand out fewer row identities at once
// than kRowidCache (the earlier design: one at a time), from `what`.
std::string UncachedSequencesFrom(const std::string& what) {
  return what + " FROM pg_sequences WHERE schemaname = $1 AND cache_size < " +
         std::to_string(kRowidCache);
}

// The tables of `schema`, by their names.
std::vector<std::string> TablesOf(PgConnection& db, const std::string& schema) {
  std::vector<std::string> tables;
  for (const ado::pg::Row& row :
       db.Query("SELECT c.relname FROM pg_class c JOIN pg_namespace n ON "
                "n.oid = c.relnamespace WHERE n.nspname = $1 AND c.relkind "
                "IN ('r', 'p')",
                {schema})) {
    if (row[0]) tables.push_back(*row[0]);
  }
  return tables;
}

// The tables of `kind` missing from `tables`, lower-cased, in layout order.
std::vector<std::string> LackingTables(ReportKind kind, bool is_ftp,
                                       const std::vector<std::string>& tables) {
  std::vector<std::string> lacking;
  for (const TableLayout& table : ReportTableLayouts(kind, is_ftp)) {
    if (!HasTable(tables, table)) {
      lacking.push_back(automation::AsciiLowered(table.name));
    }
  }
  return lacking;
}

bool SchemaExists(PgConnection& db, const std::string& schema) {
  return !db.Query("SELECT 1 FROM pg_namespace WHERE nspname = $1", {schema})
              .empty();
}

// True when `condition` on the schema `schema` holds.
bool Holds(PgConnection& db, const std::string& condition,
           const std::string& schema) {
  return !db.Query("SELECT 1 WHERE " + condition, {schema}).empty();
}

// The sequences of `schema` that UncachedSequencesFrom picks, quoted.
std::vector<std::string> UncachedSequences(PgConnection& db,
                                           const std::string& schema) {
  std::vector<std::string> names;
  for (const ado::pg::Row& row :
       db.Query(UncachedSequencesFrom("SELECT sequencename"), {schema})) {
    if (row[0]) {
      names.push_back(QuoteIdentifier(schema) + "." + QuoteIdentifier(*row[0]));
    }
  }
  return names;
}

// The condition that the schema named $1 bears any mark of an earlier
// design.
std::string AnyEarlierMark() {
  return CitextColumns() + " OR " + kImmutableTypeof + " OR " + FullPages() +
         " OR " + kBtreeKeyIndex + " OR " + NoFoldedKey() + " OR " +
         GeneratedKey() + " OR " + kNoIntegerTypeof + " OR EXISTS (" +
         UncachedSequencesFrom("SELECT 1") + ")";
}

// Whether `schema` bears any mark of an earlier design.
bool NeedsUpgrade(PgConnection& db, const std::string& schema) {
  return Holds(db, AnyEarlierMark(), schema);
}

// Those of `schemas` that bear a mark of an earlier design. A run asks it
// of every report schema of its server before it starts, and in one query:
// planning the marks' catalog joins costs the server many times their
// execution, so a query per schema cost a run about 14 ms of server CPU,
// this one about 5 ms. Each schema's name stands where the marks name $1.
std::vector<std::string> SchemasOfEarlierDesigns(
    PgConnection& db, const std::vector<std::string>& schemas) {
  std::string names;
  for (size_t i = 1; i <= schemas.size(); ++i) {
    names += (i > 1 ? ", $" : "$") + std::to_string(i);
  }
  std::string any = AnyEarlierMark();
  for (size_t at = any.find("$1"); at != std::string::npos;
       at = any.find("$1", at)) {
    any.replace(at, 2, "s.name");
  }
  std::vector<std::string> earlier;
  for (const ado::pg::Row& row :
       db.Query("SELECT s.name FROM unnest(ARRAY[" + names +
                    "]::text[]) AS s (name) WHERE " + any,
                {schemas.begin(), schemas.end()})) {
    if (row[0]) earlier.push_back(*row[0]);
  }
  return earlier;
}

// Upgrades `schema` in one transaction when it needs it; a concurrent
// init-db or migrate that upgraded it first leaves nothing to do.
void Upgrade(PgConnection& db, const std::string& url, ReportKind kind,
             bool is_ftp, const std::string& schema) {
  try {
    db.Exec("BEGIN");
    const std::vector<std::string> lacking =
        LackingTables(kind, is_ftp, TablesOf(db, schema));
    // The lock keeps runs and other upgrades out until the commit.
    if (!HasTable(lacking, ReportTableLayouts(kind, is_ftp).front())) {
      db.Exec("LOCK TABLE " + QuoteIdentifier(schema) +
              ".tblgeneral IN ACCESS EXCLUSIVE MODE");
    }
    if (Holds(db, CitextColumns(), schema)) {
      db.Exec(UpgradeStatements(kind, is_ftp, schema, lacking));
    }
    // A table another tool renamed or dropped is made anew, empty, once
    // the schema's text type is there; the rows of the others are kept.
    for (const TableLayout& table : ReportTableLayouts(kind, is_ftp)) {
      if (HasTable(lacking, table)) {
        db.Exec(TableStatements(table, QuoteIdentifier(schema) + "."));
      }
    }
    if (Holds(db, kImmutableTypeof, schema)) {
      db.Exec(TypeofStatement(QuoteIdentifier(schema) + "."));
    }
    // Pages written from now on keep the free half; the stored ones fill
    // as they are, so the rows stay where they are and nothing is copied.
    if (Holds(db, FullPages(), schema)) {
      db.Exec("ALTER TABLE " + QuoteIdentifier(schema) + ".tblgeneral SET " +
              kRaisedTableStorage);
    }
    if (Holds(db, kBtreeKeyIndex, schema)) {
      for (const TableLayout& table : ReportTableLayouts(kind, is_ftp)) {
        if (automation::AsciiLowered(table.name) != "tblgeneral") continue;
        db.Exec("DROP INDEX " + QuoteIdentifier(schema) + ".tblgeneral_key;\n" +
                IndexStatements(table, QuoteIdentifier(schema) + "."));
      }
    }
    if (Holds(db, NoFoldedKey(), schema)) {
      db.Exec(FoldedKeyStatement(QuoteIdentifier(schema) + "."));
    }
    if (Holds(db, GeneratedKey(), schema)) {
      db.Exec(WrittenKeyStatement(QuoteIdentifier(schema) + "."));
    }
    if (Holds(db, kNoIntegerTypeof, schema)) {
      db.Exec(IntegerTypeofStatement(QuoteIdentifier(schema) + "."));
    }
    for (const std::string& sequence : UncachedSequences(db, schema)) {
      db.Exec(RowidCacheStatement(sequence));
    }
    db.Exec("COMMIT");
  } catch (const PgError& error) {
    db.RollBackQuietly();
    RaiseSchemaFailure(
        url, "bring the schema " + schema + " to the current design", error);
  }
}

void CheckLength(const std::string& schema) {
  if (schema.size() > ado::kMaxPostgresName) {
    Raise(automation::kErrPermissionDenied,
          "The schema name '" + schema + "' is longer than PostgreSQL's " +
              std::to_string(ado::kMaxPostgresName) +
              " characters; the central store takes server names of up to " +
              std::to_string(ado::kMaxPostgresName - 25) + " characters.");
  }
}

// Brings the existing `schema` to the current design when it is of an
// earlier one; true when it was.
bool UpgradeIfEarlier(PgConnection& db, const std::string& url, ReportKind kind,
                      bool is_ftp, const std::string& schema) {
  bool old = false;
  try {
    old = NeedsUpgrade(db, schema);
  } catch (const PgError& error) {
    RaiseSchemaFailure(url, "read the schema " + schema, error);
  }
  if (old) Upgrade(db, url, kind, is_ftp, schema);
  return old;
}

// Makes `schema` when it does not exist; true when it made it. Whether it
// exists is asked first: CREATE SCHEMA checks the right to create schemas
// before it finds the schema there, so a role that may only write an
// existing store would be refused. A concurrent init-db that makes it
// meanwhile makes this one's transaction fail, and it is left as made.
bool MakeSchema(PgConnection& db, const std::string& url, ReportKind kind,
                bool is_ftp, const std::string& schema) {
  try {
    if (SchemaExists(db, schema)) return false;
    db.Exec("BEGIN; " + SchemaStatements(kind, is_ftp, schema) + "COMMIT;");
    return true;
  } catch (const PgError& error) {
    db.RollBackQuietly();
    if (!ado::pg::SchemaMadeAlready(error)) {
      RaiseSchemaFailure(url, "make the schema " + schema, error);
    }
    return false;
  }
}

}  // namespace

std::string FoldedKeyExpression() {
  return "octet_length(identifier) || ':' || lower(identifier || url)";
}

std::string FillFoldedKeys(const std::string& table) {
  return "UPDATE " + table + " SET " + kFoldedKeyColumn + " = " +
         FoldedKeyExpression() + " WHERE " + kFoldedKeyColumn +
         " IS NULL AND identifier IS NOT NULL AND url IS NOT NULL";
}

std::string FoldedKey(std::string_view identifier, std::string_view url) {
  std::string key = std::to_string(identifier.size()) + ":";
  key.reserve(key.size() + identifier.size() + url.size());
  for (std::string_view text : {identifier, url}) {
    for (char c : text) {
      key += c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    }
  }
  return key;
}

ado::IndexDefinition KeyIndexDefinition(ReportKind kind) {
  const TableLayout table = ReportTableLayouts(kind, false).front();
  const IndexLayout key = KeyIndexLayout(kind);
  return {.name = key.name,
          .columns = key.columns,
          .postgres = IndexBody(table, key)};
}

std::string ReportSchemaName(ReportKind kind, std::string_view server,
                             bool is_ftp) {
  return ado::PostgresSchemaOf(ReportDatabaseFileName(kind, server, is_ftp));
}

CreatedDatabases CreateReportSchemas(const std::string& url,
                                     std::string_view server, bool is_ftp) {
  for (ReportKind kind : kReportKinds) {
    CheckLength(ReportSchemaName(kind, server, is_ftp));
  }
  std::unique_ptr<PgConnection> db = Connect(url);
  CreatedDatabases result;
  for (ReportKind kind : kReportKinds) {
    std::string schema = ReportSchemaName(kind, server, is_ftp);
    if (MakeSchema(*db, url, kind, is_ftp, schema)) {
      result.made.push_back(schema);
    } else {
      (UpgradeIfEarlier(*db, url, kind, is_ftp, schema) ? result.upgraded
                                                        : result.left)
          .push_back(schema);
    }
  }
  return result;
}

std::vector<std::string> ReportSchemas(const std::string& url) {
  std::unique_ptr<PgConnection> db = Connect(url);
  std::vector<std::string> schemas;
  try {
    for (const ado::pg::Row& row :
         db->Query("SELECT nspname FROM pg_namespace WHERE nspname LIKE "
                   "'qdx\\_ua%' ORDER BY nspname")) {
      if (row[0]) schemas.push_back(*row[0]);
    }
  } catch (const PgError& error) {
    RaiseSchemaFailure(url, "list the report schemas", error);
  }
  return schemas;
}

namespace {

// The schemas of `server`'s service in report order.
std::vector<std::string> SchemaNames(std::string_view server, bool is_ftp) {
  std::vector<std::string> schemas;
  for (ReportKind kind : kReportKinds) {
    schemas.push_back(ReportSchemaName(kind, server, is_ftp));
  }
  return schemas;
}

// The tables of each of `schemas` by schema, in one query; a schema that
// does not exist has no entry.
std::map<std::string, std::vector<std::string>> TablesOfSchemas(
    PgConnection& db, const std::vector<std::string>& schemas) {
  std::string names;
  for (size_t i = 1; i <= schemas.size(); ++i) {
    names += (i > 1 ? ", $" : "$") + std::to_string(i);
  }
  std::map<std::string, std::vector<std::string>> tables;
  for (const ado::pg::Row& row : db.Query(
           "SELECT n.nspname, c.relname FROM pg_namespace n LEFT JOIN "
           "pg_class c ON c.relnamespace = n.oid AND c.relkind IN ('r', 'p') "
           "WHERE n.nspname = ANY (ARRAY[" +
               names + "]::text[])",
           {schemas.begin(), schemas.end()})) {
    std::vector<std::string>& of = tables[row[0].value_or("")];
    if (row[1]) of.push_back(*row[1]);
  }
  return tables;
}

FoundSchemas Find(PgConnection& db, const std::string& url,
                  std::string_view server, bool is_ftp) {
  const std::vector<std::string> schemas = SchemaNames(server, is_ftp);
  try {
    const auto tables = TablesOfSchemas(db, schemas);
    FoundSchemas found;
    std::vector<std::string> incomplete, lacking;
    for (size_t i = 0; i < schemas.size(); ++i) {
      auto there = tables.find(schemas[i]);
      if (there == tables.end()) {
        found.missing.push_back(schemas[i]);
        continue;
      }
      for (const std::string& table :
           LackingTables(kReportKinds[i], is_ftp, there->second)) {
        if (incomplete.empty() || incomplete.back() != schemas[i]) {
          incomplete.push_back(schemas[i]);
        }
        lacking.push_back(schemas[i] + "." + table);
      }
    }
    // Rare, so the earlier designs' marks are asked only then.
    if (incomplete.empty()) return found;
    const std::vector<std::string> earlier =
        SchemasOfEarlierDesigns(db, incomplete);
    for (const std::string& table : lacking) {
      if (std::ranges::find(earlier, table.substr(0, table.find('.'))) !=
          earlier.end()) {
        found.lacking.push_back(table);
      }
    }
    return found;
  } catch (const PgError& error) {
    RaiseSchemaFailure(url, "read the report schemas of " + std::string(server),
                       error);
  }
}

}  // namespace

FoundSchemas FindReportSchemas(const std::string& url, std::string_view server,
                               bool is_ftp) {
  return Find(*Connect(url), url, server, is_ftp);
}

std::vector<std::string> MissingReportSchemas(const std::string& url,
                                              std::string_view server,
                                              bool is_ftp) {
  return FindReportSchemas(url, server, is_ftp).missing;
}

std::vector<std::string> PrepareReportSchemas(const std::string& url,
                                              std::string_view server,
                                              bool is_ftp) {
  std::unique_ptr<PgConnection> db = Connect(url);
  std::vector<std::string> missing = Find(*db, url, server, is_ftp).missing;
  if (!missing.empty()) return missing;
  const std::vector<std::string> schemas = SchemaNames(server, is_ftp);
  std::vector<std::string> earlier;
  try {
    earlier = SchemasOfEarlierDesigns(*db, schemas);
  } catch (const PgError& error) {
    RaiseSchemaFailure(url, "read the report schemas of " + std::string(server),
                       error);
  }
  for (size_t i = 0; i < schemas.size(); ++i) {
    if (std::ranges::find(earlier, schemas[i]) != earlier.end()) {
      Upgrade(*db, url, kReportKinds[i], is_ftp, schemas[i]);
    }
  }
  return missing;
}

}  // namespace velnor::reportdb
