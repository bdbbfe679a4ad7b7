// `velnor init-db`: argument checks come first, so that a mistyped server
// name never produces files named after it.
#include "host/init_db_command.h"

#include <sys/stat.h>

#include <cstdlib>
#include <iostream>
#include <memory>

#include "host/command_support.h"
#include "platform/ado/pg_connection.h"
#include "reportdb/pg_schema.h"
#include "reportdb/schema.h"
#include "platform/automation/error_state.h"

namespace velnor::host {

using reportdb::CreateReportDatabases;
using reportdb::CreatedDatabases;
namespace {

struct InitDbOptions {
  std::string db_dir;
  std::string db_url;
  std::string server;
  bool ftp = false;
};

// The central store's schemas: the same report, made in PostgreSQL.
int RunInitSchemas(const std::string& url, const InitDbOptions& options) {
  if (std::string problem = ado::pg::CheckDbUrl(url); !problem.empty()) {
    std::cerr << "velnor init-db: cannot use the database URL " << url << ": "
              << problem << ".\n";
    return 2;
  }
  CreatedDatabases result;
  bool made = automation::ResumeNext([&] {
    result = reportdb::CreateReportSchemas(url, options.server, options.ftp);
  });
  for (const std::string& schema : result.made) {
    std::cout << "made schema " << schema << "\n";
  }
  for (const std::string& schema : result.left) {
    std::cout << "left schema " << schema
              << " (it already exists; not changed)\n";
  }
  if (!made) {
    std::cerr << "velnor init-db: " << automation::Err().Description() << "\n";
    automation::Err().Clear();
    return 1;
  }
  return 0;
}

int RunInitDb(const InitDbOptions& options) {
  if (!IsValidHostName(options.server)) {
    std::cerr << "velnor init-db: '" << options.server
              << "' is not a valid server name: use a host name of letters, "
                 "digits, hyphens and dots (1-253 characters, no label "
                 "starting or ending with a hyphen).\n";
    return 2;
  }
  std::string url = options.db_url;
  if (url.empty() && options.db_dir.empty()) {
    if (const char* env = std::getenv("VELNOR_DB_URL")) url = env;
  }
  if (!url.empty()) return RunInitSchemas(url, options);
  if (options.db_dir.empty()) {
    std::cerr << "velnor init-db: give --db-dir FOLDER, or --db-url "
                 "postgresql://... (or VELNOR_DB_URL) for a central store.\n";
    return 2;
  }
  struct stat info{};
  if (::stat(options.db_dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    std::cerr << "velnor init-db: the database folder '" << options.db_dir
              << "' does not exist or is not a folder; create it first.\n";
    return 2;
  }
  CreatedDatabases result;
  bool made = automation::ResumeNext([&] {
    result = CreateReportDatabases(options.db_dir, options.server, options.ftp);
  });
  for (const std::string& path : result.made) {
    std::cout << "made " << path << "\n";
  }
  for (const std::string& path : result.left) {
    std::cout << "left " << path << " (it already exists; not changed)\n";
  }
  if (!made) {
    std::cerr << "velnor init-db: " << automation::Err().Description() << "\n";
    automation::Err().Clear();
    return 1;
  }
  return 0;
}

}  // namespace

void AddInitDbCommand(CLI::App& app, int* exit_status) {
  auto options = std::make_shared<InitDbOptions>();
  CLI::App* command = app.add_subcommand(
      "init-db",
      "Make the four report databases (day of week, month, hour, status) of "
      "one server and service in a folder. Existing files are left as they "
      "are.");
  command->footer(
      "Example:\n"
      "  velnor init-db --db-dir /srv/reports --server SRV1\n"
      "  makes /srv/reports/QDX_UAWebLogDayOfWeek_SRV1.mdb and the month,\n"
      "  hour and status files beside it; add --ftp for the FTP service.\n"
      "  velnor init-db --db-url postgresql://velnor@dbhost/velnor --server SRV1\n"
      "  makes the schemas qdx_uaweblogdayofweek_srv1 ... in a central\n"
      "  PostgreSQL store (the password from ~/.pgpass).");
  auto* db_dir = command
                     ->add_option("--db-dir", options->db_dir,
                                  "Existing folder that holds the report "
                                  "databases")
                     ->type_name("DIR");
  command
      ->add_option("--db-url", options->db_url,
                   "PostgreSQL store instead of --db-dir (default "
                   "VELNOR_DB_URL)")
      ->excludes(db_dir)
      ->type_name("URL");
  command
      ->add_option("--server", options->server,
                   "Name of the server whose logs the databases count")
      ->required()
      ->type_name("NAME");
  command->add_flag("--ftp", options->ftp,
                    "Make the FTP service's databases instead of the web "
                    "service's");
  command->callback(
      [options, exit_status] { *exit_status = RunInitDb(*options); });
}

}  // namespace velnor::host
