// The log-file registry (tblLogFiles of the hits-by-hour report database)
// as the host needs it around a run: read beforehand, the way the run will
// read it, so that the summary can name files the run will not read; and
// changed only when the user asks for a site's new files to be registered.
#ifndef VELNOR_HOST_LOG_FILE_REGISTRY_H_
#define VELNOR_HOST_LOG_FILE_REGISTRY_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace velnor::host {

class LogFileRegistry {
 public:
  // Opens the registry in the database file `db_file` of a service whose
  // site column is `site_column` ("Web Site Name" or "FTP Site Name").
  // Raises automation::AutomationError naming the file when it cannot be
  // opened.
  LogFileRegistry(const std::string& db_file, std::string site_column);
  ~LogFileRegistry();
  LogFileRegistry(const LogFileRegistry&) = delete;
  LogFileRegistry& operator=(const LogFileRegistry&) = delete;

  // Rows of `server` (its name without regard to case), as the run counts
  // them to decide whether registrations matter at all.
  int64_t ServerFileCount(std::string_view server);
  // The file names registered for the site named `site_name` (without
  // regard to case), the list the run reads for it.
  std::vector<std::string> SiteFiles(std::string_view site_name);
  // Registers `names` for the site, all or none.
  void Register(std::string_view server, std::string_view identifier,
                std::string_view site_name,
                const std::vector<std::string>& names);

 private:
  struct Statement;
  [[noreturn]] void Fail(const std::string& action);

  std::string path_;
  std::string site_column_;
  sqlite3* db_ = nullptr;
};

}  // namespace velnor::host

#endif  // VELNOR_HOST_LOG_FILE_REGISTRY_H_
