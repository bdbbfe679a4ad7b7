// The velnor command line, assembled from the subcommands' files.
#include "host/velnor_app.h"

#include "host/collect_command.h"
#include "host/init_db_command.h"
#include "host/migrate_command.h"
#include "host/report_command.h"
#include "host/sites_command.h"

namespace velnor::host {

std::unique_ptr<CLI::App> MakeVelnorApp(int* exit_status) {
  auto app = std::make_unique<CLI::App>(
      "VELNOR Log Analysis: collect IIS log statistics into report "
      "databases.",
      "velnor");
  app->require_subcommand(1);
  AddInitDbCommand(*app, exit_status);
  AddCollectCommand(*app, exit_status);
  AddReportCommand(*app, exit_status);
  AddSitesCommand(*app, exit_status);
  AddMigrateCommand(*app, exit_status);
  return app;
}

std::vector<const CLI::App*> Subcommands(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App*) { return true; });
}

std::vector<const CLI::Option*> TypedOptions(const CLI::App& command) {
  return command.get_options(
      [](const CLI::Option* option) {
        // Options of the group "" are hidden from --help, so from the
        // manual and completion too.
        return option->nonpositional() && !option->get_group().empty();
      });
}

}  // namespace velnor::host
