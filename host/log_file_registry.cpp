// The registry through plain SQLite, with bound values: names of sites and
// files are the user's and the server's, never SQL.
#include "host/log_file_registry.h"

#include <sqlite3.h>

#include "platform/automation/error_state.h"

namespace velnor::host {

namespace {

// Waits this long for a collection run that holds the write lock.
constexpr int kBusyTimeoutMs = 5000;

}  // namespace

// A prepared statement, finalized on every way out.
struct LogFileRegistry::Statement {
  Statement(LogFileRegistry& registry, const std::string& sql)
      : registry(registry) {
    if (sqlite3_prepare_v2(registry.db_, sql.c_str(), -1, &statement,
                           nullptr) != SQLITE_OK) {
      registry.Fail("read");
    }
  }
  ~Statement() { sqlite3_finalize(statement); }
  void Bind(int index, std::string_view text) {
    sqlite3_bind_text(statement, index, text.data(),
                      static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  // True for a row, false at the end.
  bool Step() {
    int rc = sqlite3_step(statement);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) registry.Fail("use");
    return rc == SQLITE_ROW;
  }

  LogFileRegistry& registry;
  sqlite3_stmt* statement = nullptr;
};

LogFileRegistry::LogFileRegistry(const std::string& db_file,
                                 std::string site_column)
    : path_(db_file), site_column_(std::move(site_column)) {
  if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) !=
      SQLITE_OK) {
    Fail("open");
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

LogFileRegistry::~LogFileRegistry() { sqlite3_close(db_); }

void LogFileRegistry::Fail(const std::string& action) {
  automation::Raise(automation::kErrPermissionDenied,
                    "Cannot " + action + " the log-file registry in " + path_ +
                        ": " + sqlite3_errmsg(db_) +
                        ". Check that it is a report database made by velnor "
                        "init-db.");
}

int64_t LogFileRegistry::ServerFileCount(std::string_view server) {
  Statement count(*this,
                  "SELECT count(*) FROM tblLogFiles WHERE [Server name] = ?1 "
                  "COLLATE NOCASE");
  count.Bind(1, server);
  count.Step();
  return sqlite3_column_int64(count.statement, 0);
}

std::vector<std::string> LogFileRegistry::SiteFiles(
    std::string_view site_name) {
  Statement select(*this, "SELECT [Log File Name] FROM tblLogFiles WHERE [" +
                              site_column_ + "] = ?1 COLLATE NOCASE");
  select.Bind(1, site_name);
  std::vector<std::string> names;
  while (select.Step()) {
    const unsigned char* name = sqlite3_column_text(select.statement, 0);
    if (name != nullptr)
      names.emplace_back(reinterpret_cast<const char*>(name));
  }
  return names;
}

void LogFileRegistry::Register(std::string_view server,
                               std::string_view identifier,
                               std::string_view site_name,
                               const std::vector<std::string>& names) {
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) !=
      SQLITE_OK) {
    Fail("change");
  }
  try {
    Statement insert(*this,
                     "INSERT INTO tblLogFiles ([Server name], Identifier, [" +
                         site_column_ +
                         "], [Log File Name]) "
                         "VALUES (?1, ?2, ?3, ?4)");
    for (const std::string& name : names) {
      sqlite3_reset(insert.statement);
      insert.Bind(1, server);
      insert.Bind(2, identifier);
      insert.Bind(3, site_name);
      insert.Bind(4, name);
      insert.Step();
    }
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      Fail("change");
    }
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

}  // namespace velnor::host
