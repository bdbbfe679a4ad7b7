// Finding and reading a server's IIS configuration through its
// administrative shares (a share root or SMB, see platform/unc): which
// drive and folder hold Windows, and the sites the file there configures.
#ifndef VELNOR_SITECONFIG_SERVER_CONFIG_H_
#define VELNOR_SITECONFIG_SERVER_CONFIG_H_

#include <string>

#include "platform/unc/unc.h"
#include "siteconfig/iis_sites.h"

namespace velnor::siteconfig {

// Below a Windows directory: IIS 7 and later, then IIS 6.
inline constexpr char kApplicationHostFile[] =
    "System32\\inetsrv\\config\\applicationHost.config";
inline constexpr char kMetabaseFile[] = "system32\\inetsrv\\MetaBase.xml";

struct ServerConfig {
  // The server's Windows directory as a drive-letter path, "C:\Windows"
  // (the folder's name as the share spells it when it was searched for).
  std::string windows_directory;
  // The UNC path of the configuration file, e.g. the applicationHost.config
  // below "\\SRV\C$\Windows".
  std::string path;
};

// Finds the IIS configuration of `server`, reached through `shares`. With a
// `windows_directory`
// ("D:\WINNT") only that folder is looked in. Without one, the drive shares
// C$ to Z$ the server has are looked at in that order, in each the folders
// Windows and then WINNT (without regard to case), and the first that holds
// a configuration file is taken. In a folder, applicationHost.config is
// preferred to MetaBase.xml.
//
// Raises automation::AutomationError: file not found (53) when no
// configuration is found, naming what was looked for and any share that
// could not be listed; invalid procedure call (5) for a `windows_directory`
// without a drive letter; and the UNC layer's error when the server cannot
// be reached or a configuration file cannot be opened for another reason
// than being missing.
ServerConfig FindServerConfig(const unc::ShareAccess& shares,
                              const std::string& server,
                              const std::string& windows_directory);

// The sites of the configuration file `path`, reached through `shares` (see
// ReadIisSites). Reads at
// most kMaxXmlBytes + 1 bytes; raises kErrInvalidFileFormat for a larger
// file and otherwise like ReadIisSites and unc::OpenForReading.
IisSites ReadServerSites(const unc::ShareAccess& shares,
                         const std::string& path);

}  // namespace velnor::siteconfig

#endif  // VELNOR_SITECONFIG_SERVER_CONFIG_H_
