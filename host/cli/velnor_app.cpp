// The velnor command line, assembled from the subcommands' files.
#include "host/cli/velnor_app.h"

#include <iostream>
#include <memory>
#include <string>

#include "host/cli/collect_command.h"
#include "host/cli/init_db_command.h"
#include "host/cli/migrate_command.h"
#include "host/cli/report_command.h"
#include "host/cli/runs_command.h"
#include "host/cli/sites_command.h"
#include "host/common/command_support.h"

namespace velnor::host {

std::unique_ptr<CLI::App> MakeVelnorApp(int* exit_status) {
  auto app = std::make_unique<CLI::App>(
      "VELNOR Log Analysis: collect IIS log statistics into report "
      "databases.",
      "velnor");
  app->require_subcommand(1);
  app->set_version_flag("--version", "velnor " VELNOR_VERSION);
  AddInitDbCommand(*app, exit_status);
  AddCollectCommand(*app, exit_status);
  AddReportCommand(*app, exit_status);
  AddRunsCommand(*app, exit_status);
  AddSitesCommand(*app, exit_status);
  AddMigrateCommand(*app, exit_status);
  AddHelpCommand(*app, exit_status);
  return app;
}

void AddHelpCommand(CLI::App& app, int* exit_status) {
  CLI::App* help = app.add_subcommand("help", "Show the help of a command");
  auto command = std::make_shared<std::string>();
  help->add_option("command", *command, "The command to explain")
      ->type_name("COMMAND");
  help->callback([&app, command, exit_status] {
    // App::help would show the help of the chosen subcommand: this one.
    if (command->empty()) {
      std::cout << app.get_formatter()->make_help(&app, "velnor",
                                                  CLI::AppFormatMode::Normal);
      return;
    }
    for (const CLI::App* sub : Subcommands(app)) {
      if (sub->get_name() == *command) {
        std::cout << sub->help("velnor");
        return;
      }
    }
    Usage("\"" + Shown(*command) + "\" is not a velnor command",
          "the commands are " + CommandList(app));
    *exit_status = 2;
  });
}

std::string CommandList(const CLI::App& app) {
  std::string list;
  const std::vector<const CLI::App*> commands = Subcommands(app);
  for (size_t i = 0; i < commands.size(); ++i) {
    if (i > 0) list += i + 1 == commands.size() ? " and " : ", ";
    list += commands[i]->get_name();
  }
  return list;
}

std::vector<const CLI::App*> Subcommands(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App*) { return true; });
}

std::vector<const CLI::Option*> TypedOptions(const CLI::App& command) {
  return command.get_options([](const CLI::Option* option) {
    // Options of the group "" are hidden from --help, so from the
    // manual and completion too.
    return option->nonpositional() && !option->get_group().empty();
  });
}

}  // namespace velnor::host
