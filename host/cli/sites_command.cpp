// The sites subcommand: discovery, each site's folder looked at through the
// same resolution collect uses, and the listing.
#include "host/cli/sites_command.h"

#include <iostream>
#include <memory>
#include <sstream>

#include "component/velnor.h"
#include "host/cli/collect_command.h"
#include "host/cli/server_access_options.h"
#include "host/collect/server_access.h"
#include "host/collect/site_log_folder.h"
#include "host/common/command_support.h"
#include "host/render/sites_render.h"
#include "platform/automation/error_state.h"
#include "platform/unc/unc.h"
#include "siteconfig/site_discovery.h"

namespace velnor::host {
namespace {

constexpr char kExamples[] = R"(
Examples:
  velnor sites --server SRV1 --share-root /mnt/shares
  velnor sites --server SRV1 --smb-auth ~/.velnor-smb --ftp --format json
  velnor sites --server SRV1 --share-root /mnt/shares --format sites > sites.txt

The sites are read from the server's own IIS configuration, found through
its administrative shares: applicationHost.config (IIS 7 and later) or
MetaBase.xml (IIS 6) under Windows or WINNT on the first drive share C$ to
Z$ that has one, or under the Windows directory --windows-dir gives.
Exit status: 0 listed, 2 usage mistake or no configuration found.)";

struct SitesOptions {
  std::string server;
  bool ftp = false;
  std::string format = "text";
  ServerAccess access;
};

// The site's folder and what it holds.
SiteRow LookAt(LogParserInterface& parser, const unc::ShareAccess& shares,
               const SitesListing& listing, const siteconfig::IisSite& site) {
  SiteRow row{site, "", FolderState::kUnresolved, 0, ""};
  if (!siteconfig::UnreachableDirectory(site.log_directory).empty()) return row;
  SiteLogFolder listed = ListSiteLogFolder(
      parser, shares, listing.server,
      listing.service == siteconfig::IisService::kFtp,
      ExpandSystemDrive(site.log_directory,
                        listing.windows_directory.substr(0, 2)),
      site.id);
  row.folder = listed.actual;
  if (row.folder.empty()) return row;
  if (listed.listed) {
    row.state = FolderState::kPresent;
    for (const unc::DirEntry& entry : listed.entries) {
      row.log_files += entry.is_file ? 1 : 0;
    }
  } else if (listed.error_number == automation::kErrPathNotFound) {
    row.state = FolderState::kMissing;
  } else {
    row.state = FolderState::kUnreadable;
    row.folder_error = listed.error_description;
  }
  return row;
}

int RunSites(const SitesOptions& options) {
  SitesFormat format;
  if (!ParseSitesFormat(options.format, format)) {
    Usage("--format " + options.format + " is not known",
          "use text, csv, json or sites");
    return kExitUsage;
  }
  RunSettings settings;
  if (!CheckServerName(options.server) ||
      !ConfigureServerAccess(options.access, settings.windows_directories,
                             settings.shares)) {
    return kExitUsage;
  }
  siteconfig::Discovery discovery;
  siteconfig::Refusal refusal;
  if (!siteconfig::DiscoverSites(settings.shares, options.server,
                                 settings.windows_directories, discovery,
                                 refusal)) {
    Usage(refusal.problem, refusal.help);
    return kExitUsage;
  }
  SitesListing listing;
  listing.server = options.server;
  listing.service =
      options.ftp ? siteconfig::IisService::kFtp : siteconfig::IisService::kWeb;
  listing.configuration = discovery.config.path;
  listing.windows_directory = discovery.config.windows_directory;
  listing.windows_directory_given = discovery.windows_directory_given;
  listing.unsupported = discovery.sites.UnsupportedReason(listing.service);
  listing.notes = siteconfig::DiscoveryNotes(options.server, discovery);
  auto parser = CreateLogParser({}, settings);
  for (const siteconfig::IisSite& site : discovery.sites.Of(listing.service)) {
    listing.rows.push_back(LookAt(*parser, settings.shares, listing, site));
  }
  std::ostringstream text;
  RenderSites(listing, format, text);
  // A --sites file for collect is written this way: one cut short by a
  // full disk would collect fewer sites without a word.
  if (!WriteWhole(std::cout, text.view(), "the list of sites", std::cerr)) {
    return kExitLoggedErrors;
  }
  // An empty list is no mistake, but easily taken for one of velnor's.
  if (listing.rows.empty() && listing.unsupported.empty()) {
    const bool ftp = listing.service == siteconfig::IisService::kFtp;
    std::cerr << "velnor: note: the IIS configuration of " << options.server
              << " (" << listing.configuration << ") has no "
              << (ftp ? "FTP" : "web")
              << " site\n  help: velnor sites --server " << options.server
              << (ftp ? "" : " --ftp") << " lists its " << (ftp ? "web" : "FTP")
              << " sites\n";
  }
  return kExitCompleted;
}

}  // namespace

void AddSitesCommand(CLI::App& app, int* exit_status) {
  auto options = std::make_shared<SitesOptions>();
  CLI::App* cmd = app.add_subcommand(
      "sites", "List a server's sites from its own IIS configuration");
  cmd->footer(kExamples);
  cmd->add_option("--server", options->server, "Server whose sites are listed")
      ->type_name("NAME")
      ->required();
  cmd->add_flag("--ftp", options->ftp, "FTP sites instead of web sites");
  cmd->add_option("--format", options->format,
                  "text (default), csv, json, or sites (a --sites file)")
      ->type_name("text|csv|json|sites");
  AddServerAccessOptions(*cmd, options->access);
  cmd->callback([options, exit_status] { *exit_status = RunSites(*options); });
}

}  // namespace velnor::host
