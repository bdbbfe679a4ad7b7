// The sites of a collect and the servers' Windows directories, as the user
// gives them on the command line or in files: checked here, so that the
// component only ever sees descriptors it can use, and each mistake is
// named with its origin (the option, or the file and line).
#ifndef VELNOR_HOST_COLLECT_SITE_LIST_H_
#define VELNOR_HOST_COLLECT_SITE_LIST_H_

#include <string>
#include <string_view>
#include <vector>

#include "host/common/user_text_file.h"

namespace velnor::host {

// True for a descriptor "site name,log directory,site identifier" the
// component can use: one line of UTF-8 text without control characters,
// three fields, a site name, a log directory that is a drive path ("D:" or
// "D:\...") or starts with a %VARIABLE% ("%SystemDrive%\..."), and a
// decimal identifier without a leading zero. Prints the usage mistake
// otherwise.
bool CheckSiteDescriptor(const TextLine& site);

// True when no two of `sites` (checked descriptors, each with its origin:
// the option or the file and line, "" for --site) name one site: the same
// identifier, and so the same log folder. The
// report databases and the ledger know a site by its identifier, so a site
// given twice would have its records counted twice. Prints the usage
// mistake, naming both, otherwise.
bool CheckEachSiteOnce(const std::vector<TextLine>& sites);

// A server's Windows directory, from "SERVER=PATH".
struct WindowsDir {
  std::string server;
  std::string path;
};

// Parses `entry` ("SRV1=C:\Windows") from `origin` (the option or the file
// and line): a valid server name and an absolute drive path. Prints the
// usage mistake and returns false otherwise.
bool ParseWindowsDir(const TextLine& entry, WindowsDir& dir);

// The line of a sites file that gives a server's Windows directory as the
// option does: "--windows-dir SRV1=C:\Windows". velnor sites writes it, so
// that its list of sites collects as it is.
inline constexpr std::string_view kWindowsDirLine = "--windows-dir ";

// Adds the descriptors of the sites file `path` to `sites`, with their file
// and line as origin, and its kWindowsDirLine entries, checked as
// ParseWindowsDir checks the option, to `windows_dirs`. Prints the usage
// mistake and returns false when the file cannot be used (see
// ReadUserTextFile).
bool ReadSitesFile(const std::string& path, std::vector<TextLine>& sites,
                   std::vector<WindowsDir>& windows_dirs);

// Adds the entries of the file `path` (one SERVER=PATH a line), each checked
// as ParseWindowsDir checks an option.
bool ReadWindowsDirsFile(const std::string& path,
                         std::vector<WindowsDir>& dirs);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_SITE_LIST_H_
