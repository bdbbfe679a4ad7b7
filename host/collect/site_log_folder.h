// A site's log folder as the collector reaches it, listed once, and the FTP
// folder name of IIS 7.5 and later.
//
// The collector reads a site's logs from its log directory on the server
// plus "\W3SVC<id>" or "\MSFTPSVC<id>". The FTP service of IIS 7.5 and
// later writes to "FTPSVC<id>" instead. Rather than teach the collector a
// second name, the host asks the UNC layer to read MSFTPSVC<id> from
// FTPSVC<id> for this run (a folder alias) whenever the first is missing
// and the second exists: the collector's paths, its file registry and the
// rows it stores stay exactly as with an old server.
#ifndef VELNOR_HOST_COLLECT_SITE_LOG_FOLDER_H_
#define VELNOR_HOST_COLLECT_SITE_LOG_FOLDER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "component/velnor.h"
#include "platform/unc/unc.h"

namespace velnor::host {

struct SiteLogFolder {
  // The folder the collector builds, "\\SRV\D$\Logs\W3SVC2"; "" when the
  // log directory cannot be resolved (the component logs why).
  std::string folder;
  // The folder listed: `folder`, or its FTPSVC<id> sibling when only that
  // one exists.
  std::string actual;
  bool listed = false;
  std::vector<unc::DirEntry> entries;  // when listed: files and folders
  // When not listed: why, for `folder` (kErrPathNotFound when it does not
  // exist).
  int32_t error_number = 0;
  std::string error_description;
};

// Resolves, with `parser`'s GetLogFilePath, and lists through `shares` the
// log folder of the
// site with log directory `directory` (as the collector takes it,
// %SystemDrive% already expanded) and id `id`. Each folder is listed at
// most once: an FTP site's FTPSVC<id> only when MSFTPSVC<id> does not exist.
// Leaves no pending error.
SiteLogFolder ListSiteLogFolder(LogParserInterface& parser,
                                const unc::ShareAccess& shares,
                                const std::string& server, bool ftp,
                                const std::string& directory,
                                const std::string& id);

// False, after the usage mistake, when the log directory of the site
// descriptor `descriptor` (checked, %SystemDrive% expanded) names the
// site's log folder itself: it ends in W3SVC<id> (MSFTPSVC<id> or
// FTPSVC<id> for FTP, in any case, as Windows compares names), the folder
// the collector would read below it does not exist, and the given folder
// holds log files (*.log, *.log.gz). The message gives the folder above it.
// A log directory that does not exist passes: it is a site without logs.
bool CheckLogDirectory(LogParserInterface& parser,
                       const unc::ShareAccess& shares,
                       const std::string& server, bool ftp,
                       const std::string& descriptor);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_SITE_LOG_FOLDER_H_
