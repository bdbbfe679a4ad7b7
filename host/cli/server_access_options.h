// The command-line options that fill a ServerAccess.
#ifndef VELNOR_HOST_CLI_SERVER_ACCESS_OPTIONS_H_
#define VELNOR_HOST_CLI_SERVER_ACCESS_OPTIONS_H_

#include <CLI/CLI.hpp>

#include "host/collect/server_access.h"

namespace velnor::host {

// Adds the options that fill `access` to the subcommand `cmd`.
void AddServerAccessOptions(CLI::App& cmd, ServerAccess& access);

}  // namespace velnor::host

#endif  // VELNOR_HOST_CLI_SERVER_ACCESS_OPTIONS_H_
