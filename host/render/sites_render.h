// The listing of `velnor sites` and its four renderings: an aligned table,
// CSV (RFC 4180), JSON, and a --sites file for velnor collect.
#ifndef VELNOR_HOST_RENDER_SITES_RENDER_H_
#define VELNOR_HOST_RENDER_SITES_RENDER_H_

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "siteconfig/iis_sites.h"

namespace velnor::host {

// What is known of a site's log folder.
enum class FolderState {
  kUnresolved,  // the log directory leads to no folder of the server
  kMissing,
  kPresent,
  kUnreadable,  // it could not be listed, for `folder_error`
};

struct SiteRow {
  siteconfig::IisSite site;
  // The UNC folder the logs are read from; "" when kUnresolved.
  std::string folder;
  FolderState state = FolderState::kUnresolved;
  // The regular files in it (no folder, link or FIFO), when kPresent.
  size_t log_files = 0;
  std::string folder_error;
};

struct SitesListing {
  std::string server;
  siteconfig::IisService service = siteconfig::IisService::kWeb;
  std::string configuration;  // the UNC path of the file read
  std::string windows_directory;
  bool windows_directory_given = false;
  std::string unsupported;  // the service's server-wide reason, or ""
  // Where the sites and the Windows directory came from, and any folder
  // read under its IIS 7.5 name.
  std::vector<std::string> notes;
  std::vector<SiteRow> rows;
};

enum class SitesFormat { kText, kCsv, kJson, kSites };

// Parses "text", "csv", "json" or "sites"; false for anything else.
bool ParseSitesFormat(const std::string& text, SitesFormat& format);

// Writes `listing`. Text: the notes, then one aligned row per site
// (service, id, name, log directory, folder, exists, files, collected with
// the reason), then the error of each folder that could not be listed.
// CSV: the same columns with the reason apart, CRLF line ends. JSON: one
// object with the server, service, configuration, Windows directory and
// the sites as objects. Sites: the notes and the --windows-dir to collect
// with as "#" comment lines, then the descriptor of each collected site,
// each other site as a "# not collected:" comment. A comment is one line,
// its control characters replaced, whatever the configuration held.
void RenderSites(const SitesListing& listing, SitesFormat format,
                 std::ostream& out);

}  // namespace velnor::host

#endif  // VELNOR_HOST_RENDER_SITES_RENDER_H_
