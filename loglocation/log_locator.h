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

#include "platform/automation/variant.h"

namespace velnor {

class LogLocator {
 public:
  // `mstrServerName` is the collector's server-name field; it must outlive
  // this object. GetLogFilePath reads it and may overwrite it.
  explicit LogLocator(std::string& mstrServerName)
      : mstrServerName_(mstrServerName) {}

  // The UNC path of `strLogPath` on the server. A non-empty `strServerName`
  // first replaces the server-name field for good.
  //
  // A path starting with "%" (an environment-variable reference) becomes
  // "\\" + server + "\" + the server's Windows directory (as configured in
  // platform/wmi, every ":" made "$") + the part of `strLogPath` from its
  // first backslash.
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
};

// The folder below a site's log directory that IIS writes the site's logs
// to: "W3SVC<id>" for the web service, "MSFTPSVC<id>" for FTP. The one rule
// for it, for the collector that reads the folder and the host that looks
// at it before the run. (IIS 7.5 and later write FTP logs to "FTPSVC<id>";
// the host reads that folder in this one's place.)
std::string SiteLogFolderName(bool is_ftp, std::string_view identifier);

}  // namespace velnor

#endif  // VELNOR_LOGLOCATION_LOG_LOCATOR_H_
