// `velnor init-db`: argument checks come first, so that a mistyped server
// name never produces files (or schemas) named after it.
#include "host/cli/init_db_command.h"

#include <cstdlib>
#include <iostream>
#include <memory>

#include "host/collect/server_spelling.h"
#include "host/common/command_support.h"
#include "ledger/ledger_schema.h"
#include "platform/ado/pg_connection.h"
#include "platform/automation/error_state.h"
#include "reportdb/pg_schema.h"
#include "reportdb/report_files.h"
#include "reportdb/report_location.h"
#include "reportdb/schema.h"
#include "statistics/statistics_store.h"

namespace velnor::host {

using reportdb::CreatedDatabases;
using reportdb::CreateReportDatabases;
namespace {

struct InitDbOptions {
  std::string db_dir;
  std::string db_url;
  std::string server;
  bool ftp = false;
};

// Prints what was made and left; reports a failure in the common style.
int Report(const CreatedDatabases& result, const std::string& ledger_note,
           bool made, const std::string& kind, const std::string& server,
           const std::string& where) {
  for (const std::string& name : result.made) {
    std::cout << "made " << kind << name << "\n";
  }
  for (const std::string& name : result.upgraded) {
    std::cout << "upgraded " << kind << name
              << " (brought to the current design)\n";
  }
  for (const std::string& name : result.left) {
    std::cout << "left " << kind << name
              << " (it already exists; not changed)\n";
  }
  if (!ledger_note.empty()) std::cout << ledger_note << "\n";
  if (made) return 0;
  Usage("cannot make the report databases of " + server + " in " + where +
            ": " + automation::Err().Description(),
        "fix what the message names and run velnor init-db again; " +
            std::string(kind.empty() ? "database files" : "schemas") +
            " already there are left as they are");
  automation::Err().Clear();
  return 1;
}

// The statistics database beside the report databases, made or left, as
// they are, or brought to the current design when of an earlier one;
// `name` is how the lines name it.
void AddStatistics(const reportdb::ReportLocation& location,
                   const InitDbOptions& options, const std::string& name,
                   CreatedDatabases& result) {
  if (location.CreateStatistics(options.server, options.ftp)) {
    result.made.push_back(name);
  } else if (location.UpgradeStatistics(options.server, options.ftp)) {
    result.upgraded.push_back(name);
  } else {
    result.left.push_back(name);
  }
}

// The collection ledger of the server's service, left or brought to the
// current design like the statistics when it exists. A missing one is
// made only with the report databases it belongs to: made here, a
// collector that signs in as a role which may make nothing finds it on its
// first run. Beside report databases that were there before, it would
// declare whatever they count to be no run's, and a collection is what
// tells whether they hold counts (it then asks for --start-ledger).
// Returns the line that says why it was not made; empty when it was there
// or made.
std::string AddLedger(const reportdb::ReportLocation& location,
                      const InitDbOptions& options, const std::string& name,
                      bool reports_made, CreatedDatabases& result) {
  if (location.LedgerExists(options.server, options.ftp)) {
    (location.UpgradeLedger(options.server, options.ftp) ? result.upgraded
                                                         : result.left)
        .push_back(name);
  } else if (reports_made) {
    // Another init-db may have made it since.
    (location.CreateLedger(options.server, options.ftp) ? result.made
                                                        : result.left)
        .push_back(name);
  } else {
    return "no collection ledger made: " + name +
           " is missing beside report databases made before; the first "
           "velnor collect makes it (or, when they hold counts, asks for "
           "--start-ledger)";
  }
  return "";
}

// Whether `result` holds just the report databases, all made now.
bool AllReportsMade(const CreatedDatabases& result) {
  return result.made.size() == reportdb::kReportKinds.size();
}

// The central store's schemas: the same report databases, in PostgreSQL.
int RunInitSchemas(const std::string& url, const InitDbOptions& options) {
  if (std::string problem = ado::pg::CheckDbUrl(url); !problem.empty()) {
    Usage("cannot use the database URL " + ado::pg::ShownDbUrl(url), problem);
    return 2;
  }
  CreatedDatabases result;
  std::string ledger_note;
  bool made = automation::ResumeNext([&] {
    result = reportdb::CreateReportSchemas(url, options.server, options.ftp);
    const bool reports_made = AllReportsMade(result);
    const reportdb::ReportLocation location{"", url};
    AddStatistics(location, options,
                  statistics::StatisticsSchemaName(options.server, options.ftp),
                  result);
    ledger_note =
        AddLedger(location, options,
                  ledger::LedgerSchemaName(options.server, options.ftp),
                  reports_made, result);
  });
  return Report(result, ledger_note, made, "schema ", options.server, url);
}

int RunInitDb(const InitDbOptions& given) {
  if (!CheckServerName(given.server)) return 2;
  InitDbOptions options = given;
  std::string url = options.db_url;
  if (url.empty() && options.db_dir.empty()) {
    if (const char* env = std::getenv("VELNOR_DB_URL")) url = env;
  }
  if (!url.empty()) return RunInitSchemas(url, options);
  if (options.db_dir.empty()) {
    Usage("no place for the report databases given",
          "give --db-dir FOLDER, or --db-url postgresql://... (or "
          "VELNOR_DB_URL) for a central store");
    return 2;
  }
  if (!CheckDbDir(options.db_dir)) return 2;
  // "web01" and "WEB01" are one server: databases made under the first
  // beside those of the second would be a set collect refuses to choose
  // from. Those there already are the ones to complete or leave.
  if (!MatchServerSpelling(options.db_dir, options.ftp, options.server)) {
    return 2;
  }
  for (reportdb::ReportKind kind : reportdb::kReportKinds) {
    if (!CheckDatabaseFile(options.db_dir + "/" +
                               reportdb::ReportDatabaseFileName(
                                   kind, options.server, options.ftp),
                           "the report database")) {
      return 2;
    }
  }
  const reportdb::ReportLocation location{options.db_dir, ""};
  const std::string statistics =
      location.StatisticsPath(options.server, options.ftp);
  if (!CheckDatabaseFile(statistics, "the statistics database")) return 2;
  const std::string ledger = location.LedgerPath(options.server, options.ftp);
  if (!CheckDatabaseFile(ledger, "the collection ledger")) return 2;
  CreatedDatabases result;
  std::string ledger_note;
  bool made = automation::ResumeNext([&] {
    result = CreateReportDatabases(options.db_dir, options.server, options.ftp);
    const bool reports_made = AllReportsMade(result);
    AddStatistics(location, options, statistics, result);
    ledger_note = AddLedger(location, options, ledger, reports_made, result);
  });
  return Report(result, ledger_note, made, "", options.server,
                Shown(options.db_dir));
}

}  // namespace

void AddInitDbCommand(CLI::App& app, int* exit_status) {
  auto options = std::make_shared<InitDbOptions>();
  CLI::App* command = app.add_subcommand(
      "init-db",
      "Make the four report databases (day of week, month, hour, status) of "
      "one server and service, its statistics database and its collection "
      "ledger in a folder, or their schemas in a central PostgreSQL store. "
      "Existing ones are left as they are.");
  command->footer(
      "Example:\n"
      "  velnor init-db --db-dir /srv/reports --server SRV1\n"
      "  makes /srv/reports/QDX_UAWebLogDayOfWeek_SRV1.mdb and the month,\n"
      "  hour and status files beside it; add --ftp for the FTP service.\n"
      "  velnor init-db --db-url postgresql://velnor@dbhost/velnor --server "
      "SRV1\n"
      "  makes the schemas qdx_uaweblogdayofweek_srv1 ... in a central\n"
      "  PostgreSQL store (the password from ~/.pgpass).");
  auto* db_dir = command
                     ->add_option("--db-dir", options->db_dir,
                                  "Existing folder that holds the report "
                                  "databases")
                     ->type_name("DIR");
  command
      ->add_option("--db-url", options->db_url,
                   "PostgreSQL store instead of --db-dir (default "
                   "VELNOR_DB_URL)")
      ->excludes(db_dir)
      ->type_name("URL");
  command
      ->add_option("--server", options->server,
                   "Name of the server whose logs the databases count")
      ->required()
      ->type_name("NAME");
  command->add_flag("--ftp", options->ftp,
                    "Make the FTP service's databases instead of the web "
                    "service's");
  command->callback(
      [options, exit_status] { *exit_status = RunInitDb(*options); });
}

}  // namespace velnor::host
