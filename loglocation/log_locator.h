// Log file location: turning a site's log directory, as configured on the
// monitored server, into a path this machine can open through the server's
// administrative share, and listing the entries of a directory.
//
// LogParser owns the server name and forwards its public GetLogFilePath and
// GetLogFilesFromDirectory here. Neither method raises: failures become
// error-log lines (dbsupport/error_log.h) and an empty result.
#ifndef VELNOR_LOGLOCATION_LOG_LOCATOR_H_
#define VELNOR_LOGLOCATION_LOG_LOCATOR_H_

#include <string>
#include <string_view>

#include "loglocation/site_log_folder_name.h"
#include "platform/automation/variant.h"
#include "platform/unc/unc.h"
#include "platform/wmi/wmi.h"

namespace velnor {

class LogLocator {
 public:
  // `mstrServerName` is the collector's server-name field; it must outlive
  // this object. GetLogFilePath reads it and may overwrite it, and finds
  // each server's Windows directory in `windows_directories`;
  // GetLogFilesFromDirectory reaches the shares through `shares`. Both must
  // outlive this object too.
  LogLocator(std::string& mstrServerName,
             const wmi::WindowsDirectories& windows_directories,
             const unc::ShareAccess& shares)
      : mstrServerName_(mstrServerName),
        windows_directories_(windows_directories),
        shares_(shares) {}

  // The UNC path of `strLogPath` on the server. A non-empty `strServerName`
  // first replaces the server-name field for good.
  //
  // A path starting with "%" (an environment-variable reference) becomes
  // "\\" + server + "\" + the server's Windows directory (every ":" made
  // "$") + the part of `strLogPath` from its first backslash.
  // Any other path becomes "\\" + server + "\" + `strLogPath` with every ":"
  // made "$"; an existing UNC path is not recognised and is prefixed too.
  //
  // Returns "" when the server has no Windows directory (one error-log line
  // with source kLogParserWmiSource, as an unreachable WMI
  // service gives) or the conversion fails (one line with source
  // kLogParserSource), procedure "GetLogFilePath". Leaves no
  // pending error.
  std::string GetLogFilePath(std::string_view strLogPath,
                             std::string_view strServerName = "");

  // The names (without directory) of the entries of directory `strPath`
  // (no trailing backslash), sub-directories included, "." and ".." left
  // out, in the file system's order. When there are none, or the directory
  // is missing, unreachable or unreadable, the one-element array {""}.
  // Failures while listing are written to the error log (source
  // kLogParserSource, procedure "GetLogFilesFromDirectory")
  // and the listing goes on.
  automation::StringArray GetLogFilesFromDirectory(std::string_view strPath);

 private:
  std::string& mstrServerName_;
  const wmi::WindowsDirectories& windows_directories_;
  const unc::ShareAccess& shares_;
};

}  // namespace velnor

#endif  // VELNOR_LOGLOCATION_LOG_LOCATOR_H_
