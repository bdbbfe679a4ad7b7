// The `velnor init-db` subcommand: makes the report databases of one server
// and service in a folder, as the host application does before collecting.
#ifndef VELNOR_HOST_CLI_INIT_DB_COMMAND_H_
#define VELNOR_HOST_CLI_INIT_DB_COMMAND_H_

#include <CLI/CLI.hpp>
#include <string>

namespace velnor::host {

// Adds the subcommand to `app`. When it is chosen, its callback makes the
// databases, prints one line per file (made or left as it was) and stores
// the process exit status in `*exit_status`: 0 on success, 2 for a bad
// server name or a missing folder, 1 when a file could not be made.
void AddInitDbCommand(CLI::App& app, int* exit_status);

}  // namespace velnor::host

#endif  // VELNOR_HOST_CLI_INIT_DB_COMMAND_H_
