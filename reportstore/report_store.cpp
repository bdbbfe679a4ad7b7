// The report store's operations. Each one works in the continue-past-errors
// style (CollectLogFileFromDB: jump-to-handler) so that a refused row, a
// failed statement or a missing table or column costs one error-log line and
// never the run.
//
// Every statement a run repeats is a constant text with "?" markers,
// prepared once per connection (commands_) and run with its values bound;
// a statement's text with the values written in is made only for an
// error-log line.
//
// Counting in memory gives the rows record-by-record counting gives, key by
// key, written in the order the keys were first counted. For one key
// counted n times:
// - no stored row: record by record, the first hit appends the row with 1
//   and each later one raises it, so one new row with n;
// - a first stored row with a count c > 0: every later hit writes c + 1,
//   c + 2, ... into all rows of the key, so one update of all of them to
//   c + n;
// - either way a count that would pass the 32-bit maximum fails the run
//   (FailPastMaximum) with the same reason;
// - anything else (a count of 0 or below, which record by record reads as a
//   missing row; a count that does not read as a 32-bit number; a refused
//   row or statement): the n hits are replayed record by record, with the
//   error-log lines that gives.
#include "reportstore/report_store.h"

#include <initializer_list>
#include <limits>
#include <string_view>
#include <utility>

#include "dbsupport/db_support.h"
#include "dbsupport/error_log.h"
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "reportdb/report_files.h"
#include "reportdb/status_labels.h"
#include "reportstore/table_sql.h"

