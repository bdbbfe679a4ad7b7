// The folder below a site's log directory that IIS writes the site's logs
// to, for the collector that reads the folder and the host that looks at it
// before the run.
#ifndef VELNOR_LOGLOCATION_SITE_LOG_FOLDER_NAME_H_
#define VELNOR_LOGLOCATION_SITE_LOG_FOLDER_NAME_H_

#include <string>
#include <string_view>

namespace velnor {

// "W3SVC<id>" for the web service, "MSFTPSVC<id>" for FTP. (IIS 7.5 and
// later write FTP logs to "FTPSVC<id>"; the host reads that folder in this
// one's place.)
std::string SiteLogFolderName(bool is_ftp, std::string_view identifier);

}  // namespace velnor

#endif  // VELNOR_LOGLOCATION_SITE_LOG_FOLDER_NAME_H_
