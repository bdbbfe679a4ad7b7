// The folder survey. The component takes a folder it cannot list for an
// empty one, so without this a wrong password or a missing share would end
// as a quiet run without records.
#include "host/collect/log_folders.h"

#include <iostream>

#include "dbsupport/error_log.h"
#include "host/collect/site_log_folder.h"
#include "host/common/command_support.h"
#include "platform/automation/collection.h"
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "platform/interrupt/interrupt.h"

namespace velnor::host {
namespace {

using automation::Err;

// True when `directory` exists and can be listed.
bool CanList(const unc::ShareAccess& shares, const std::string& directory) {
  bool listed =
      automation::ResumeNext([&] { unc::ListDirectory(shares, directory); });
  Err().Clear();
  return listed;
}

// Keeps the files of `listed`; on failure logs it or, for a folder IIS has
// not made yet, warns.
void Take(const unc::ShareAccess& shares, SiteFolder& site,
          SiteLogFolder& listed) {
  if (listed.listed) {
    site.listed = true;
    // Only what a read opens: a link, FIFO or folder named like a log is
    // refused when read, so it is neither registered nor measured.
    for (unc::DirEntry& entry : listed.entries) {
      if (!entry.is_file) continue;
      site.bytes += entry.size;
      site.files.push_back(std::move(entry));
    }
    site.six_digit_names = SixDigitNamesOf(site.files);
    return;
  }
  // A signal during a listing is the user stopping, not a broken folder.
  if (interrupt::Interrupted()) return;
  std::string log_directory = site.folder.substr(0, site.folder.rfind('\\'));
  if (listed.error_number == automation::kErrPathNotFound &&
      CanList(shares, log_directory)) {
    site.not_made_yet = true;
    std::cerr << "velnor: warning: the log folder " << Shown(site.folder)
              << " of site " << site.identifier << " (" << Shown(site.site_name)
              << ") does not exist yet; IIS makes it with the site's first "
                 "logged request\n";
    return;
  }
  WriteErrorLog(listed.error_number, listed.error_description, "velnor collect",
                "ListLogFolder");
}

}  // namespace

std::vector<SiteFolder> SurveyLogFolders(
    LogParserInterface& parser, unc::ShareAccess& shares,
    const std::string& server, bool ftp,
    const std::vector<std::string>& sites) {
  std::vector<SiteFolder> folders;
  for (const std::string& site : sites) {
    if (interrupt::Interrupted()) break;
    automation::StringArray fields = automation::Split(site, ",");
    SiteFolder& folder = folders.emplace_back();
    folder.site_name = fields[0];
    folder.identifier = fields[2];
    SiteLogFolder listed =
        ListSiteLogFolder(parser, shares, server, ftp, fields[1], fields[2]);
    folder.folder = listed.folder;
    if (folder.folder.empty()) continue;  // the component logs why
    if (listed.actual != listed.folder) {
      shares.folder_aliases.Add(listed.folder, listed.actual);
      folder.read_from = listed.actual;
    }
    Take(shares, folder, listed);
  }
  return folders;
}

FileInFolder FindFileFolder(const std::vector<SiteFolder>& folders,
                            std::string_view path) {
  FileInFolder found{nullptr, path.substr(path.rfind('\\') + 1)};
  for (const SiteFolder& site : folders) {
    const std::string& folder = site.folder;
    if (folder.empty() || path.size() <= folder.size() + 1 ||
        path[folder.size()] != '\\' ||
        !automation::EqualsIgnoringAsciiCase(path.substr(0, folder.size()),
                                             folder) ||
        (found.folder != nullptr &&
         found.folder->folder.size() >= folder.size())) {
      continue;
    }
    found = {&site, path.substr(folder.size() + 1)};
  }
  return found;
}

}  // namespace velnor::host
