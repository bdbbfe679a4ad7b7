// Resolution of a site's log folder and the FTPSVC<id> alias.
#include "host/site_log_folder.h"

#include "loglocation/log_locator.h"
#include "platform/automation/error_state.h"
#include "platform/automation/variant.h"
#include "platform/unc/unc.h"

namespace velnor::host {
namespace {

// True when `folder` can be listed; false when it does not exist. Other
// failures count as existing, so that the run reports them for the folder
// the collector names.
bool FolderExists(const std::string& folder) {
  bool listed = automation::ResumeNext([&] { unc::ListDirectory(folder); });
  bool missing = automation::Err().Number() == automation::kErrPathNotFound;
  automation::Err().Clear();
  return listed || !missing;
}

}  // namespace

SiteLogFolder FindSiteLogFolder(LogParserInterface& parser,
                                const std::string& server, bool ftp,
                                const std::string& directory,
                                const std::string& id) {
  std::string base = parser.GetLogFilePath(directory, server);
  if (base.empty()) return {};
  SiteLogFolder found;
  found.folder = base + "\\" + SiteLogFolderName(ftp, id);
  found.actual = found.folder;
  if (ftp && !FolderExists(found.folder)) {
    std::string renamed = base + "\\FTPSVC" + id;
    if (FolderExists(renamed)) found.actual = renamed;
  }
  return found;
}

std::vector<std::string> RedirectFtpsvcFolders(
    LogParserInterface& parser, const std::string& server,
    const std::vector<std::string>& sites) {
  std::vector<std::string> notes;
  for (const std::string& site : sites) {
    automation::StringArray fields = automation::Split(site, ",");
    SiteLogFolder found =
        FindSiteLogFolder(parser, server, true, fields[1], fields[2]);
    if (found.actual == found.folder) continue;
    unc::SetFolderAlias(found.folder, found.actual);
    notes.push_back("FTP site " + fields[2] + " \"" + fields[0] +
                    "\": read from " + found.actual + ", the folder IIS 7.5 " +
                    "and later write, as " + found.folder + " does not exist");
  }
  return notes;
}

}  // namespace velnor::host
