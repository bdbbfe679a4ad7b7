// `velnor runs`: the runs the collection ledgers of a database folder
// record, with their windows, sites, outcome and counts, for one server or
// all of them.
#ifndef VELNOR_HOST_CLI_RUNS_COMMAND_H_
#define VELNOR_HOST_CLI_RUNS_COMMAND_H_

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <string>

namespace velnor::host {

struct RunsOptions {
  std::string db_dir;
  std::string db_url;  // a PostgreSQL store instead of db_dir
  std::string server;  // empty: every server with a ledger in the folder
  std::string format = "text";  // text, csv or json
};

// Lists the runs to `out`. Returns the exit status: 0 when listed; 2 for a
// usage mistake (bad format or server name, a folder that does not exist,
// a store that cannot be reached, neither holding a ledger of the server), with
// one message on `err`; 1 when a ledger cannot be read.
int RunRuns(const RunsOptions& options, std::ostream& out, std::ostream& err);

// Adds the subcommand to `app`; its callback stores the exit status in
// `*exit_status`.
void AddRunsCommand(CLI::App& app, int* exit_status);

}  // namespace velnor::host

#endif  // VELNOR_HOST_CLI_RUNS_COMMAND_H_