namespace velnor {
namespace {

using automation::Err;
using automation::ResumeNext;
using automation::Trim;
using automation::Variant;
using table_sql::kPlainLookup;
using table_sql::kPlainUpdate;
using table_sql::kStatusTable;
using table_sql::kTables;
using table_sql::TableOfKind;

// An unset object reference fails like an automation call on nothing.
template <class T>
T& Deref(const std::shared_ptr<T>& object) {
  if (!object) automation::Raise(automation::kErrObjectNotSet);
  return *object;
}

// Sets one column of the pending row; a failure stays pending in Err().
void SetField(const std::shared_ptr<ado::Recordset>& rs,
              std::string_view column, const Variant& value) {
  ResumeNext([&] { Deref(rs).Fields(column).SetValue(value); });
}
void SetTextField(const std::shared_ptr<ado::Recordset>& rs,
                  std::string_view column, std::string_view text) {
  ResumeNext([&] { Deref(rs).Fields(column).SetText(text); });
}

// Starts a new row of a report table with the columns every such row
// begins with: server, site identifier and site name.
void BeginNewRow(const std::shared_ptr<ado::Recordset>& rs,
                 std::string_view server, std::string_view identifier,
                 std::string_view site_name_column,
                 std::string_view site_name) {
  Err().Clear();
  ResumeNext([&] { Deref(rs).AddNew(); });
  SetTextField(rs, "Server name", server);
  SetTextField(rs, "Identifier", identifier);
  SetTextField(rs, site_name_column, site_name);
}

// Stores the pending row. A refused row is logged with `procedure` and the
// source made of `source_parts` (joined only then) and cancelled, so the
// recordset can take the next one.
void StoreNewRow(const std::shared_ptr<ado::Recordset>& rs,
                 std::string_view procedure,
                 std::initializer_list<std::string_view> source_parts) {
  Err().Clear();
  ResumeNext([&] { Deref(rs).Update(); });
  if (Err().Number() == 0) return;
  std::string source;
  for (std::string_view part : source_parts) source += part;
  WriteErrorLog(Err().Number(), Err().Description(), source, procedure);
  ResumeNext([&] { Deref(rs).CancelUpdate(); });
}

constexpr int32_t kMaxCount = std::numeric_limits<int32_t>::max();

}  // namespace

ReportStore::ReportStore(const std::string& mstrServerName,
                         const bool& mblnIsFTPCollection,
                         CountingSettings counting)
    : mstrServerName_(mstrServerName),
      mblnIsFTPCollection_(mblnIsFTPCollection),
      counting_(counting) {}

ReportStore::~ReportStore() = default;

std::unique_ptr<ado::Command>& ReportStore::CommandSlot(
    const std::shared_ptr<ado::Connection>& connection, std::string_view sql) {
  return commands_[{connection.get(), std::string(sql)}];
}

ado::Command& ReportStore::PreparedCommand(
    const std::shared_ptr<ado::Connection>& connection, std::string_view sql) {
  std::unique_ptr<ado::Command>& command = CommandSlot(connection, sql);
  if (!command || !command->Usable()) {
    command.reset();
    command = std::make_unique<ado::Command>(connection, sql);
  }
  return *command;
}

void ReportStore::ReleaseStatements() { commands_.clear(); }

// Runs the count update `sql` with `values`; a failure is logged under
// `procedure` with the source source_head + source_tail.
void ReportStore::ExecuteUpdate(std::shared_ptr<ado::Connection>& connection,
                                std::string_view sql,
                                const std::vector<Variant>& values,
                                std::string_view source_head,
                                std::string_view source_tail,
                                std::string_view procedure) {
  Err().Clear();
  ResumeNext([&] {
    ado::Command& update = PreparedCommand(connection, sql);
    for (size_t i = 0; i < values.size(); ++i) {
      update.SetParameter(static_cast<int>(i + 1), values[i]);
    }
    update.Execute();
  });
  if (Err().Number() == 0) return;
  std::string source(source_head);
  source += source_tail;
  WriteErrorLog(Err().Number(), Err().Description(), source, procedure);
}

// The arguments are typed, never null, so the null defaults a variant
// argument would need are left out here and in DumpStatusData.
void ReportStore::DumpDataIntoDB(
    std::shared_ptr<ado::Connection>& connection,
    std::shared_ptr<ado::Recordset>& rs, const std::string& site_name,
    const std::string& site_identifier, const std::string& url,
    const std::string& site_column, const std::string& report_type,
    const std::string& weekday_name, int32_t weekday, int32_t hour,
    const std::string& month_name, int32_t month) {
  // Report kinds may arrive with surrounding blanks; the bucket condition
  // ignores them (the new-row columns do not).
  const size_t table = TableOfKind(Trim(report_type, " "));
  std::vector<Variant> key = {Variant(std::string_view(site_identifier)),
                              Variant(std::string_view(url))};
  switch (table) {
    case 0:
      key.emplace_back(std::string_view(weekday_name));
      break;
    case 1:
      key.emplace_back(std::string_view(month_name));
      break;
    case 2:
      key.emplace_back(hour);
      break;
  }
  const bool bucketed = table < kTables.size();
  const int32_t count = GetNumberOfHits(
      connection, bucketed ? kTables[table].lookup : kPlainLookup, key);
  if (count == 0) {
    BeginNewRow(rs, mstrServerName_, site_identifier, site_column, site_name);
    SetTextField(rs, "URL", url);
    SetField(rs, "No of Hits", Variant(int32_t{1}));
    // The new row's bucket columns follow the report kind exactly as given.
    if (report_type == "Day of Week") {
      SetField(rs, "Sort Field", Variant(weekday));
      SetTextField(rs, "Day of week", weekday_name);
    } else if (report_type == "Hour") {
      SetField(rs, "Hours", Variant(hour));
    } else if (report_type == "Month") {
      SetField(rs, "Sort Field", Variant(month));
      SetTextField(rs, "Months", month_name);
    }
    StoreNewRow(rs, "DumpDataIntoDB",
                {kLogParserReportSourcePrefix, report_type, "(Update)"});
    return;
  }
  if (count == kMaxCount) {
    FailPastMaximum(table, connection, site_identifier, url,
                    table == 0 ? weekday_name : month_name, hour);
    return;
  }
  key.insert(key.begin(), Variant(count + 1));
  ExecuteUpdate(connection, bucketed ? kTables[table].update : kPlainUpdate,
                key, kLogParserReportSourcePrefix, report_type,
                "DumpDataIntoDB");
}

void ReportStore::FailPastMaximum(size_t table,
                                  const std::shared_ptr<ado::Connection>& cn,
                                  std::string_view identifier,
                                  std::string_view url,
                                  std::string_view bucket_name,
                                  int32_t bucket) {
  past_maximum_ = true;
  std::string key = "site " + std::string(identifier) + ", " + std::string(url);
  if (table < 2) key += ", " + std::string(bucket_name);
  if (table == 2) key += ", hour " + std::to_string(bucket);
  if (table == kStatusTable) key += ", status " + std::to_string(bucket);
  const std::string database = cn ? cn->path() : std::string("?");
  ResumeNext([&] {
    Deref(cn).FailTransaction(automation::AutomationError(
        automation::kErrOverflow,
        "Overflow: the count of " + key + " in " + database + " reached " +
            std::to_string(kMaxCount) +
            ", the most its [No of Hits] column holds, and the run has more "
            "hits of it"));
  });
  Err().Clear();
}

std::string_view ReportStore::BucketName(size_t table, int32_t bucket) const {
  if (table == 0) return weekday_names_[static_cast<size_t>(bucket - 1)];
  if (table == 1) return month_names_[static_cast<size_t>(bucket - 1)];
  return "";
}

int32_t ReportStore::GetNumberOfHits(
    std::shared_ptr<ado::Connection>& connection, std::string_view sql,
    const std::vector<Variant>& values) {
  Err().Clear();
  int32_t hits = 0;
  std::unique_ptr<ado::Command>& lookup = CommandSlot(connection, sql);
  if (OpenCommandEx(lookup, sql, connection, values)) {
    if (!lookup->Eof()) {
      ResumeNext([&] { hits = automation::CLng(lookup->Value(0)); });
      if (Err().Number() != 0) {
        WriteErrorLog(Err().Number(), Err().Description(), kLogParserSource,
                      "GetNumberOfHits");
      }
    }
  }
  Err().Clear();
  return hits;
}

void ReportStore::DumpStatusData(std::shared_ptr<ado::Connection>& connection,
                                 std::shared_ptr<ado::Recordset>& rs,
                                 const std::string& site_name,
                                 const std::string& site_identifier,
                                 const std::string& url, int32_t status,
                                 const std::string& site_column) {
  const auto [label, sort] = reportdb::StatusLabelOf(site_column, status);
  std::vector<Variant> key = {Variant(std::string_view(site_identifier)),
                              Variant(std::string_view(url)), Variant(status)};
  const int32_t count =
      GetNumberOfHits(connection, kTables[kStatusTable].lookup, key);
  if (count == 0) {
    BeginNewRow(rs, mstrServerName_, site_identifier, site_column, site_name);
    SetField(rs, "Sort Field", Variant(sort));
    SetTextField(rs, "URL", url);
    SetTextField(rs, "Status", label);
    SetField(rs, "Status code", Variant(status));
    SetField(rs, "No of Hits", Variant(int32_t{1}));
    StoreNewRow(rs, "DumpStatusData", {kLogParserUpdateSource});
    return;
  }
  if (count == kMaxCount) {
    FailPastMaximum(kStatusTable, connection, site_identifier, url, "", status);
    return;
  }
  key.insert(key.begin(), Variant(count + 1));
  ExecuteUpdate(connection, kTables[kStatusTable].update, key, kLogParserSource,
                "", "DumpStatusData");
}

void ReportStore::AddSitesAccessInfo(
    std::shared_ptr<ado::Connection>& connection, const std::string& site_name,
    const std::string& site_identifier, int32_t hits,
    const std::string& site_column) {
  std::shared_ptr<ado::Recordset> rs;
  if (OpenRecordSetEx(rs, "select * from tblTotalAccess", connection,
                      ado::adOpenForwardOnly, ado::adLockOptimistic,
                      ado::adUseClient)) {
    BeginNewRow(rs, mstrServerName_, site_identifier, site_column, site_name);
    SetField(rs, "No of Hits", Variant(hits));
    StoreNewRow(rs, "AddSitesAccessInfo", {kLogParserSource});
  }
  CloseRecordSet(rs, true);
}

int32_t ReportStore::GetLogFileCountFromDB(
    std::shared_ptr<ado::Connection>& objCn) {
  int32_t count = 0;
  // The server name goes in unquoted, as the registry has always been
  // queried: a name with an apostrophe makes the statement fail.
  std::string sql =
      "select count(*) as RecCount from tblLogFiles where [Server name] = '";
  sql += mstrServerName_;
  sql += '\'';
  std::shared_ptr<ado::Recordset> rs;
  if (OpenRecordSetEx(rs, sql, objCn, ado::adOpenForwardOnly,
                      ado::adLockReadOnly, ado::adUseServer)) {
    Err().Clear();
    ResumeNext([&] {
      if (!rs->Eof()) count = automation::CLng(rs->Fields("RecCount").Value());
    });
    if (Err().Number() != 0) {
      WriteErrorLog(Err().Number(), Err().Description(), kLogParserSource,
                    "GetLogFileCountFromDB");
    }
  }
  CloseRecordSet(rs, true);
  return count;
}

automation::StringArray ReportStore::CollectLogFileFromDB(
    std::shared_ptr<ado::Connection>& objCn, const std::string& strSiteName,
    const std::string& /*strSiteIdentifier*/,
    const std::string& strSiteNameColumn) {
  automation::ErrorHandler on_error([] {
    WriteErrorLog(Err().Number(), Err().Description(), kLogParserSource,
                  "CollectLogFileFromDB");
  });
  std::string joined;
  const std::string sql =
      "Select * from tblLogFiles where [" + strSiteNameColumn + "] = ?";
  std::unique_ptr<ado::Command>& query = CommandSlot(objCn, sql);
  bool opened = false;
  on_error([&] {
    opened = OpenCommandEx(query, sql, objCn,
                           {Variant(std::string_view(strSiteName))});
  });
  if (opened) {
    Err().Clear();
    bool at_end = true;
    on_error([&] { at_end = query->Eof(); });
    while (!at_end) {
      std::string name;
      on_error([&] {
        name = Trim(automation::CStr(NullToDefault(
                        query->Value("Log File Name"), Variant(""))),
                    " ");
      });
      if (!joined.empty()) joined += ',';
      joined += name;
      // A cursor that cannot move or report its end would repeat this row
      // forever; the list ends there instead.
      at_end = true;
      if (!on_error([&] { query->MoveNext(); })) break;
      on_error([&] { at_end = query->Eof(); });
    }
  }
  return automation::Split(joined, ",");
}

void ReportStore::DumpLogFilesIntoDB(std::shared_ptr<ado::Connection>& objCn,
                                     const std::string& strSiteName,
                                     const std::string& strSiteIdentifier,
                                     const Variant& varLogFileNames) {
  Err().Clear();
  const std::string_view site_column =
      reportdb::SiteColumn(mblnIsFTPCollection_);
  std::shared_ptr<ado::Recordset> rs;
  if (!OpenRecordSetEx(rs, "select * from tblLogFiles", objCn,
                       ado::adOpenDynamic, ado::adLockPessimistic,
                       ado::adUseServer)) {
    WriteErrorLog(
        Err().Number(),
        mblnIsFTPCollection_ ? "RecordSetFail-FTP" : "RecordSetFail-Web",
        kLogParserSource, "DumpLogFilesIntoDB");
  } else if (const automation::StringArray* names =
                 varLogFileNames.AsStringArray()) {
    for (const std::string& name : *names) {
      Err().Clear();
      ResumeNext([&] { rs->AddNew(); });
      SetField(rs, "Server name", Variant(std::string_view(mstrServerName_)));
      SetField(rs, "Identifier", Variant(std::string_view(strSiteIdentifier)));
      SetField(rs, site_column, Variant(std::string_view(strSiteName)));
      SetField(rs, "Log File Name", Variant(std::string_view(name)));
      ResumeNext([&] { rs->Update(); });
      if (Err().Number() != 0) {
        WriteErrorLog(Err().Number(), Err().Description(), kLogParserSource,
                      "DumpLogFilesIntoDB-Update");
      }
    }
  }
  CloseRecordSet(rs, true);
}

}  // namespace velnor
