// The manual page velnor(1), written from the command line's own option
// definitions: the synopsis, each subcommand's description, options and
// examples are those `velnor COMMAND --help` shows, so the two never
// disagree.
#ifndef VELNOR_HOST_CLI_MAN_PAGE_H_
#define VELNOR_HOST_CLI_MAN_PAGE_H_

#include <CLI/CLI.hpp>
#include <string>
#include <string_view>

namespace velnor::host {

// The page in roff with the man macros, for `version` of velnor.
std::string ManPage(const CLI::App& app, std::string_view version);

// `text` escaped for roff: backslashes, hyphens of option names and lines
// that would start with a control character.
std::string RoffText(std::string_view text);

}  // namespace velnor::host

#endif  // VELNOR_HOST_CLI_MAN_PAGE_H_
