// `velnor init-db`: argument checks come first, so that a mistyped server
// name never produces files named after it.
#include "host/init_db_command.h"

#include <iostream>
#include <memory>

#include "host/command_support.h"
#include "reportdb/schema.h"
#include "platform/automation/error_state.h"

namespace velnor::host {

using reportdb::CreateReportDatabases;
using reportdb::CreatedDatabases;
namespace {

struct InitDbOptions {
  std::string db_dir;
  std::string server;
  bool ftp = false;
};

int RunInitDb(const InitDbOptions& options) {
  if (!CheckServerName(options.server) || !CheckDbDir(options.db_dir)) {
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
    Usage("cannot make the report databases of " + options.server + " in " +
              Shown(options.db_dir) + ": " + automation::Err().Description(),
          "fix what the message names and run velnor init-db again; files "
          "already there are left as they are");
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
      "  hour and status files beside it; add --ftp for the FTP service.");
  command
      ->add_option("--db-dir", options->db_dir,
                   "Existing folder that holds the report databases")
      ->required()
      ->type_name("DIR");
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
