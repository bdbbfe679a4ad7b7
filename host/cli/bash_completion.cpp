// Writing the completion script: one case per subcommand for its options,
// one case per kind of value for the word after an option.
#include "host/cli/bash_completion.h"

#include <fmt/format.h>

#include <map>
#include <string>
#include <vector>

#include "host/cli/velnor_app.h"
#include "host/render/text_format.h"

namespace velnor::host {
namespace {

// "-h --help", or with `separator` "|" a pattern of a case arm.
std::string Names(const CLI::Option& option, char separator = ' ') {
  std::string names;
  const std::string_view between(&separator, 1);
  for (const std::string& name : option.get_snames()) {
    AppendListItem(names, between, "-" + name);
  }
  for (const std::string& name : option.get_lnames()) {
    AppendListItem(names, between, "--" + name);
  }
  return names;
}

// The bash statements that complete a value of `type`, "" for free text.
// File and folder names are taken one a line, so that names with blanks
// stay whole, and quoted by readline as names are (-o filenames).
std::string ValueCompletion(const std::string& type) {
  const char* kNames =
      "local IFS=$'\\n'; compopt -o filenames 2>/dev/null; "
      "COMPREPLY=($(compgen -{} -- \"$cur\"))";
  if (type == "DIR") return fmt::format(fmt::runtime(kNames), 'd');
  if (type == "FILE") return fmt::format(fmt::runtime(kNames), 'f');
  if (type.find('|') == std::string::npos) return "";
  std::string words = type;
  for (char& c : words) {
    if (c == '|') c = ' ';
  }
  return fmt::format("COMPREPLY=($(compgen -W \"{}\" -- \"$cur\"))", words);
}

// The `case "$prev"` arms of `command`: its options grouped by how their
// values complete. Subcommands differ (the formats of collect are not
// those of report), so each has its own.
std::string ValueCases(const CLI::App& command) {
  std::map<std::string, std::string> options_by_completion;
  for (const CLI::Option* option : TypedOptions(command)) {
    if (IsFlag(*option)) continue;
    std::string& options =
        options_by_completion[ValueCompletion(option->get_type_name())];
    AppendListItem(options, "|", Names(*option, '|'));
  }
  std::string cases;
  for (const auto& [completion, options] : options_by_completion) {
    cases += fmt::format("        {}) {}; return ;;\n", options,
                         completion.empty() ? "COMPREPLY=()" : completion);
  }
  return cases;
}

// For a command whose first argument names a command (velnor help
// COMMAND): the statement that completes that word.
std::string CommandArgument(const CLI::App& command,
                            const std::string& commands) {
  const std::vector<const CLI::Option*> positionals =
      command.get_options([](const CLI::Option* option) {
        return option->get_positional() && option->get_type_name() == "COMMAND";
      });
  if (positionals.empty()) return "";
  return fmt::format(
      "      if (( COMP_CWORD == i + 1 )) && [[ $cur != -* ]]; then\n"
      "        COMPREPLY=($(compgen -W \"{}\" -- \"$cur\")); return\n"
      "      fi\n",
      commands);
}

std::string CommandCases(const CLI::App& app, const std::string& commands) {
  std::string cases;
  for (const CLI::App* command : Subcommands(app)) {
    std::string options;
    for (const CLI::Option* option : TypedOptions(*command)) {
      AppendListItem(options, " ", Names(*option));
    }
    cases += fmt::format(
        "    {})\n      options=\"{}\"\n{}      case \"$prev\" in\n{}"
        "      esac ;;\n",
        command->get_name(), options, CommandArgument(*command, commands),
        ValueCases(*command));
  }
  return cases;
}

}  // namespace

std::string BashCompletion(const CLI::App& app) {
  std::string commands;
  for (const CLI::App* command : Subcommands(app)) {
    AppendListItem(commands, " ", command->get_name());
  }
  std::string command_arms = commands;
  for (char& c : command_arms) {
    if (c == ' ') c = '|';
  }
  return fmt::format(
      R"(# bash completion for velnor -*- shell-script -*-
# Made from velnor's option definitions; do not edit.
_velnor() {{
  local cur=${{COMP_WORDS[COMP_CWORD]}} prev=${{COMP_WORDS[COMP_CWORD-1]}}
  local command="" options i
  for ((i = 1; i < COMP_CWORD; i++)); do
    case "${{COMP_WORDS[i]}}" in
      {0}) command=${{COMP_WORDS[i]}}; break ;;
    esac
  done
  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "{1} --help" -- "$cur"))
    return
  fi
  case "$command" in
{2}  esac
  COMPREPLY=($(compgen -W "$options" -- "$cur"))
}}
complete -F _velnor velnor
)",
      command_arms, commands, CommandCases(app, commands));
}

}  // namespace velnor::host
