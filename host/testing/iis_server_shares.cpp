// The IIS server layout shared by the discovery tests.
#include "host/testing/iis_server_shares.h"

#include <fstream>

namespace velnor::host {

namespace fs = std::filesystem;

namespace {

const fs::path kSource = VELNOR_SOURCE_DIR;
const fs::path kWebLogs = kSource /
                          "examples/shares/WEB01/C$/inetpub/logs/"
                          "LogFiles/W3SVC1";
const fs::path kIntranetLogs = kSource / "examples/shares/WEB01/D$/Logs/W3SVC2";
const fs::path kOldFtpLogs =
    kSource / "examples/shares/FTP01/C$/WINDOWS/system32/LogFiles/MSFTPSVC1";

void CopyFolder(const fs::path& from, const fs::path& to) {
  fs::create_directories(to);
  fs::copy(from, to, fs::copy_options::recursive);
}

void CopyFile(const fs::path& from, const fs::path& to) {
  fs::create_directories(to.parent_path());
  fs::copy_file(from, to);
}

// The records of every log file below `folder`.
long RecordsIn(const fs::path& folder) {
  long records = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::ifstream in(entry.path());
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line[0] != '#' && line != "\r") ++records;
    }
  }
  return records;
}

}  // namespace

void LayOutIisServer(const fs::path& c_drive, const fs::path& d_drive) {
  CopyFile(kSource / "siteconfig/testdata/iis10-sites.applicationHost.config",
           c_drive / "Windows/System32/inetsrv/config/applicationHost.config");
  CopyFolder(kWebLogs, c_drive / "inetpub/logs/LogFiles/W3SVC1");
  CopyFolder(kIntranetLogs, c_drive / "inetpub/logs/LogFiles/W3SVC3");
  CopyFolder(kIntranetLogs, d_drive / "Logs/Shop/W3SVC7");
  CopyFolder(kWebLogs, c_drive / "inetpub/logs/Partners/W3SVC9");
  CopyFolder(kWebLogs, d_drive / "Logs/Reports/W3SVC4");
  CopyFolder(kOldFtpLogs, c_drive / "inetpub/logs/LogFiles/MSFTPSVC9");
  CopyFile(kSource / "host/testdata/iis85-ftp/u_ex240604.log",
           d_drive / "FtpLogs/FTPSVC12/u_ex240604.log");
}

std::vector<std::string> HandTypedWebSites() {
  return {"Default Web Site,%SystemDrive%\\inetpub\\logs\\LogFiles,1",
          "Intranet,%SystemDrive%\\inetpub\\logs\\LogFiles,3",
          "Shop,D:\\Logs\\Shop,7", "Partners,C:\\inetpub\\logs\\Partners,9"};
}

std::vector<std::string> HandTypedFtpSites() {
  return {"Partners,%SystemDrive%\\inetpub\\logs\\LogFiles,9",
          "Public FTP,D:\\FtpLogs,12"};
}

std::vector<std::string> HandTypedSiteOptions(const std::string& server,
                                              bool ftp) {
  std::vector<std::string> options = {"--windows-dir", server + "=C:\\Windows"};
  for (const std::string& site :
       ftp ? HandTypedFtpSites() : HandTypedWebSites()) {
    options.insert(options.end(), {"--site", site});
  }
  return options;
}

long RecordsOfCollectedSites(const fs::path& c_drive, const fs::path& d_drive,
                             bool ftp) {
  if (ftp) {
    return RecordsIn(c_drive / "inetpub/logs/LogFiles/MSFTPSVC9") +
           RecordsIn(d_drive / "FtpLogs/FTPSVC12");
  }
  return RecordsIn(c_drive / "inetpub/logs/LogFiles/W3SVC1") +
         RecordsIn(c_drive / "inetpub/logs/LogFiles/W3SVC3") +
         RecordsIn(d_drive / "Logs/Shop/W3SVC7") +
         RecordsIn(c_drive / "inetpub/logs/Partners/W3SVC9");
}

}  // namespace velnor::host
