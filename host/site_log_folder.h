// A site's log folder as the collector reaches it, and the FTP folder name
// of IIS 7.5 and later.
//
// The collector reads a site's logs from its log directory on the server
// plus "\W3SVC<id>" or "\MSFTPSVC<id>". The FTP service of IIS 7.5 and
// later writes to "FTPSVC<id>" instead. Rather than teach the collector a
// second name, the host asks the UNC layer to read MSFTPSVC<id> from
// FTPSVC<id> for this run (a folder alias) whenever the first is missing
// and the second exists: the collector's paths, its file registry and the
// rows it stores stay exactly as with an old server.
#ifndef VELNOR_HOST_SITE_LOG_FOLDER_H_
#define VELNOR_HOST_SITE_LOG_FOLDER_H_

#include <string>
#include <vector>

#include "component/velnor.h"

namespace velnor::host {

struct SiteLogFolder {
  // The folder the collector builds, "\\SRV\D$\Logs\W3SVC2"; "" when the
  // log directory cannot be resolved (the component logs why).
  std::string folder;
  // The folder read: `folder`, or its FTPSVC<id> sibling when only that
  // one exists.
  std::string actual;
};

// The log folder of the site with log directory `directory` (as the
// collector takes it, %SystemDrive% already expanded) and id `id`, resolved
// by `parser`'s GetLogFilePath.
SiteLogFolder FindSiteLogFolder(LogParserInterface& parser,
                                const std::string& server, bool ftp,
                                const std::string& directory,
                                const std::string& id);

// For each FTP site descriptor of `sites` whose folder is read from
// FTPSVC<id>, sets the folder alias for the run and returns a line for the
// summary saying so.
std::vector<std::string> RedirectFtpsvcFolders(
    LogParserInterface& parser, const std::string& server,
    const std::vector<std::string>& sites);

}  // namespace velnor::host

#endif  // VELNOR_HOST_SITE_LOG_FOLDER_H_
