// Spellings are read off the database file names in the folder: each
// report kind's name with the server part compared without regard to case.
#include "host/collect/server_spelling.h"

#include <filesystem>
#include <set>

#include "host/common/command_support.h"
#include "platform/automation/text.h"
#include "reportdb/report_files.h"

namespace velnor::host {

using reportdb::kReportKinds;
using reportdb::ReportDatabaseFileName;
using reportdb::ReportKind;

bool MatchServerSpelling(const std::string& db_dir, bool ftp,
                         std::string& server) {
  std::set<std::string> spellings;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(db_dir, error)) {
    const std::string name = entry.path().filename().string();
    for (ReportKind kind : kReportKinds) {
      const std::string wanted = ReportDatabaseFileName(kind, server, ftp);
      if (!automation::EqualsIgnoringAsciiCase(name, wanted)) continue;
      // The server part sits right before ".mdb".
      const size_t at = wanted.size() - server.size() - 4;
      spellings.insert(name.substr(at, server.size()));
    }
  }
  if (spellings.size() > 1) {
    std::string listed;
    for (const std::string& spelling : spellings) {
      listed += (listed.empty() ? "" : " and ") + Shown(spelling);
    }
    return Usage("report databases of " + listed + " exist in " +
                     Shown(db_dir) +
                     "; server names differ only in case, so they are the "
                     "same server",
                 "keep one set: move the other set's files out of the "
                 "folder");
  }
  if (!spellings.empty()) server = *spellings.begin();
  return true;
}

}  // namespace velnor::host
