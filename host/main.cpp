// The velnor command. Each subcommand lives in its own file and adds
// itself to the application here; so does `help`. Mistakes the option
// parser finds are told in the style of every other usage mistake.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <string_view>

#include "host/collect_command.h"
#include "host/command_support.h"
#include "host/init_db_command.h"
#include "host/report_command.h"
#include "host/text_format.h"

namespace {

using velnor::host::Usage;

// "init-db, collect, report and help".
std::string CommandList(const CLI::App& app) {
  std::string list;
  const auto commands = app.get_subcommands({});
  for (size_t i = 0; i < commands.size(); ++i) {
    if (i > 0) list += i + 1 == commands.size() ? " and " : ", ";
    list += commands[i]->get_name();
  }
  return list;
}

// `velnor help [COMMAND]`: the help of the command, or of velnor.
void AddHelpCommand(CLI::App& app, int* exit_status) {
  CLI::App* help = app.add_subcommand("help", "Show the help of a command");
  auto command = std::make_shared<std::string>();
  help->add_option("command", *command, "The command to explain");
  help->callback([&app, command, exit_status] {
    // App::help would show the help of the chosen subcommand: this one.
    if (command->empty()) {
      std::cout << app.get_formatter()->make_help(&app, "velnor",
                                                  CLI::AppFormatMode::Normal);
      return;
    }
    for (const CLI::App* sub : app.get_subcommands({})) {
      if (sub->get_name() == *command) {
        std::cout << sub->help("velnor");
        return;
      }
    }
    Usage("\"" + velnor::host::Shown(*command) + "\" is not a velnor command",
          "the commands are " + CommandList(app));
    *exit_status = 2;
  });
}

// The parser's mistake in the common style; returns the exit status.
int ParseMistake(const CLI::App& app, const CLI::ParseError& error, int argc,
                 char** argv) {
  const std::string_view first = argc > 1 ? argv[1] : "";
  bool known = false;
  for (const CLI::App* sub : app.get_subcommands({})) {
    known = known || sub->get_name() == first;
  }
  if (first.empty() || first.starts_with('-')) {
    Usage("no command given",
          "say what to do: velnor COMMAND, where the "
          "commands are " +
              CommandList(app) + "; velnor help COMMAND explains one");
  } else if (!known) {
    Usage("\"" + velnor::host::Shown(first) + "\" is not a velnor command",
          "the commands are " + CommandList(app) +
              "; velnor help COMMAND explains one");
  } else {
    Usage(velnor::host::CutText(error.what(), 200),
          "velnor help " + std::string(first) +
              " shows its options and examples");
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "VELNOR Log Analysis: collect IIS log statistics into report "
      "databases.");
  app.require_subcommand(1);
  app.set_version_flag("--version", "velnor " VELNOR_VERSION);
  int exit_status = 0;
  velnor::host::AddInitDbCommand(app, &exit_status);
  velnor::host::AddCollectCommand(app, &exit_status);
  velnor::host::AddReportCommand(app, &exit_status);
  AddHelpCommand(app, &exit_status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& request) {
    return app.exit(request);
  } catch (const CLI::CallForAllHelp& request) {
    return app.exit(request);
  } catch (const CLI::CallForVersion& request) {
    return app.exit(request);
  } catch (const CLI::ParseError& error) {
    return ParseMistake(app, error, argc, argv);
  }
  return exit_status;
}
