// The velnor command. Each subcommand lives in its own file and adds
// itself to the application here.
#include <CLI/CLI.hpp>

#include "host/collect_command.h"
#include "host/init_db_command.h"
#include "host/migrate_command.h"
#include "host/report_command.h"
#include "host/sites_command.h"

int main(int argc, char** argv) {
  CLI::App app("VELNOR Log Analysis: collect IIS log statistics into report "
               "databases.");
  app.require_subcommand(1);
  int exit_status = 0;
  velnor::host::AddInitDbCommand(app, &exit_status);
  velnor::host::AddCollectCommand(app, &exit_status);
  velnor::host::AddReportCommand(app, &exit_status);
  velnor::host::AddSitesCommand(app, &exit_status);
  velnor::host::AddMigrateCommand(app, &exit_status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    int status = app.exit(error);
    // Usage mistakes share exit status 2; asking for help is a success.
    return status == 0 ? 0 : 2;
  }
  return exit_status;
}
