// What the host learns of each site's log folder before a run, so that the
// run's silence about a folder is never mistaken for a site without
// traffic: a folder that cannot be listed becomes an error-log line, one
// that does not exist yet while its log directory does (IIS makes it with
// the site's first logged request) a warning, and the files' sizes and
// names feed the progress line and the check of the log-file registry.
#ifndef VELNOR_HOST_COLLECT_LOG_FOLDERS_H_
#define VELNOR_HOST_COLLECT_LOG_FOLDERS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "component/velnor.h"
#include "host/collect/log_file_days.h"
#include "platform/unc/unc.h"

namespace velnor::host {

struct SiteFolder {
  std::string site_name;
  std::string identifier;
  // As the run names it: \\SERVER\D$\Logs\W3SVC2. Empty when the component
  // could not resolve the log directory (it logs why).
  std::string folder;
  // The folder read instead of `folder` for this run (an FTP site's
  // FTPSVC<id>, see site_log_folder.h); "" when none.
  std::string read_from;
  bool listed = false;
  // Not listed because it does not exist while its log directory does: IIS
  // has logged nothing for the site yet.
  bool not_made_yet = false;
  // Regular files only: no folder, link, FIFO, device or socket.
  std::vector<unc::DirEntry> files;
  uint64_t bytes = 0;  // of `files`
  // How the six-digit names of `files` read.
  SixDigitNames six_digit_names = SixDigitNames::kDays;
};

// Resolves and lists the log folder of each site descriptor (already
// checked) of `server` through `shares`, in order, each once; where an FTP
// site's folder is read from FTPSVC<id>, adds the folder alias to `shares`
// for the run. Writes one
// error-log line (source "velnor collect", procedure "ListLogFolder") for
// each folder that cannot be listed, except a missing folder whose log
// directory can be listed: that gets a warning on standard error. Stops early,
// with the folders done so far, when interrupted.
std::vector<SiteFolder> SurveyLogFolders(LogParserInterface& parser,
                                         unc::ShareAccess& shares,
                                         const std::string& server, bool ftp,
                                         const std::vector<std::string>& sites);

// The folder of `folders` that holds the file the run names `path`
// (folder, backslash, name), and the file's name, which may hold a
// backslash of its own where the folder is a Linux one: so the folder is
// the longest one `path` starts with, not the part before its last
// backslash. Nothing, and the part after the last backslash, when no
// folder holds it.
struct FileInFolder {
  const SiteFolder* folder = nullptr;
  std::string_view name;
};
FileInFolder FindFileFolder(const std::vector<SiteFolder>& folders,
                            std::string_view path);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_LOG_FOLDERS_H_
