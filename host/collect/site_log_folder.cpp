// Resolution and listing of a site's log folder, with the FTPSVC<id>
// fallback.
#include "host/collect/site_log_folder.h"

#include "loglocation/log_locator.h"
#include "platform/automation/error_state.h"

namespace velnor::host {
namespace {

using automation::Err;

// Lists `folder` into `found`; on failure keeps the error in `found` when
// `keep_error`. Clears the pending error either way.
bool TryList(const std::string& folder, SiteLogFolder& found, bool keep_error) {
  found.listed = automation::ResumeNext(
      [&] { found.entries = unc::ListDirectory(folder); });
  if (found.listed) {
    found.actual = folder;
    found.error_number = 0;
    found.error_description.clear();
  } else if (keep_error) {
    found.error_number = Err().Number();
    found.error_description = Err().Description();
  }
  Err().Clear();
  return found.listed;
}

}  // namespace

SiteLogFolder ListSiteLogFolder(LogParserInterface& parser,
                                const std::string& server, bool ftp,
                                const std::string& directory,
                                const std::string& id) {
  std::string base = parser.GetLogFilePath(directory, server);
  if (base.empty()) return {};
  SiteLogFolder found;
  found.folder = base + "\\" + SiteLogFolderName(ftp, id);
  found.actual = found.folder;
  if (TryList(found.folder, found, true)) return found;
  // Other failures are reported for the folder the collector names.
  if (ftp && found.error_number == automation::kErrPathNotFound) {
    TryList(base + "\\FTPSVC" + id, found, false);
  }
  return found;
}

}  // namespace velnor::host
