// The velnor command line: the application with every subcommand and
// option. The command itself, its manual page and its shell completion are
// all made from this one definition.
#ifndef VELNOR_HOST_CLI_VELNOR_APP_H_
#define VELNOR_HOST_CLI_VELNOR_APP_H_

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::host {

// The application with its subcommands. When one of them is parsed and
// run, its callback stores the process exit status in `*exit_status`,
// which must outlive the application.
std::unique_ptr<CLI::App> MakeVelnorApp(int* exit_status);

// Adds `velnor help [COMMAND]` to `app`: the help of the command, or of
// velnor; an unknown command is a usage mistake (exit status 2).
void AddHelpCommand(CLI::App& app, int* exit_status);

// "init-db, collect, report, sites and help": the subcommands of `app`.
std::string CommandList(const CLI::App& app);

// Every subcommand of `app`, in the order they were added.
std::vector<const CLI::App*> Subcommands(const CLI::App& app);

// The options of `command` that --help lists, in the order they were
// added, help first.
std::vector<const CLI::Option*> TypedOptions(const CLI::App& command);

// The name of `names` closest to `word`, a mistyped one ("colect",
// "--frm"): at most two edits (a letter added, dropped, changed, or two
// swapped) and fewer than a third of its letters; "" when none is that
// close, or two are equally close.
std::string ClosestName(std::string_view word,
                        const std::vector<std::string>& names);

// "did you mean NAME? " before a help text, or "" when `name` is empty.
std::string DidYouMean(const std::string& name);

// The names of `app`'s subcommands.
std::vector<std::string> CommandNames(const CLI::App& app);

// The long and short names of `command`'s options, with their dashes.
std::vector<std::string> OptionNames(const CLI::App& command);

// True for an option that takes no value.
inline bool IsFlag(const CLI::Option& option) {
  return option.get_expected_max() == 0;
}

}  // namespace velnor::host

#endif  // VELNOR_HOST_CLI_VELNOR_APP_H_
