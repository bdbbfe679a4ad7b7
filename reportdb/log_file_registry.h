// The log-file registry (tblLogFiles of the hits-by-hour report database)
// as the host needs it around a run: read beforehand, the way the run will
// read it, so that the summary can name files the run will not read; and
// added to when the user asks for a site's new files to be registered.
// It works in the run's session, so a registration is kept only with the
// run's counts.
#ifndef VELNOR_REPORTDB_LOG_FILE_REGISTRY_H_
#define VELNOR_REPORTDB_LOG_FILE_REGISTRY_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/session.h"

namespace velnor::reportdb {

class LogFileRegistry {
 public:
  // The registry in the database `schema` of `session` (the hits-by-hour
  // database, joined already), of a service whose site column is
  // `site_column` ("Web Site Name" or "FTP Site Name"). Failures raise
  // automation::AutomationError naming the file.
  LogFileRegistry(ado::Session& session, std::string schema,
                  std::string site_column);

  // Rows of `server`, compared as the table compares its names, as the run
  // counts them to decide whether registrations matter at all.
  int64_t ServerFileCount(std::string_view server);
  // The file names registered for the site named `site_name`, the list
  // the run reads for it.
  std::vector<std::string> SiteFiles(std::string_view site_name);
  // Registers `names` for the site, in the session's transaction.
  void Register(std::string_view server, std::string_view identifier,
                std::string_view site_name,
                const std::vector<std::string>& names);

 private:
  ado::Session& session_;
  std::string schema_;
  std::string site_column_;
};

}  // namespace velnor::reportdb

#endif  // VELNOR_REPORTDB_LOG_FILE_REGISTRY_H_
