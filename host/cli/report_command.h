// The `velnor report` subcommand: shows what the report databases of one
// server and service hold, per site, as text tables, CSV, JSON or an HTML
// page with charts; without a server, the overview of every server and
// service of the folder or store, one line each.
#ifndef VELNOR_HOST_CLI_REPORT_COMMAND_H_
#define VELNOR_HOST_CLI_REPORT_COMMAND_H_

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <optional>
#include <string>

namespace velnor::host {

struct ReportOptions {
  std::string db_dir;
  std::string db_url;               // a PostgreSQL store instead of db_dir
  std::string server;               // empty: the overview
  bool is_ftp = false;              // the overview: FTP services only
  std::optional<std::string> site;  // one site's Identifier, or all sites
  std::string format = "text";      // text, csv, json or html
  std::string output;               // a file to write; empty: `out`
  // Limits of the daily series and the ledger's runs shown, YYYY-MM-DD;
  // empty: open.
  std::string from;
  std::string to;
};

// Runs the report: checks the options, reads the databases read-only,
// renders, and writes to `options.output` or `out`. The overview's page
// (html) needs `options.output`, and each readable server's page is
// written beside it, named by ServerPageName(). Returns the process
// exit status: 0 on success; 2 for a usage mistake (bad format, server
// name or date, missing folder or database files, a site without rows), with
// one message on `err` and nothing written; 1 when a database cannot be read or
// the output file cannot be written, with the reason on `err`.
int RunReport(const ReportOptions& options, std::ostream& out,
              std::ostream& err);

// Adds the subcommand to `app`. When it is chosen, its callback runs the
// report to standard output and stores the exit status in `*exit_status`.
void AddReportCommand(CLI::App& app, int* exit_status);

}  // namespace velnor::host

#endif  // VELNOR_HOST_CLI_REPORT_COMMAND_H_
