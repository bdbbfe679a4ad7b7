// `velnor collect`: the host of the component. It checks what the
// component does not (dates, server name, site descriptors, folders),
// decides each site's days against the collection ledger (so that no day is
// counted twice by accident), creates a LogParser through the factory, runs
// CollectIISLogData with the terminal or headless progress window, records
// the run in the ledger with its counts, prints a summary and, in raw mode,
// renders the grid. The run itself is host/collect's; this is its options.
#ifndef VELNOR_HOST_CLI_COLLECT_COMMAND_H_
#define VELNOR_HOST_CLI_COLLECT_COMMAND_H_

#include <CLI/CLI.hpp>

#include "host/collect/collect_options.h"

namespace velnor::host {

// Adds the subcommand to `app`. When it is chosen, its callback runs the
// collection and stores the exit status in `*exit_status`.
void AddCollectCommand(CLI::App& app, int* exit_status);

}  // namespace velnor::host

#endif  // VELNOR_HOST_CLI_COLLECT_COMMAND_H_
