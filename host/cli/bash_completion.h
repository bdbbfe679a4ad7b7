// Bash completion for velnor, written from the command line's own option
// definitions: subcommand names, each subcommand's options, and values by
// the option's type name: DIR completes folders, FILE files, a list such as
// "text|csv|json" its words; other values are the user's to type.
#ifndef VELNOR_HOST_CLI_BASH_COMPLETION_H_
#define VELNOR_HOST_CLI_BASH_COMPLETION_H_

#include <CLI/CLI.hpp>
#include <string>

namespace velnor::host {

// A script for bash that defines the completion function and registers it
// for `velnor`. It needs nothing but bash itself.
std::string BashCompletion(const CLI::App& app);

}  // namespace velnor::host

#endif  // VELNOR_HOST_CLI_BASH_COMPLETION_H_
