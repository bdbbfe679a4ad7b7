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

std::string Table(std::string_view table,
                  std::initializer_list<std::string> columns) {
  std::string sql = "CREATE TABLE " + Quoted(table) + " (";
  bool first = true;
  for (const std::string& column : columns) {
    if (!first) sql += ", ";
    sql += column;
    first = false;
  }
  return sql + ");\n";
}

std::string Index(std::string_view name, std::string_view table,
                  std::initializer_list<std::string_view> columns) {
  std::string sql =
      "CREATE INDEX " + Quoted(name) + " ON " + Quoted(table) + " (";
  bool first = true;
  for (std::string_view column : columns) {
    if (!first) sql += ", ";
    sql += Quoted(column);
    first = false;
  }
  return sql + ");\n";
}

std::string GeneralTable(ReportKind kind, const std::string& site) {
  const char* kKeyIndex = "tblGeneral_Key";
  switch (kind) {
    case ReportKind::kDayOfWeek:
      return Table("tblGeneral",
                   {Text("Server name"), Text("Identifier"), Text(site),
                    Text("URL"), Long("No of Hits"), Long("Sort Field"),
                    Text("Day of week")}) +
             Index(kKeyIndex, "tblGeneral", {"Identifier", "URL", "Day of week"});
    case ReportKind::kHitsByMonth:
      return Table("tblGeneral",
                   {Text("Server name"), Text("Identifier"), Text(site),
                    Text("URL"), Long("No of Hits"), Long("Sort Field"),
                    Text("Months")}) +
             Index(kKeyIndex, "tblGeneral", {"Identifier", "URL", "Months"});
    case ReportKind::kHitsByHour:
      return Table("tblGeneral",
                   {Text("Server name"), Text("Identifier"), Text(site),
                    Text("URL"), Long("No of Hits"), Long("Sort Field"),
                    Long("Hours")}) +
             Index(kKeyIndex, "tblGeneral", {"Identifier", "URL", "Hours"});
    case ReportKind::kHitsByStatus:
      return Table("tblGeneral",
                   {Text("Server name"), Text("Identifier"), Text(site),
                    Long("Sort Field"), Text("URL"), Text("Status"),
                    Long("Status code"), Long("No of Hits")}) +
             Index(kKeyIndex, "tblGeneral",
                   {"Identifier", "URL", "Status code"});
  }
  return "";
}

// The hits-by-hour file also keeps the site totals and the log-file
// registry of the server.
std::string HourExtras(const std::string& site) {
  return Table("tblTotalAccess", {Text("Server name"), Text("Identifier"),
                                  Text(site), Long("No of Hits")}) +
         Table("tblLogFiles", {Text("Server name"), Text("Identifier"),
                               Text(site), Text("Log File Name")}) +
         Index("tblLogFiles_Server", "tblLogFiles", {"Server name"}) +
         Index("tblLogFiles_Site", "tblLogFiles", {site});
}

void WriteSchema(const std::string& path, const std::string& schema) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close_v2);
  char* message = nullptr;
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db,
                      ("BEGIN;\n" + schema + "COMMIT;")
                          .c_str(),
                      nullptr, nullptr, &message);
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
  struct stat info{};
  if (::stat(db_dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    Raise(automation::kErrPathNotFound,
          "Path not found: the database folder '" + db_dir +
              "' does not exist or is not a folder. Create it first.");
  }
  std::string site = is_ftp ? "FTP Site Name" : "Web Site Name";
  CreatedDatabases result;
  for (ReportKind kind : kReportKinds) {
    std::string path =
        db_dir + "/" + ReportDatabaseFileName(kind, server, is_ftp);
    std::string schema = GeneralTable(kind, site);
    if (kind == ReportKind::kHitsByHour) schema += HourExtras(site);
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
