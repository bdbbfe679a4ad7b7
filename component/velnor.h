// The public interface of the VELNOR Log Analysis component: the collector
// class LogParser, reached through LogParserInterface, and the way a host
// creates it.
//
// A host creates one LogParser, gives it the path of an error log with
// SetErrorLogPath, and calls CollectIISLogData for one server, one service
// (web or FTP), a period of whole days and a set of sites. The call shows a
// modal progress window and returns when the run has ended, been cancelled
// or failed. Failures never reach the host: each is one line in the error
// log. The report databases must exist (`velnor init-db` makes them); the
// component only selects, appends and updates rows.
#ifndef VELNOR_COMPONENT_VELNOR_H_
#define VELNOR_COMPONENT_VELNOR_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation/collection.h"
#include "platform/automation/object.h"
#include "platform/automation/variant.h"

namespace velnor {

// The name under which the collector class is registered.
inline constexpr std::string_view kLogParserProgId =
    "VELNORLogAnalysis.LogParser";

// The collector's interface: seven methods, in this order. None of them
// raises; failures are written to the error log.
class LogParserInterface : public automation::Object {
 public:
  // The names of the entries of directory `strPath` (UNC or local), "." and
  // ".." left out; a single empty name when there is none or the directory
  // cannot be searched.
  virtual automation::StringArray GetLogFilesFromDirectory(
      std::string_view strPath) = 0;

  // One collection run on the stored run state (normally started from the
  // progress window by CollectIISLogData; see PrepareReport).
  virtual void CollectDataFromLogFile(bool blnIsFTPCollection,
                                      std::string_view strAppPath) = 0;

  // Stores the run state and shows the progress window modally; the run
  // executes inside it. `strAppPath` is the folder of the report databases.
  // `objGrd` (a forms::Grid) is filled instead of the databases when
  // `blnIsCollectRawData`. Each item of `colSiteCollection` is a site
  // descriptor "site name,log directory,site identifier". An unset grid or
  // collection keeps the one of the last call (a grid is released by every
  // run). The collection is only read.
  virtual void CollectIISLogData(
      std::string_view strServerName, bool blnIsFTPCollection,
      double dtStartDate, double dtEndDate, std::string_view strAppPath,
      bool blnIsCollectRawData, automation::ObjectRef objGrd = nullptr,
      std::shared_ptr<automation::Collection> colSiteCollection = nullptr,
      bool blnLogSitelevel = false,
      bool blnRefreshDateInServerLevel = false) = 0;

  // The progress window's start-up call: runs CollectDataFromLogFile on the
  // stored state, then closes the window.
  virtual void PrepareReport() = 0;

  // The path through which this machine reaches a site's log directory
  // `strLogPath` as configured on the server: "\\server\C$\...". A
  // non-empty `strServerName` replaces the stored server name first. Empty
  // on failure.
  virtual std::string GetLogFilePath(std::string_view strLogPath,
                                     std::string_view strServerName = "") = 0;

  // The error log file of the calling thread, for every collector on it.
  virtual void SetErrorLogPath(std::string_view strErrorLogPath) = 0;

  // The number of log files registered for the stored server in the
  // tblLogFiles table of the open connection `objCn` (an ado::Connection);
  // 0 on failure.
  virtual int32_t GetLogFileCountFromDB(automation::ObjectRef objCn) = 0;
};

// What the last run did, for a host's summary. Not part of the automation
// interface.
struct RunSummary {
  int32_t sites = 0;            // sites started
  int64_t records = 0;          // records counted or listed
  bool cancel_confirmed = false;
  // Why the run's changes were not kept, when the run committed them itself
  // (no session of the host's) and that failed; empty otherwise.
  std::string commit_failure;
  // The report databases counted record by record, slowly, because their
  // tables lack a column or hold counts that are not positive whole
  // numbers ("WebLogHitsByMonth", ...); empty when all were counted in
  // memory, and in raw mode.
  std::vector<std::string> counted_record_by_record;
};

// Registers the component's classes and the platform classes it creates by
// name ("ADODB.Connection", "ADODB.Recordset", "MSWC.IISLog"). Idempotent.
void RegisterVelnorClasses();

// Creates a LogParser by its registered name, registering the classes
// first. Never null.
std::shared_ptr<LogParserInterface> CreateLogParser();

// The summary of the last run of a collector created by CreateLogParser.
RunSummary LastRunSummary(const LogParserInterface& parser);

}  // namespace velnor

#endif  // VELNOR_COMPONENT_VELNOR_H_
