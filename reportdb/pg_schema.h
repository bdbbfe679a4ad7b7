// The report databases in PostgreSQL: the four schemas of one server and
// service, named after the SQLite files (lower-cased, without ".mdb"), each
// with the tables and columns of its file.
//
// Differences from the files, all invisible to the statements the
// collector and the report send:
// - Names are lower case ("tblgeneral", "no of hits"); unquoted names fold
//   to it and the engine lowers bracketed and quoted ones.
// - Text columns are of the schema's own type velnor_nocase: text of the
//   "C" collation whose "=" compares the texts with ASCII letters lowered,
//   as SQLite's NOCASE compares ("É" and "é" stay apart, as in the files).
//   The key indexes hold the lowered texts, so that look-ups and joins
//   compare bytes. That "=" is found through the search_path: the engine
//   puts every schema it attaches there; another tool sets it itself.
// - Each table has one column more, "rowid" (a bigserial, after the file's
//   columns): the order rows were written in, which SQLite keeps by itself
//   and the report reads rows by. Its sequence hands each session a block
//   of values at a time, so that a bulk load does not lock the sequence
//   for every row: the values keep the order of the writes (one collector
//   of a server writes at a time, under the run lock) and skip what a
//   session left unused.
// - The counts' table "tblgeneral" leaves half of each page free, so that
//   raising a stored count does not index the row anew; its key index
//   holds the folded URL and the bucket, not the site identifier.
// - The counts' table "tblgeneral" has one more column after rowid,
//   kFoldedKeyColumn, FoldedKey of the row's identifier and URL, so that a
//   join with staged keys compares bytes and folds no text of the stored
//   rows. Our bulk loads write it; a row stored without it (by another
//   writer, or record by record) is filled by FillFoldedKeys, which a run
//   sends before it joins, and a change of identifiers or URLs clears the
//   changed rows' keys for it.
// - Each schema has a function typeof that answers as SQLite's typeof does
//   ('integer', 'real', 'text', 'null'), for the check of counts the
//   in-memory counting makes.
#ifndef VELNOR_REPORTDB_PG_SCHEMA_H_
#define VELNOR_REPORTDB_PG_SCHEMA_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/engine.h"
#include "reportdb/report_files.h"
#include "reportdb/schema.h"

namespace velnor::reportdb {

// The column of the counts' table that holds each row's folded key.
inline constexpr const char* kFoldedKeyColumn = "velnor_key";

// The folded key of a counts row, as the server computes it into
// kFoldedKeyColumn: the identifier's length in bytes, ':', then the
// identifier and the URL with ASCII letters lowered (as lower() folds under
// the "C" collation, and as "=" compares the text columns). Two rows have
// the same folded key exactly when "=" takes their identifiers and their
// URLs for the same.
std::string FoldedKey(std::string_view identifier, std::string_view url);

// FoldedKey as an SQL expression of a counts row's columns, in SQL that
// reads alike directly and through the engine's statements.
std::string FoldedKeyExpression();

// The statement that stores the folded key of each row of the counts'
// table `table` (a name as a statement writes it) that has none; the
// partial index on those rows makes it a look-up of nothing when all
// have one.
std::string FillFoldedKeys(const std::string& table);

// The key index of the counts' table of `kind` (KeyIndexLayout) as
// ado::Engine::EnsureIndex makes it where a run left it out: on its
// columns in a file, and in PostgreSQL as init-db makes it.
ado::IndexDefinition KeyIndexDefinition(ReportKind kind);

// The schema of one report database.
std::string ReportSchemaName(ReportKind kind, std::string_view server,
                             bool is_ftp);

// Makes the schemas of `server`'s service (FTP with `is_ftp`) that do not
// exist in the database `url`, each whole in one transaction. An existing
// schema keeps its rows; one of an earlier design (citext text columns, a
// typeof declared IMMUTABLE, which PostgreSQL cannot inline, full pages, a
// key index with the site identifier, counts without their folded key or
// with one the server computes, no typeof of integers, row identities
// handed out one at a time) is
// brought to the current one in a transaction of its own. Returns the schema
// names made and left, in report order. A table that a schema of an
// earlier design lacks (another tool renamed or dropped it) is made anew,
// empty, in that transaction; one that a schema of the current design
// lacks is not, as a report file's is not. Raises automation::AutomationError
// (permission denied, 70) naming the database and the reason when it cannot
// connect or make a schema.
CreatedDatabases CreateReportSchemas(const std::string& url,
                                     std::string_view server, bool is_ftp);

// Every schema of the database `url` whose name starts as a report
// schema's does ("qdx_ua"), by name. Raises like CreateReportSchemas when
// it cannot connect.
std::vector<std::string> ReportSchemas(const std::string& url);

// What the database holds of the schemas of one server's service.
struct FoundSchemas {
  std::vector<std::string> missing;  // schemas not there, in report order
  // The tables ("schema.table", in report order) that schemas of an earlier
  // design lack, as another tool renamed or dropped them: such a schema
  // cannot be brought to the current design by a run, only by
  // CreateReportSchemas, which makes those tables anew.
  std::vector<std::string> lacking;
};

// What the database `url` holds of the schemas of `server`'s service.
// Raises like CreateReportSchemas.
FoundSchemas FindReportSchemas(const std::string& url, std::string_view server,
                               bool is_ftp);

// The schemas of `server`'s service missing from the database `url`, in
// report order. Raises like CreateReportSchemas when it cannot connect.
std::vector<std::string> MissingReportSchemas(const std::string& url,
                                              std::string_view server,
                                              bool is_ftp);

// MissingReportSchemas for a run that writes into them: when none is
// missing, each of an earlier design is brought to the current one as
// CreateReportSchemas brings it; with one missing nothing is changed.
// Raises like CreateReportSchemas.
std::vector<std::string> PrepareReportSchemas(const std::string& url,
                                              std::string_view server,
                                              bool is_ftp);

}  // namespace velnor::reportdb

#endif  // VELNOR_REPORTDB_PG_SCHEMA_H_
