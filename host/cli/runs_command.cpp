// `velnor runs`: every ledger of the folder or store (one per server and
// service) is read in a read transaction of its own; nothing is written,
// not even a lock file, so the command works on a read-only folder and
// during a run.
#include "host/cli/runs_command.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>

#include "host/common/command_support.h"
#include "host/render/json_layout.h"
#include "host/render/runs_table.h"
#include "host/render/text_format.h"
#include "ledger/ledger_files.h"
#include "ledger/ledger_schema.h"
#include "ledger/ledger_store.h"
#include "platform/ado/ado.h"
#include "platform/ado/pg_connection.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "reportdb/report_location.h"

namespace velnor::host {
namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = 5000;

void Tell(std::ostream& err, const std::string& problem,
          const std::string& help) {
  err << "velnor: error: " << problem << "\n  help: " << help << "\n";
}

struct LedgerFile {
  ledger::LedgerName name;
  std::string path;
};

bool OfServer(const ledger::LedgerName& name, const std::string& server) {
  return server.empty() ||
         automation::EqualsIgnoringAsciiCase(name.server, server);
}

// The ledgers of the folder or store, of `server` (any case) when given, by
// server and service.
std::vector<LedgerFile> FindLedgers(const reportdb::ReportLocation& location,
                                    const std::string& server) {
  std::vector<LedgerFile> found;
  if (location.IsPostgres()) {
    for (const std::string& schema : ledger::PgLedgerSchemas(location.db_url)) {
      std::optional<ledger::LedgerName> name =
          ledger::ParseLedgerSchemaName(schema);
      if (OfServer(*name, server)) {
        found.push_back(
            {*name, location.LedgerPath(name->server, name->is_ftp)});
      }
    }
  } else {
    std::error_code error;
    fs::directory_iterator entries(location.db_dir, error);
    if (error) {
      automation::Raise(automation::kErrPermissionDenied, error.message());
    }
    for (const fs::directory_entry& entry : entries) {
      std::optional<ledger::LedgerName> name =
          ledger::ParseLedgerFileName(entry.path().filename().string());
      if (name && OfServer(*name, server)) {
        found.push_back({*name, entry.path().string()});
      }
    }
  }
  std::sort(found.begin(), found.end(),
            [](const LedgerFile& a, const LedgerFile& b) {
              return std::tie(a.name.server, a.name.is_ftp) <
                     std::tie(b.name.server, b.name.is_ftp);
            });
  return found;
}

std::vector<ledger::RunRow> ReadRuns(const reportdb::ReportLocation& location,
                                     const std::string& path) {
  auto session = ado::Session::BeginReading(kWaitMs, location.MakeEngine());
  ledger::LedgerStore store(*session, session->Attach(path));
  std::vector<ledger::RunRow> runs = store.ReadRunsAndDays().runs;
  session->Commit();
  return runs;
}

// The run without an end that is going on now: the latest of the ledger,
// while a run holds the lock of its server and service. 0 when none is.
int64_t RunningRun(const reportdb::ReportLocation& location,
                   const LedgerFile& file,
                   const std::vector<ledger::RunRow>& runs) {
  if (runs.empty() || runs.back().outcome != ledger::Outcome::kInterrupted) {
    return 0;
  }
  const bool held = location.RunLockHeld(file.name.server, file.name.is_ftp);
  return held ? runs.back().run_id : 0;
}

// Where the ledgers are: --db-dir, --db-url or VELNOR_DB_URL. Nothing,
// after the message, when neither can be used.
std::optional<reportdb::ReportLocation> Location(const RunsOptions& options,
                                                 std::ostream& err) {
  reportdb::ReportLocation location{options.db_dir, options.db_url};
  if (location.db_dir.empty() && location.db_url.empty()) {
    if (const char* env = std::getenv("VELNOR_DB_URL")) location.db_url = env;
  }
  if (location.db_dir.empty() && location.db_url.empty()) {
    Tell(err, "no ledgers given",
         "give --db-dir FOLDER, or --db-url postgresql://... (or "
         "VELNOR_DB_URL) for a central store");
    return std::nullopt;
  }
  if (location.IsPostgres()) {
    if (std::string problem = ado::pg::CheckDbUrl(location.db_url);
        !problem.empty()) {
      Tell(
          err,
          "cannot use the database URL " + ado::pg::ShownDbUrl(location.db_url),
          problem);
      return std::nullopt;
    }
    return location;
  }
  if (auto [problem, help] = DbDirProblem(location.db_dir); !problem.empty()) {
    Tell(err, problem, help);
    return std::nullopt;
  }
  return location;
}

std::string Csv(const std::vector<std::vector<std::string>>& rows) {
  std::string out;
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (i > 0) out += ',';
      out += CsvField(row[i]);
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
  const std::optional<reportdb::ReportLocation> location =
      Location(options, err);
  if (!location) return 2;
  std::vector<LedgerFile> ledgers;
  if (!automation::ResumeNext(
          [&] { ledgers = FindLedgers(*location, options.server); })) {
    if (location->IsPostgres()) {
      Tell(err,
           "cannot use the report store " + location->Name() + ": " +
               automation::Err().Description(),
           StoreUnreachableHelp(location->db_url));
    } else {
      Tell(err,
           "cannot list the folder " + Shown(location->db_dir) +
               " for its ledgers: " + automation::Err().Description(),
           "velnor reads the ledgers with its user's rights; run it as a "
           "user who may read " +
               Shown(location->db_dir) + " (see ls -ld " +
               ShellWord(location->db_dir) + ")");
    }
    automation::Err().Clear();
    return 2;
  }
  if (ledgers.empty()) {
    Tell(err,
         "no collection ledger" +
             (options.server.empty() ? "" : " of " + Shown(options.server)) +
             " in '" + Shown(location->Name()) + "'",
         "velnor collect makes a server's ledger with its first run; check " +
             std::string(location->db_url.empty() ? "--db-dir" : "--db-url") +
             " and --server");
    return 2;
  }
  std::vector<std::vector<std::string>> rows;
  Json json = Json::array();
  for (const LedgerFile& file : ledgers) {
    // The engine would call a pipe or a folder there missing, when it is
    // what stands in the ledger's place.
    if (std::string kind = NotAFileKind(file.path); !kind.empty()) {
      Tell(err,
           "the collection ledger '" + Shown(file.path) + "' is " + kind +
               ", not a file, so it cannot be read",
           "velnor keeps its ledgers in regular files; move it out of " +
               Shown(location->db_dir) +
               " (and restore the ledger there from a backup), then run the "
               "same command again");
      return 1;
    }
    std::vector<ledger::RunRow> runs;
    int64_t running = 0;
    if (!automation::ResumeNext([&] {
          runs = ReadRuns(*location, file.path);
          running = RunningRun(*location, file, runs);
        })) {
      std::string reason = automation::Err().Description();
      const bool no_table =
          automation::Err().Number() == ado::kErrTableNotFound;
      automation::Err().Clear();
      auto [problem, help] =
          no_table ? LedgerLacksTable(*location, file.path, kWaitMs,
                                      /*collecting=*/false)
                   : std::pair<std::string, std::string>();
      if (problem.empty()) {
        problem = "cannot read the collection ledger '" +
                  location->Shown(file.path) + "': " + reason;
        help = "check that it is readable";
      }
      Tell(err, problem, help);
      return 1;
    }
    for (const ledger::RunRow& run : runs) {
      json.push_back(RunJson(run, run.run_id == running));
    }
    std::vector<std::vector<std::string>> these = RunRows(runs, true, running);
    rows.insert(rows.end(), rows.empty() ? these.begin() : these.begin() + 1,
                these.end());
  }
  std::string text;
  if (options.format == "csv") {
    text = Csv(rows);
  } else if (options.format == "json") {
    text = LaidOut(json, 1) + "\n";  // one run a line
  } else if (rows.size() == 1) {
    text = "No runs recorded.\n";
  } else {
    text = AlignedColumns(rows, "");
  }
  return WriteWhole(out, text, "the list of runs", err) ? 0 : 1;
}

void AddRunsCommand(CLI::App& app, int* exit_status) {
  auto options = std::make_shared<RunsOptions>();
  CLI::App* command = app.add_subcommand(
      "runs",
      "List the collection runs the ledgers of a database folder or central "
      "store record: "
      "window, sites, start and end, outcome and records counted.");
  command->footer(
      "Examples:\n"
      "  velnor runs --db-dir /srv/reports\n"
      "      every server's runs, web and FTP\n"
      "  velnor runs --db-dir /srv/reports --server SRV1 --format csv\n"
      "Times are UTC. A run that never committed (killed, a power cut) shows "
      "as\n\"interrupted, nothing counted\"; its days are collected by the "
      "next run.");
  CLI::Option* db_dir =
      command
          ->add_option("--db-dir", options->db_dir,
                       "Folder that holds the report databases and ledgers")
          ->type_name("DIR");
  command
      ->add_option("--db-url", options->db_url,
                   "A central PostgreSQL store instead (or VELNOR_DB_URL)")
      ->type_name("URL")
      ->excludes(db_dir);
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
