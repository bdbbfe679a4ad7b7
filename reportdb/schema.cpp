// Making the report databases. Every file is built complete under a
// temporary name in the target folder and then hard-linked to its final
// name, which fails when that name exists: so an existing database is never
// touched, even by a concurrent init-db, and no half-made file is left.
#include "reportdb/schema.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/automation/error_state.h"
#include "reportdb/table_layout.h"

namespace velnor::reportdb {
namespace {

using automation::Raise;

std::string Quoted(std::string_view name) {
  std::string quoted(1, '"');
  quoted.append(name);
  quoted += '"';
  return quoted;
}

std::string Text(std::string_view name) {
  return Quoted(name) + " TEXT COLLATE NOCASE";
}

// Jet's Long: the named constraint makes a refused row say which column
// and why.
std::string Long(std::string_view name) {
  std::string column = Quoted(name);
  return column + " INTEGER CONSTRAINT \"[" + std::string(name) +
         "] holds a whole number from -2147483648 to 2147483647\" CHECK (" +
         column + " IS NULL OR (typeof(" + column + ") = 'integer' AND " +
         column + " BETWEEN -2147483648 AND 2147483647))";
}

// The statements that make the tables of the database of `kind`.
std::string Schema(ReportKind kind, bool is_ftp) {
  std::string sql;
  for (const TableLayout& table : ReportTableLayouts(kind, is_ftp)) {
    sql += "CREATE TABLE " + Quoted(table.name) + " (";
    for (size_t i = 0; i < table.columns.size(); ++i) {
      const ColumnLayout& column = table.columns[i];
      if (i > 0) sql += ", ";
      sql += column.is_long ? Long(column.name) : Text(column.name);
    }
    sql += ");\n";
    for (const IndexLayout& index : table.indexes) {
      sql += "CREATE INDEX " + Quoted(index.name) + " ON " +
             Quoted(table.name) + " (";
      for (size_t i = 0; i < index.columns.size(); ++i) {
        sql += (i > 0 ? ", " : "") + Quoted(index.columns[i]);
      }
      sql += ");\n";
    }
  }
  return sql;
}

void WriteSchema(const std::string& path, const std::string& schema) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close_v2);
  char* message = nullptr;
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db, ("BEGIN;\n" + schema + "COMMIT;").c_str(), nullptr,
                      nullptr, &message);
  }
  if (rc != SQLITE_OK) {
    std::string reason = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    Raise(automation::kErrPermissionDenied,
          "Could not write the tables of '" + path + "': " + reason +
              ". Check the folder's free space and permissions.");
  }
}

// Builds the database in a temporary file of `dir` and links it to `path`.
// Returns false when `path` already exists.
bool MakeDatabase(const std::string& dir, const std::string& path,
                  const std::string& schema) {
  std::string temp = dir + "/.velnor-init-db-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    Raise(automation::kErrPermissionDenied,
          "Could not create a file in '" + dir + "': " + std::strerror(errno) +
              ". Check the folder's permissions.");
  }
  ::fchmod(fd, 0644);
  ::close(fd);
  struct Remover {
    std::string path;
    ~Remover() { ::unlink(path.c_str()); }
  } remover{temp};
  WriteSchema(temp, schema);
  if (::link(temp.c_str(), path.c_str()) == 0) return true;
  if (errno == EEXIST) return false;
  Raise(automation::kErrPermissionDenied,
        "Could not create '" + path + "': " + std::strerror(errno) +
            ". Check the folder's permissions.");
}

}  // namespace

CreatedDatabases CreateReportDatabases(const std::string& db_dir,
                                       std::string_view server, bool is_ftp) {
  struct stat info {};
  if (::stat(db_dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    Raise(automation::kErrPathNotFound,
          "Path not found: the database folder '" + db_dir +
              "' does not exist or is not a folder. Create it first.");
  }
  CreatedDatabases result;
  for (ReportKind kind : kReportKinds) {
    std::string path =
        db_dir + "/" + ReportDatabaseFileName(kind, server, is_ftp);
    std::string schema = Schema(kind, is_ftp);
    bool exists = ::access(path.c_str(), F_OK) == 0;
    if (!exists && MakeDatabase(db_dir, path, schema)) {
      result.made.push_back(path);
    } else {
      result.left.push_back(path);
    }
  }
  return result;
}

}  // namespace velnor::reportdb
