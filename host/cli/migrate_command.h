// `velnor migrate`: copies the SQLite report databases of a folder into a
// central PostgreSQL store, one server and service at a time.
#ifndef VELNOR_HOST_CLI_MIGRATE_COMMAND_H_
#define VELNOR_HOST_CLI_MIGRATE_COMMAND_H_

#include <CLI/CLI.hpp>

namespace velnor::host {

// Adds the subcommand to `app`. When it is chosen, its callback runs the
// copy and stores the exit status in `*exit_status`: 0 when everything was
// copied, 2 for a usage mistake or a store that holds rows already (and
// --overwrite was not given), 1 when a copy failed (the store is then as
// before that copy).
void AddMigrateCommand(CLI::App& app, int* exit_status);

}  // namespace velnor::host

#endif  // VELNOR_HOST_CLI_MIGRATE_COMMAND_H_
