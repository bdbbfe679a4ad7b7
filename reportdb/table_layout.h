// The tables of each report database, their columns in order and their
// indexes: one description that the SQLite files and the PostgreSQL
// schemas are both made from, and that the copy between them reads.
#ifndef VELNOR_REPORTDB_TABLE_LAYOUT_H_
#define VELNOR_REPORTDB_TABLE_LAYOUT_H_

#include <string>
#include <vector>

#include "reportdb/report_files.h"

namespace velnor::reportdb {

struct ColumnLayout {
  std::string name;
  bool is_long = false;  // a 32-bit whole number; else text
};

struct IndexLayout {
  std::string name;
  std::vector<std::string> columns;
};

struct TableLayout {
  std::string name;
  std::vector<ColumnLayout> columns;
  std::vector<IndexLayout> indexes;
};

// The tables of the database of `kind` for the web service (FTP with
// `is_ftp`): tblGeneral, and for the hits-by-hour database also
// tblTotalAccess and tblLogFiles.
std::vector<TableLayout> ReportTableLayouts(ReportKind kind, bool is_ftp);

// The index of tblGeneral in the database of `kind` that a look-up of one
// key (identifier, URL, bucket) uses.
IndexLayout KeyIndexLayout(ReportKind kind);

}  // namespace velnor::reportdb

#endif  // VELNOR_REPORTDB_TABLE_LAYOUT_H_
