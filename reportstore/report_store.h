// ReportStore: the rows a collection run writes into the report databases.
// Hit counts per site, URL and time bucket (day of week, month, hour) and per
// status code, one total per site and run, and the registry of a site's log
// files.
//
// The databases are the tally: nothing is counted in memory. A hit looks up
// the row of its key and either raises its "No of Hits" or appends the row
// with one hit, so counts accumulate across runs. Rows are only selected,
// appended and updated, never deleted.
//
// No operation lets an error out: each failure becomes one error-log line
// (error_log.h) and the operation goes on. Connections and recordsets are
// the caller's; the operations never close them.
#ifndef VELNOR_REPORTSTORE_REPORT_STORE_H_
#define VELNOR_REPORTSTORE_REPORT_STORE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ado/ado.h"
#include "platform/automation/variant.h"

namespace velnor {

class ReportStore {
 public:
  // Keeps references to the collector's run state: the server name written
  // into every new row, and whether the run collects FTP (else web) logs.
  // Both are read at each call and must outlive the store.
  ReportStore(const std::string& mstrServerName,
              const bool& mblnIsFTPCollection);

  ReportStore(const ReportStore&) = delete;
  ReportStore& operator=(const ReportStore&) = delete;

  // Adds one hit to the tblGeneral row of (strSiteIdentifier, strURL, bucket)
  // in the day-of-week, month or hour database behind `objCn`. The bucket
  // follows strReportType, trimmed: "Day of Week" (strWeekDayName, sort
  // lWeekDay), "Month" (strMonthName, sort lMonth) or "Hour" (lHour, no sort
  // field); any other kind has no bucket condition. A missing row is
  // appended through `objRs` (the open "select * from tblGeneral" recordset
  // of the same database) with one hit. A refused row or update is logged
  // under "DumpDataIntoDB" and the hit is lost.
  void DumpDataIntoDB(
      std::shared_ptr<ado::Connection>& objCn,
      std::shared_ptr<ado::Recordset>& objRs, const std::string& strSiteName,
      const std::string& strSiteIdentifier, const std::string& strURL,
      const std::string& strSiteNameColumn, const std::string& strReportType,
      const std::string& strWeekDayName, int32_t lWeekDay, int32_t lHour,
      const std::string& strMonthName, int32_t lMonth);

  // The "No of Hits" of the first row `strSQL` yields, or 0 when the query
  // fails (logged by OpenRecordSetEx) or finds nothing. A value that does not
  // convert to a 32-bit integer (null, text) is logged under
  // "GetNumberOfHits" and gives 0.
  int32_t GetNumberOfHits(std::shared_ptr<ado::Connection>& objCn,
                          const std::string& strSQL);

  // Adds one hit to the status database row of (strSiteIdentifier, strURL,
  // lStatus), appending it through `objRs` with its label and sort position
  // when missing. strSiteNameColumn ("FTP Site Name" / "Web Site Name")
  // selects the service's label list; codes outside it are "Others" (100).
  // Failures are logged under "DumpStatusData".
  void DumpStatusData(std::shared_ptr<ado::Connection>& objCn,
                      std::shared_ptr<ado::Recordset>& objRs,
                      const std::string& strSiteName,
                      const std::string& strSiteIdentifier,
                      const std::string& strURL, int32_t lStatus,
                      const std::string& strSiteNameColumn);

  // Appends one row (server, identifier, site name, lHits) to tblTotalAccess
  // of the hits-by-hour database behind `objCn`. A refused row is logged
  // under "AddSitesAccessInfo".
  void AddSitesAccessInfo(std::shared_ptr<ado::Connection>& objCn,
                          const std::string& strSiteName,
                          const std::string& strSiteIdentifier, int32_t lHits,
                          const std::string& strSiteNameColumn);

  // The number of tblLogFiles rows of the server, or 0 when there are none
  // or the count cannot be read. The server name is put into the statement
  // as it is, so a name with an apostrophe makes the statement fail (logged
  // by OpenRecordSetEx).
  int32_t GetLogFileCountFromDB(std::shared_ptr<ado::Connection>& objCn);

  // The log file names registered for the site named strSiteName in column
  // strSiteNameColumn, trimmed of blanks, in the order the database returns
  // them; blank names before the first non-blank one are dropped, and a name
  // containing "," comes back as two. strSiteIdentifier is not used. Any
  // failure is logged under "CollectLogFileFromDB" and reading goes on.
  automation::StringArray CollectLogFileFromDB(
      std::shared_ptr<ado::Connection>& objCn, const std::string& strSiteName,
      const std::string& strSiteIdentifier,
      const std::string& strSiteNameColumn);

  // Appends one tblLogFiles row per element of the string array in
  // varLogFileNames (a variant holding anything else appends nothing). A
  // table that cannot be opened is logged under "DumpLogFilesIntoDB", a
  // refused row under "DumpLogFilesIntoDB-Update"; later rows still go in.
  void DumpLogFilesIntoDB(std::shared_ptr<ado::Connection>& objCn,
                          const std::string& strSiteName,
                          const std::string& strSiteIdentifier,
                          const automation::Variant& varLogFileNames);

 private:
  const std::string& mstrServerName_;
  const bool& mblnIsFTPCollection_;
};

}  // namespace velnor

#endif  // VELNOR_REPORTSTORE_REPORT_STORE_H_
