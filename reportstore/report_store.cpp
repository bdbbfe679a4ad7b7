// The report store's operations. Each one works in the continue-past-errors
// style (CollectLogFileFromDB: jump-to-handler) so that a refused row, a
// failed statement or a missing table or column costs one error-log line and
// never the run.
//
// DumpDataIntoDB and DumpStatusData run four times per counted log record;
// they build each statement in one reserved string and reuse its buffer for
// the update, so a hit costs the database work and little else.
#include "reportstore/report_store.h"

#include <charconv>
#include <initializer_list>
#include <limits>
#include <string_view>
#include <utility>

#include "dbsupport/db_support.h"
#include "dbsupport/error_log.h"
#include "platform/automation/error_state.h"
#include "reportdb/status_labels.h"

namespace velnor {
namespace {

using automation::Err;
using automation::ResumeNext;
using automation::Variant;

constexpr std::string_view kSource = "VELNORLogAnalysis-LogParser";
constexpr std::string_view kDumpSourcePrefix = "VELNORLogAnalysis-LogParser - ";

constexpr std::string_view kLookupPrefix =
    "select [No of Hits] from tblGeneral where [Identifier]=";
constexpr std::string_view kUpdatePrefix =
    "Update tblgeneral set [No of Hits]= ";

void AppendNumber(std::string& sql, int32_t number) {
  char digits[16];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, number);
  sql.append(digits, end);
}

// Report kinds may arrive with surrounding blanks; the bucket condition
// ignores them (the new-row columns do not).
std::string_view TrimBlanks(std::string_view text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// The " And ..." test of a report kind's time bucket; empty for a kind that
// has none.
void AppendBucketCondition(std::string& sql, std::string_view kind,
                           const std::string& strWeekDayName, int32_t lHour,
                           const std::string& strMonthName) {
  if (kind == "Day of Week") {
    sql += " And [Day of week] = ";
    AppendQuotedSQLString(sql, strWeekDayName);
  } else if (kind == "Hour") {
    sql += " And Hours = ";
    AppendNumber(sql, lHour);
  } else if (kind == "Month") {
    sql += " And [Months] = ";
    AppendQuotedSQLString(sql, strMonthName);
  }
}

// An unset object reference fails like an automation call on nothing.
template <class T>
T& Deref(const std::shared_ptr<T>& object) {
  if (!object) automation::Raise(automation::kErrObjectNotSet);
  return *object;
}

// Sets one column of the pending row; a failure stays pending in Err().
void SetField(const std::shared_ptr<ado::Recordset>& objRs,
              std::string_view column, const Variant& value) {
  ResumeNext([&] { Deref(objRs).Fields(column).SetValue(value); });
}
void SetTextField(const std::shared_ptr<ado::Recordset>& objRs,
                  std::string_view column, std::string_view text) {
  ResumeNext([&] { Deref(objRs).Fields(column).SetText(text); });
}

// Stores the pending row. A refused row is logged with `procedure` and the
// source made of `source_parts` (joined only then) and cancelled, so the
// recordset can take the next one.
void StoreNewRow(const std::shared_ptr<ado::Recordset>& objRs,
                 std::string_view procedure,
                 std::initializer_list<std::string_view> source_parts) {
  Err().Clear();
  ResumeNext([&] { Deref(objRs).Update(); });
  if (Err().Number() == 0) return;
  std::string source;
  for (std::string_view part : source_parts) source += part;
  WriteErrorLog(Err().Number(), Err().Description(), source, procedure);
  ResumeNext([&] { Deref(objRs).CancelUpdate(); });
}

// Runs a count update; a failure is logged under `procedure` with the source
// source_head + source_tail (joined only then, off the hot path).
void ExecuteUpdate(std::shared_ptr<ado::Connection>& objCn,
                   const std::string& sql, std::string_view source_head,
                   std::string_view source_tail, std::string_view procedure) {
  Err().Clear();
  ResumeNext([&] { Deref(objCn).Execute(sql); });
  if (Err().Number() == 0) return;
  std::string source(source_head);
  source += source_tail;
  WriteErrorLog(Err().Number(), Err().Description(), source, procedure);
}

// count + 1; a count at the 32-bit maximum overflows (6), so the caller's
// statement is skipped and the count stays where it is.
int32_t NextCount(int32_t count) {
  if (count == std::numeric_limits<int32_t>::max()) {
    automation::Raise(automation::kErrOverflow);
  }
  return count + 1;
}

void StartUpdate(std::string& sql, int32_t count) {
  int32_t new_count = count;
  ResumeNext([&] { new_count = NextCount(count); });
  sql.clear();
  sql += kUpdatePrefix;
  AppendNumber(sql, new_count);
  sql += " where ";
}

}  // namespace

ReportStore::ReportStore(const std::string& mstrServerName,
                         const bool& mblnIsFTPCollection)
    : mstrServerName_(mstrServerName),
      mblnIsFTPCollection_(mblnIsFTPCollection) {}

// The arguments are typed, never null, so the null defaults a variant
// argument would need are left out here and in DumpStatusData.
void ReportStore::DumpDataIntoDB(
    std::shared_ptr<ado::Connection>& objCn,
    std::shared_ptr<ado::Recordset>& objRs, const std::string& strSiteName,
    const std::string& strSiteIdentifier, const std::string& strURL,
    const std::string& strSiteNameColumn, const std::string& strReportType,
    const std::string& strWeekDayName, int32_t lWeekDay, int32_t lHour,
    const std::string& strMonthName, int32_t lMonth) {
  const std::string_view bucket_kind = TrimBlanks(strReportType);

  // Room for the update too, whose literals may all be doubled.
  std::string sql;
  sql.reserve(kUpdatePrefix.size() +
              2 * (strSiteIdentifier.size() + strURL.size() +
                   strWeekDayName.size() + strMonthName.size()) +
              96);
  sql += kLookupPrefix;
  AppendQuotedSQLString(sql, strSiteIdentifier);
  sql += " And URL = ";
  AppendQuotedSQLString(sql, strURL);
  AppendBucketCondition(sql, bucket_kind, strWeekDayName, lHour, strMonthName);

  const int32_t count = GetNumberOfHits(objCn, sql);
  if (count == 0) {
    Err().Clear();
    ResumeNext([&] { Deref(objRs).AddNew(); });
    SetTextField(objRs, "Server name", mstrServerName_);
    SetTextField(objRs, "Identifier", strSiteIdentifier);
    SetTextField(objRs, strSiteNameColumn, strSiteName);
    SetTextField(objRs, "URL", strURL);
    SetField(objRs, "No of Hits", Variant(int32_t{1}));
    // The new row's bucket columns follow the report kind exactly as given.
    if (strReportType == "Day of Week") {
      SetField(objRs, "Sort Field", Variant(lWeekDay));
      SetTextField(objRs, "Day of week", strWeekDayName);
    } else if (strReportType == "Hour") {
      SetField(objRs, "Hours", Variant(lHour));
    } else if (strReportType == "Month") {
      SetField(objRs, "Sort Field", Variant(lMonth));
      SetTextField(objRs, "Months", strMonthName);
    }
    StoreNewRow(objRs, "DumpDataIntoDB",
                {kDumpSourcePrefix, strReportType, "(Update)"});
    return;
  }

  StartUpdate(sql, count);
  sql += "[Identifier]=";
  AppendQuotedSQLString(sql, strSiteIdentifier);
  sql += " And URL=";
  AppendQuotedSQLString(sql, strURL);
  AppendBucketCondition(sql, bucket_kind, strWeekDayName, lHour, strMonthName);
  ExecuteUpdate(objCn, sql, kDumpSourcePrefix, strReportType, "DumpDataIntoDB");
}

int32_t ReportStore::GetNumberOfHits(std::shared_ptr<ado::Connection>& objCn,
                                     const std::string& strSQL) {
  Err().Clear();
  int32_t hits = 0;
  std::shared_ptr<ado::Recordset> rs;
  if (OpenRecordSetEx(rs, strSQL, objCn, ado::adOpenForwardOnly,
                      ado::adLockReadOnly, ado::adUseServer)) {
    bool at_end = true;
    ResumeNext([&] { at_end = rs->Eof(); });
    if (!at_end) {
      ResumeNext(
          [&] { hits = automation::CLng(rs->Fields("No of Hits").Value()); });
      if (Err().Number() != 0) {
        WriteErrorLog(Err().Number(), Err().Description(), kSource,
                      "GetNumberOfHits");
      }
    }
  }
  CloseRecordSet(rs, true);
  return hits;
}

void ReportStore::DumpStatusData(std::shared_ptr<ado::Connection>& objCn,
                                 std::shared_ptr<ado::Recordset>& objRs,
                                 const std::string& strSiteName,
                                 const std::string& strSiteIdentifier,
                                 const std::string& strURL, int32_t lStatus,
                                 const std::string& strSiteNameColumn) {
  const auto [label, sort] = reportdb::StatusLabelOf(strSiteNameColumn, lStatus);

  // The look-up and the update test the same condition.
  std::string condition;
  condition.reserve(strSiteIdentifier.size() + strURL.size() + 64);
  condition += "[Identifier]=";
  AppendQuotedSQLString(condition, strSiteIdentifier);
  condition += " And URL = ";
  AppendQuotedSQLString(condition, strURL);
  condition += " And [Status code] = ";
  AppendNumber(condition, lStatus);

  constexpr std::string_view kLookupStart =
      "select [No of Hits] from tblGeneral where ";
  std::string sql;
  sql.reserve(kLookupStart.size() + condition.size() + 16);
  sql += kLookupStart;
  sql += condition;

  const int32_t count = GetNumberOfHits(objCn, sql);
  if (count == 0) {
    Err().Clear();
    ResumeNext([&] { Deref(objRs).AddNew(); });
    SetTextField(objRs, "Server name", mstrServerName_);
    SetTextField(objRs, "Identifier", strSiteIdentifier);
    SetTextField(objRs, strSiteNameColumn, strSiteName);
    SetField(objRs, "Sort Field", Variant(sort));
    SetTextField(objRs, "URL", strURL);
    SetTextField(objRs, "Status", label);
    SetField(objRs, "Status code", Variant(lStatus));
    SetField(objRs, "No of Hits", Variant(int32_t{1}));
    StoreNewRow(objRs, "DumpStatusData",
                {"VELNORLogAnalysis-LogParser(Update)"});
    return;
  }

  StartUpdate(sql, count);
  sql += condition;
  ExecuteUpdate(objCn, sql, kSource, "", "DumpStatusData");
}

void ReportStore::AddSitesAccessInfo(std::shared_ptr<ado::Connection>& objCn,
                                     const std::string& strSiteName,
                                     const std::string& strSiteIdentifier,
                                     int32_t lHits,
                                     const std::string& strSiteNameColumn) {
  std::shared_ptr<ado::Recordset> rs;
  if (OpenRecordSetEx(rs, "select * from tblTotalAccess", objCn,
                      ado::adOpenForwardOnly, ado::adLockOptimistic,
                      ado::adUseClient)) {
    Err().Clear();
    ResumeNext([&] { rs->AddNew(); });
    SetField(rs, "Server name", Variant(std::string_view(mstrServerName_)));
    SetField(rs, "Identifier", Variant(std::string_view(strSiteIdentifier)));
    SetField(rs, strSiteNameColumn, Variant(std::string_view(strSiteName)));
    SetField(rs, "No of Hits", Variant(lHits));
    StoreNewRow(rs, "AddSitesAccessInfo", {kSource});
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
      WriteErrorLog(Err().Number(), Err().Description(), kSource,
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
    WriteErrorLog(Err().Number(), Err().Description(), kSource,
                  "CollectLogFileFromDB");
  });
  std::string joined;
  std::shared_ptr<ado::Recordset> rs;
  bool opened = false;
  on_error([&] {
    std::string sql = "Select * from tblLogFiles where [";
    sql += strSiteNameColumn;
    sql += "] = ";
    sql += QuoteSQLString(Variant(std::string_view(strSiteName)));
    opened = OpenRecordSetEx(rs, sql, objCn, ado::adOpenDynamic,
                             ado::adLockPessimistic, ado::adUseClient);
  });
  if (opened) {
    Err().Clear();
    bool at_end = true;
    on_error([&] { at_end = rs->Eof(); });
    while (!at_end) {
      std::string name;
      on_error([&] {
        name = TrimBlanks(automation::CStr(
            NullToDefault(rs->Fields("Log File Name").Value(), Variant(""))));
      });
      if (!joined.empty()) joined += ',';
      joined += name;
      // A cursor that cannot move or report its end would repeat this row
      // forever; the list ends there instead.
      at_end = true;
      if (!on_error([&] { rs->MoveNext(); })) break;
      on_error([&] { at_end = rs->Eof(); });
    }
  }
  CloseRecordSet(rs, true);
  return automation::Split(joined, ",");
}

void ReportStore::DumpLogFilesIntoDB(std::shared_ptr<ado::Connection>& objCn,
                                     const std::string& strSiteName,
                                     const std::string& strSiteIdentifier,
                                     const Variant& varLogFileNames) {
  Err().Clear();
  const std::string_view site_column =
      mblnIsFTPCollection_ ? "FTP Site Name" : "Web Site Name";
  std::shared_ptr<ado::Recordset> rs;
  if (!OpenRecordSetEx(rs, "select * from tblLogFiles", objCn,
                       ado::adOpenDynamic, ado::adLockPessimistic,
                       ado::adUseServer)) {
    WriteErrorLog(
        Err().Number(),
        mblnIsFTPCollection_ ? "RecordSetFail-FTP" : "RecordSetFail-Web",
        kSource, "DumpLogFilesIntoDB");
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
        WriteErrorLog(Err().Number(), Err().Description(), kSource,
                      "DumpLogFilesIntoDB-Update");
      }
    }
  }
  CloseRecordSet(rs, true);
}

}  // namespace velnor
