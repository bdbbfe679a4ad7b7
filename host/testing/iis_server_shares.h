// Test support: the administrative shares of an IIS 10 server with web and
// FTP sites, laid out in folders that a share root or a Samba server
// serves, and the site descriptors a user would type for it by hand.
#ifndef VELNOR_HOST_TESTING_IIS_SERVER_SHARES_H_
#define VELNOR_HOST_TESTING_IIS_SERVER_SHARES_H_

#include <filesystem>
#include <string>
#include <vector>

namespace velnor::host {

// Fills `c_drive` (C$) and `d_drive` (D$): C:\Windows holds
// siteconfig/testdata/iis10-sites.applicationHost.config, and the log
// folders of its sites hold logs of 3 to 5 June 2024 from examples/ and
// host/testdata/iis85-ftp/:
//   web 1 and 3 under %SystemDrive%\inetpub\logs\LogFiles (C$), 7 under
//   D:\Logs\Shop, 9 under C:\inetpub\logs\Partners, and 4 (logging in
//   NCSA, so never collected) under D:\Logs\Reports;
//   FTP 9 under %SystemDrive%\inetpub\logs\LogFiles\MSFTPSVC9 and FTP 12,
//   an IIS 8.5 log, under D:\FtpLogs\FTPSVC12.
void LayOutIisServer(const std::filesystem::path& c_drive,
                     const std::filesystem::path& d_drive);

// The descriptors of the sites LayOutIisServer's configuration lets be
// collected, as typed by hand (they need the Windows directory C:\Windows).
std::vector<std::string> HandTypedWebSites();
std::vector<std::string> HandTypedFtpSites();
// The options of collect that give those sites (web or `ftp`) of `server`
// by hand: its Windows directory and a --site for each.
std::vector<std::string> HandTypedSiteOptions(const std::string& server,
                                              bool ftp);

// The records in the logs of those sites (web or `ftp`), counted from the
// files laid out: every line that is not a directive.
long RecordsOfCollectedSites(const std::filesystem::path& c_drive,
                             const std::filesystem::path& d_drive, bool ftp);

}  // namespace velnor::host

#endif  // VELNOR_HOST_TESTING_IIS_SERVER_SHARES_H_
