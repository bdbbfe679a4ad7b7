// The velnor command line, assembled from the subcommands' files.
#include "host/cli/velnor_app.h"

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
          DidYouMean(ClosestName(*command, CommandNames(app))) +
              "the commands are " + CommandList(app));
    *exit_status = 2;
  });
}

namespace {

// Edits that turn `a` into `b`: letters added, dropped, changed, or two
// neighbours swapped (the optimal string alignment distance).
size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<size_t>> d(a.size() + 1,
                                     std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::string DidYouMean(const std::string& name) {
  return name.empty() ? "" : "did you mean " + name + "? ";
}

std::string ClosestName(std::string_view word,
                        const std::vector<std::string>& names) {
  const size_t letters =
      word.size() - std::min(word.find_first_not_of('-'), word.size());
  const size_t limit = std::min<size_t>(2, letters / 3);
  std::string best;
  size_t best_distance = limit + 1;
  bool tie = false;
  for (const std::string& name : names) {
    const size_t distance = EditDistance(word, name);
    if (distance < best_distance) {
      best = name;
      best_distance = distance;
      tie = false;
    } else if (distance == best_distance) {
      tie = true;
    }
  }
  return best_distance <= limit && !tie ? best : "";
}

std::vector<std::string> CommandNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* command : Subcommands(app)) {
    names.push_back(command->get_name());
  }
  return names;
}

std::vector<std::string> OptionNames(const CLI::App& command) {
  std::vector<std::string> names;
  for (const CLI::Option* option : TypedOptions(command)) {
    for (const std::string& name : option->get_lnames()) {
      names.push_back("--" + name);
    }
    for (const std::string& name : option->get_snames()) {
      names.push_back("-" + name);
    }
  }
  return names;
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
