// LogParserInterface: the collector's automation interface, the seven
// methods a host calls on the object CreateLogParser (component/velnor.h)
// returns. LogParser (log_parser.h) implements it.
#ifndef VELNOR_COLLECTOR_LOG_PARSER_INTERFACE_H_
#define VELNOR_COLLECTOR_LOG_PARSER_INTERFACE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/automation/collection.h"
#include "platform/automation/object.h"
#include "platform/automation/variant.h"

namespace velnor {

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

}  // namespace velnor

#endif  // VELNOR_COLLECTOR_LOG_PARSER_INTERFACE_H_
