// Resolution and listing of a site's log folder, with the FTPSVC<id>
// fallback.
#include "host/collect/site_log_folder.h"

#include <algorithm>
#include <string_view>

#include "host/common/command_support.h"
#include "platform/automation/collection.h"
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"

namespace velnor::host {
namespace {

using automation::AsciiLowered;
using automation::EqualsIgnoringAsciiCase;
using automation::Err;

// Lists `folder` into `found`; on failure keeps the error in `found` when
// `keep_error`. Clears the pending error either way.
bool TryList(const unc::ShareAccess& shares, const std::string& folder,
             SiteLogFolder& found, bool keep_error) {
  found.listed = automation::ResumeNext(
      [&] { found.entries = unc::ListDirectory(shares, folder); });
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

// Whether `directory` ends in a folder the site `id`'s logs are written to.
bool EndsInSiteFolder(std::string_view directory, bool ftp,
                      const std::string& id) {
  const std::string_view last = directory.substr(directory.rfind('\\') + 1);
  if (!ftp) return EqualsIgnoringAsciiCase(last, SiteLogFolderName(false, id));
  return EqualsIgnoringAsciiCase(last, SiteLogFolderName(true, id)) ||
         EqualsIgnoringAsciiCase(last, "FTPSVC" + id);
}

// The number of log files among `entries`.
size_t LogFiles(const std::vector<unc::DirEntry>& entries) {
  return static_cast<size_t>(std::count_if(
      entries.begin(), entries.end(), [](const unc::DirEntry& entry) {
        std::string name = AsciiLowered(entry.name);
        return entry.is_file &&
               (name.ends_with(".log") || name.ends_with(".log.gz"));
      }));
}

}  // namespace

bool CheckLogDirectory(LogParserInterface& parser,
                       const unc::ShareAccess& shares,
                       const std::string& server, bool ftp,
                       const std::string& descriptor) {
  const automation::StringArray fields = automation::Split(descriptor, ",");
  const std::string directory(automation::Trim(fields[1], "\\"));
  if (directory.find('\\') == std::string::npos ||
      !EndsInSiteFolder(directory, ftp, fields[2])) {
    return true;
  }
  const SiteLogFolder doubled =
      ListSiteLogFolder(parser, shares, server, ftp, directory, fields[2]);
  if (doubled.listed || doubled.error_number != automation::kErrPathNotFound) {
    return true;
  }
  std::vector<unc::DirEntry> given;
  const std::string folder = parser.GetLogFilePath(directory, server);
  automation::ResumeNext([&] { given = unc::ListDirectory(shares, folder); });
  Err().Clear();
  const size_t files = LogFiles(given);
  if (files == 0) return true;
  const std::string parent(directory.substr(0, directory.rfind('\\')));
  return Usage(
      "the log directory " + fields[1] + " of site " + fields[2] + " (" +
          fields[0] + ") names the site's log folder itself: its logs " +
          "would be read from " + doubled.folder +
          ", which does not exist, while " + folder + " holds " +
          std::to_string(files) + " log file" + (files == 1 ? "" : "s"),
      "give the folder above it, as IIS has it configured (IIS adds " +
          std::string(directory.substr(directory.rfind('\\') + 1)) +
          " itself): \"" + fields[0] + "," + parent + "," + fields[2] + "\"");
}

SiteLogFolder ListSiteLogFolder(LogParserInterface& parser,
                                const unc::ShareAccess& shares,
                                const std::string& server, bool ftp,
                                const std::string& directory,
                                const std::string& id) {
  std::string base = parser.GetLogFilePath(directory, server);
  if (base.empty()) return {};
  SiteLogFolder found;
  found.folder = base + "\\" + SiteLogFolderName(ftp, id);
  found.actual = found.folder;
  if (TryList(shares, found.folder, found, true)) return found;
  // Other failures are reported for the folder the collector names.
  if (ftp && found.error_number == automation::kErrPathNotFound) {
    TryList(shares, base + "\\FTPSVC" + id, found, false);
  }
  return found;
}

}  // namespace velnor::host
