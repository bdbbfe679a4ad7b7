// The report tables. Each look-up key the collector uses has an index.
#include "reportdb/table_layout.h"

namespace velnor::reportdb {
namespace {

ColumnLayout Text(std::string name) { return {std::move(name), false}; }
ColumnLayout Long(std::string name) { return {std::move(name), true}; }

TableLayout General(ReportKind kind, const std::string& site) {
  std::vector<ColumnLayout> head = {Text("Server name"), Text("Identifier"),
                                    Text(site)};
  auto with = [&](std::vector<ColumnLayout> tail) {
    std::vector<ColumnLayout> columns = head;
    columns.insert(columns.end(), tail.begin(), tail.end());
    return columns;
  };
  const char* kKey = "tblGeneral_Key";
  switch (kind) {
    case ReportKind::kDayOfWeek:
      return {"tblGeneral",
              with({Text("URL"), Long("No of Hits"), Long("Sort Field"),
                    Text("Day of week")}),
              {{kKey, {"Identifier", "URL", "Day of week"}}}};
    case ReportKind::kHitsByMonth:
      return {"tblGeneral",
              with({Text("URL"), Long("No of Hits"), Long("Sort Field"),
                    Text("Months")}),
              {{kKey, {"Identifier", "URL", "Months"}}}};
    case ReportKind::kHitsByHour:
      return {"tblGeneral",
              with({Text("URL"), Long("No of Hits"), Long("Sort Field"),
                    Long("Hours")}),
              {{kKey, {"Identifier", "URL", "Hours"}}}};
    case ReportKind::kHitsByStatus:
      break;
  }
  return {"tblGeneral",
          with({Long("Sort Field"), Text("URL"), Text("Status"),
                Long("Status code"), Long("No of Hits")}),
          {{kKey, {"Identifier", "URL", "Status code"}}}};
}

}  // namespace

IndexLayout KeyIndexLayout(ReportKind kind) {
  return General(kind, "").indexes.front();
}

std::vector<TableLayout> ReportTableLayouts(ReportKind kind, bool is_ftp) {
  const std::string site(SiteColumn(is_ftp));
  std::vector<TableLayout> tables = {General(kind, site)};
  if (kind == ReportKind::kHitsByHour) {
    // The hits-by-hour database also keeps the site totals and the
    // log-file registry of the server.
    tables.push_back({"tblTotalAccess",
                      {Text("Server name"), Text("Identifier"), Text(site),
                       Long("No of Hits")},
                      {}});
    tables.push_back({"tblLogFiles",
                      {Text("Server name"), Text("Identifier"), Text(site),
                       Text("Log File Name")},
                      {{"tblLogFiles_Server", {"Server name"}},
                       {"tblLogFiles_Site", {site}}}});
  }
  return tables;
}

}  // namespace velnor::reportdb
