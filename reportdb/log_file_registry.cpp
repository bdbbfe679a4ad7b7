// The registry through the session's statements, with bound values: names
// of sites and files are the user's and the server's, never SQL.
#include "reportdb/log_file_registry.h"

#include <memory>

namespace velnor::reportdb {

LogFileRegistry::LogFileRegistry(ado::Session& session, std::string schema,
                                 std::string site_column)
    : session_(session),
      schema_(std::move(schema)),
      site_column_(std::move(site_column)) {}

int64_t LogFileRegistry::ServerFileCount(std::string_view server) {
  std::unique_ptr<ado::Statement> count = session_.Prepare(
      "select count(*) from tblLogFiles where [Server name] = ?", schema_);
  count->BindText(1, server);
  return count->Step() ? count->Integer(0) : 0;
}

std::vector<std::string> LogFileRegistry::SiteFiles(
    std::string_view site_name) {
  std::unique_ptr<ado::Statement> select =
      session_.Prepare("select [Log File Name] from tblLogFiles where [" +
                           site_column_ + "] = ?",
                       schema_);
  select->BindText(1, site_name);
  std::vector<std::string> names;
  while (select->Step()) {
    if (select->Type(0) != ado::ColumnType::kNull) {
      names.emplace_back(select->Text(0));
    }
  }
  return names;
}

void LogFileRegistry::Register(std::string_view server,
                               std::string_view identifier,
                               std::string_view site_name,
                               const std::vector<std::string>& names) {
  std::unique_ptr<ado::Statement> insert = session_.Prepare(
      "insert into tblLogFiles ([Server name], Identifier, [" + site_column_ +
          "], [Log File Name]) values (?, ?, ?, ?)",
      schema_);
  for (const std::string& name : names) {
    insert->Reset();
    insert->BindText(1, server);
    insert->BindText(2, identifier);
    insert->BindText(3, site_name);
    insert->BindText(4, name);
    insert->Step();
  }
}

}  // namespace velnor::reportdb
