// `velnor runs`: every ledger of the folder (one per server and service) is
// read in a read transaction of its own; nothing is written, not even a
// lock file, so the command works on a read-only folder and during a run.
#include "host/cli/runs_command.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>

#include "host/common/command_support.h"
#include "host/render/runs_table.h"
#include "host/render/text_format.h"
#include "ledger/ledger_files.h"
#include "ledger/ledger_store.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "reportdb/run_lock.h"

namespace velnor::host {
namespace {

namespace fs = std::filesystem;
using reportdb::RunLock;

constexpr int kWaitMs = 5000;

void Tell(std::ostream& err, const std::string& problem,
          const std::string& help) {
  err << "velnor: error: " << problem << "\n  help: " << help << "\n";
}

struct LedgerFile {
  ledger::LedgerName name;
  std::string path;
};

// The ledgers of the folder, of `server` (any case) when given, by server
// and service.
std::vector<LedgerFile> FindLedgers(const std::string& db_dir,
                                    const std::string& server) {
  std::vector<LedgerFile> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(db_dir)) {
    std::optional<ledger::LedgerName> name =
        ledger::ParseLedgerFileName(entry.path().filename().string());
    if (!name || (!server.empty() &&
                  !automation::EqualsIgnoringAsciiCase(name->server, server))) {
      continue;
    }
    found.push_back({*name, entry.path().string()});
  }
  std::sort(found.begin(), found.end(),
            [](const LedgerFile& a, const LedgerFile& b) {
              return std::tie(a.name.server, a.name.is_ftp) <
                     std::tie(b.name.server, b.name.is_ftp);
            });
  return found;
}

std::vector<ledger::RunRow> ReadRuns(const std::string& path) {
  auto session = ado::Session::BeginReading(kWaitMs);
  ledger::LedgerStore store(*session, session->Attach(path));
  std::vector<ledger::RunRow> runs = store.ReadAll().runs;
  session->Commit();
  return runs;
}

// The run without an end that is going on now: the latest of the ledger,
// while a run holds the lock of its server and service. 0 when none is.
int64_t RunningRun(const std::string& db_dir, const LedgerFile& file,
                   const std::vector<ledger::RunRow>& runs) {
  if (runs.empty() || runs.back().outcome != ledger::Outcome::kInterrupted ||
      !RunLock::IsHeld(db_dir, file.name.server, file.name.is_ftp)) {
    return 0;
  }
  return runs.back().run_id;
}

std::string Csv(const std::vector<std::vector<std::string>>& rows) {
  std::string out;
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      out += (i ? "," : "") + CsvField(row[i]);
    }
    out += "\r\n";
  }
  return out;
}

}  // namespace

int RunRuns(const RunsOptions& options, std::ostream& out, std::ostream& err) {
  if (options.format != "text" && options.format != "csv" &&
      options.format != "json") {
    Tell(err, "unknown format '" + Shown(options.format) + "'",
         "give text, csv or json to --format");
    return 2;
  }
  if (!options.server.empty() && !IsValidHostName(options.server)) {
    Tell(err, "'" + Shown(options.server) + "' is not a valid server name",
         "give the server's host name, as velnor collect was given it");
    return 2;
  }
  if (!fs::is_directory(options.db_dir)) {
    Tell(err,
         "the database folder '" + Shown(options.db_dir) +
             "' does not exist or is not a folder",
         "check --db-dir");
    return 2;
  }
  const std::vector<LedgerFile> ledgers =
      FindLedgers(options.db_dir, options.server);
  if (ledgers.empty()) {
    Tell(err,
         "no collection ledger" +
             (options.server.empty() ? "" : " of " + Shown(options.server)) +
             " in '" + Shown(options.db_dir) + "'",
         "velnor collect makes a server's ledger with its first run; check "
         "--db-dir and --server");
    return 2;
  }
  std::vector<std::vector<std::string>> rows;
  std::string json;
  for (const LedgerFile& file : ledgers) {
    std::vector<ledger::RunRow> runs;
    if (!automation::ResumeNext([&] { runs = ReadRuns(file.path); })) {
      Tell(err,
           "cannot read the collection ledger '" + file.path +
               "': " + automation::Err().Description(),
           "check that it is readable");
      automation::Err().Clear();
      return 1;
    }
    const int64_t running = RunningRun(options.db_dir, file, runs);
    for (const ledger::RunRow& run : runs) {
      json += (json.empty() ? "[\n  " : ",\n  ") +
              RunJson(run, run.run_id == running);
    }
    std::vector<std::vector<std::string>> these = RunRows(runs, true, running);
    rows.insert(rows.end(), rows.empty() ? these.begin() : these.begin() + 1,
                these.end());
  }
  if (options.format == "csv") {
    out << Csv(rows);
  } else if (options.format == "json") {
    out << (json.empty() ? "[]\n" : json + "\n]\n");
  } else if (rows.size() == 1) {
    out << "No runs recorded.\n";
  } else {
    out << AlignedColumns(rows, "");
  }
  return 0;
}

void AddRunsCommand(CLI::App& app, int* exit_status) {
  auto options = std::make_shared<RunsOptions>();
  CLI::App* command = app.add_subcommand(
      "runs",
      "List the collection runs the ledgers of a database folder record: "
      "window, sites, start and end, outcome and records counted.");
  command->footer(
      "Examples:\n"
      "  velnor runs --db-dir /srv/reports\n"
      "      every server's runs, web and FTP\n"
      "  velnor runs --db-dir /srv/reports --server SRV1 --format csv\n"
      "Times are UTC. A run that never committed (killed, a power cut) shows "
      "as\n\"interrupted, nothing counted\"; its days are collected by the "
      "next run.");
  command
      ->add_option("--db-dir", options->db_dir,
                   "Folder that holds the report databases and ledgers")
      ->required()
      ->type_name("DIR");
  command
      ->add_option("--server", options->server,
                   "Only this server's runs (both services)")
      ->type_name("NAME");
  command
      ->add_option("--format", options->format, "text (default), csv or json")
      ->type_name("text|csv|json");
  command->callback([options, exit_status] {
    *exit_status = RunRuns(*options, std::cout, std::cerr);
  });
}

}  // namespace velnor::host
