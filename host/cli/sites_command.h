// `velnor sites`: what a server's own IIS configuration says about its
// sites, as collect --discover-sites would take them: each site's id, name
// and configured log directory, the UNC folder its logs are read from,
// whether that folder exists and how many files it holds, and why a site
// is not collected. As a table, CSV, JSON, or a --sites file.
#ifndef VELNOR_HOST_CLI_SITES_COMMAND_H_
#define VELNOR_HOST_CLI_SITES_COMMAND_H_

#include <CLI/CLI.hpp>

namespace velnor::host {

// Adds the subcommand to `app`. When it is chosen, its callback lists the
// sites and stores the exit status in `*exit_status`: 0 when the sites were
// read, 2 after a usage message (a bad option, no configuration found or
// readable).
void AddSitesCommand(CLI::App& app, int* exit_status);

}  // namespace velnor::host

#endif  // VELNOR_HOST_CLI_SITES_COMMAND_H_
