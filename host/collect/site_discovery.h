// Site discovery: a server's sites read from its own IIS configuration
// through the administrative shares, for `velnor sites` and
// `velnor collect --discover-sites`.
#ifndef VELNOR_HOST_COLLECT_SITE_DISCOVERY_H_
#define VELNOR_HOST_COLLECT_SITE_DISCOVERY_H_

#include <string>
#include <vector>

#include "siteconfig/iis_sites.h"
#include "siteconfig/server_config.h"

namespace velnor::host {

struct Discovery {
  siteconfig::ServerConfig config;
  // True when the Windows directory came from --windows-dir or
  // --windows-dirs, false when it was found on the drive shares.
  bool windows_directory_given = false;
  siteconfig::IisSites sites;
};

// Reads the sites of `server` from the configuration under its configured
// Windows directory (platform/wmi, filled from --windows-dir and
// --windows-dirs) or, when none is configured, under the one found on its
// drive shares, which is then configured for the server so that log
// directories starting with a variable resolve against it. The share root
// and SMB settings must be in place. False after a usage message saying
// what could not be found or read and what to do.
bool DiscoverSites(const std::string& server, Discovery& discovery);

// The lines that say where the sites and the Windows directory of
// `server` came from: "sites of SRV read from \\SRV\C$\...", "Windows
// directory of SRV: C:\Windows (found on C$)" or "(given)".
std::vector<std::string> DiscoveryNotes(const std::string& server,
                                        const Discovery& discovery);

// `velnor collect --discover-sites`: discovers the sites of `server` and
// appends the descriptor of each site of the service (`ftp`) that can be
// collected to `sites`, only those whose id is in `site_ids` ("1,3") when
// it is not empty. `notes` get DiscoveryNotes and one line per site of the
// service left out, with the reason. False after a usage message: nothing
// found or readable, the service logging centrally, no site to collect, an
// id in `site_ids` that is not a site of the service or cannot be
// collected.
bool AddDiscoveredSites(const std::string& server, bool ftp,
                        const std::string& site_ids,
                        std::vector<std::string>& sites,
                        std::vector<std::string>& notes);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_SITE_DISCOVERY_H_
