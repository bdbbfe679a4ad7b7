// Site discovery: a server's sites read from its own IIS configuration
// through the administrative shares, for `velnor sites` and
// `velnor collect --discover-sites`.
#ifndef VELNOR_SITECONFIG_SITE_DISCOVERY_H_
#define VELNOR_SITECONFIG_SITE_DISCOVERY_H_

#include <string>
#include <vector>

#include "platform/wmi/wmi.h"
#include "siteconfig/iis_sites.h"
#include "siteconfig/server_config.h"

namespace velnor::siteconfig {

// Why a server's sites cannot be discovered or chosen, as the user is to
// be told: the problem and what to do about it.
struct Refusal {
  std::string problem;
  std::string help;
};

struct Discovery {
  ServerConfig config;
  // True when the Windows directory came from --windows-dir or
  // --windows-dirs, false when it was found on the drive shares.
  bool windows_directory_given = false;
  IisSites sites;
};

// Reads the sites of `server` from the configuration under its Windows
// directory in `windows_directories` (filled from --windows-dir and
// --windows-dirs) or, when it has none, under the one found on its drive
// shares, which is then set there for the server so that log directories
// starting with a variable resolve against it. The shares are reached
// through `shares`. False with `refusal` set saying what could
// not be found or read and what to do.
bool DiscoverSites(const unc::ShareAccess& shares, const std::string& server,
                   wmi::WindowsDirectories& windows_directories,
                   Discovery& discovery, Refusal& refusal);

// The lines that say where the sites and the Windows directory of
// `server` came from: "sites of SRV read from \\SRV\C$\...", "Windows
// directory of SRV: C:\Windows (found on C$)" or "(given)".
std::vector<std::string> DiscoveryNotes(const std::string& server,
                                        const Discovery& discovery);

// `velnor collect --discover-sites`: discovers the sites of `server` and
// appends the descriptor of each site of the service (`ftp`) that can be
// collected to `sites`, only those whose id is in `site_ids` ("1,3") when
// it is not empty, through DiscoverSites with `shares` and
// `windows_directories`.
// `notes` get DiscoveryNotes and one line per site of the
// service left out, with the reason. False with `refusal` set: nothing
// found or readable, the service logging centrally, no site to collect, an
// id in `site_ids` that is not a site of the service or cannot be
// collected.
bool AddDiscoveredSites(const unc::ShareAccess& shares,
                        const std::string& server, bool ftp,
                        const std::string& site_ids,
                        wmi::WindowsDirectories& windows_directories,
                        std::vector<std::string>& sites,
                        std::vector<std::string>& notes, Refusal& refusal);

}  // namespace velnor::siteconfig

#endif  // VELNOR_SITECONFIG_SITE_DISCOVERY_H_
