// The checks of a collect run, all made before anything is written.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "host/collect/collect_ledger.h"
#include "host/collect/collect_plan.h"
#include "host/collect/server_spelling.h"
#include "host/collect/site_list.h"
#include "host/collect/site_log_folder.h"
#include "host/common/command_support.h"
#include "host/render/text_format.h"
#include "ledger/ledger_files.h"
#include "platform/ado/pg_connection.h"
#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"
#include "platform/automation/text.h"
#include "reportdb/pg_schema.h"
#include "reportdb/schema.h"
#include "siteconfig/site_discovery.h"

namespace velnor::host {
namespace {

namespace fs = std::filesystem;

using reportdb::CreatedDatabases;
using reportdb::CreateReportDatabases;
using reportdb::kReportKinds;
using reportdb::ReportDatabaseFileName;
using reportdb::ReportKind;
using reportdb::ReportLocation;
using reportdb::RunLock;

// Parses a strict yyyy-mm-dd date.
bool ParseDay(const std::string& text, double& day) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return automation::ResumeNext([&] {
    day = automation::DateSerial(std::stoi(text.substr(0, 4)),
                                 std::stoi(text.substr(5, 2)),
                                 std::stoi(text.substr(8, 2)));
  });
}

// A date option that was given must be a date.
bool CheckDay(const char* option, const std::string& text,
              std::optional<double>& day) {
  if (text.empty()) return true;
  double parsed = 0;
  if (!ParseDay(text, parsed)) {
    const std::string reason = NoSuchDayReason(text);
    return Usage(std::string(option) + " " + Shown(text) + " is not a date" +
                     (reason.empty() ? "" : ": " + reason),
                 "write it as YYYY-MM-DD");
  }
  day = parsed;
  return true;
}

bool CheckPeriod(const CollectOptions& options, PlannedRun& run) {
  if (!CheckDay("--from", options.from, run.from) ||
      !CheckDay("--to", options.to, run.to) ||
      !CheckDay("--start-ledger", options.start_ledger, run.start_ledger)) {
    return false;
  }
  if (options.since_last) return true;
  if (!run.from || !run.to) {
    return Usage("no days to collect: --from and --to are needed",
                 "give the first and the last day (--from 2024-06-01 --to "
                 "2024-06-30), or --since-last to go on after the last day "
                 "counted");
  }
  if (*run.to < *run.from) {
    return Usage("the period ends (" + options.to + ") before it starts (" +
                     options.from + ")",
                 "swap --from and --to");
  }
  return true;
}

bool CheckSites(const CollectOptions& options, PlannedRun& run) {
  std::vector<TextLine> sites;
  for (const std::string& site : options.sites) sites.push_back({site, ""});
  std::vector<WindowsDir> windows_dirs;
  if (const auto& file = options.sites_file) {
    if (file->empty()) {
      return Usage("--sites is empty",
                   "give the file of site descriptors, or --site "
                   "\"NAME,LOGDIR,ID\" for each site");
    }
    if (!ReadSitesFile(*file, sites, windows_dirs)) return false;
  }
  // Set before the options' own, which take their place.
  for (const WindowsDir& dir : windows_dirs) {
    run.windows_directories.Set(dir.server, dir.path);
  }
  for (const TextLine& site : sites) {
    if (!CheckSiteDescriptor(site)) return false;
    run.sites.push_back(site.text);
  }
  return CheckEachSiteOnce(sites);
}

// The drive of the server's Windows directory ("C:"), or empty.
std::string WindowsDrive(const PlannedRun& run) {
  return run.windows_directories.Of(run.server).substr(0, 2);
}

// "%SystemDrive%\rest" becomes "C:\rest" with the drive of the server's
// Windows directory: the component would put the whole Windows directory
// in the variable's place. Other "%" directories reach the component as
// they are; all of them need the server's Windows directory.
bool ExpandDescriptor(const PlannedRun& run, std::string& descriptor) {
  const std::string& server = run.server;
  automation::StringArray fields = automation::Split(descriptor, ",");
  if (fields[1].front() != '%') return true;
  std::string drive = WindowsDrive(run);
  if (drive.empty()) {
    return Usage("the log directory " + Shown(fields[1]) +
                     " needs the Windows directory of " + server,
                 "give it with --windows-dir " + server + "=C:\\Windows");
  }
  descriptor =
      fields[0] + "," + ExpandSystemDrive(fields[1], drive) + "," + fields[2];
  return true;
}

std::string InitDbCommand(const CollectOptions& options,
                          const PlannedRun& run) {
  return std::string("velnor init-db ") +
         (run.location.IsPostgres() ? "--db-url " : "--db-dir ") +
         ShellWord(run.location.Name()) + " --server " + run.server +
         (options.ftp ? " --ftp" : "");
}

// The central store's schemas, checked before the run (made later, once
// every check passed, with --create-db), so that a store that cannot be
// reached or lacks a schema is a usage message and nothing is touched.
bool CheckSchemas(const CollectOptions& options, const PlannedRun& run) {
  const std::string& url = run.location.db_url;
  reportdb::FoundSchemas found;
  if (!automation::ResumeNext([&] {
        found = reportdb::FindReportSchemas(url, run.server, options.ftp);
      })) {
    std::string reason = automation::Err().Description();
    automation::Err().Clear();
    return Usage("cannot use the report store " + url + ": " + reason,
                 "nothing was collected; correct what the message names, then "
                 "run the same command again");
  }
  if (!found.lacking.empty()) {
    const std::string& table = found.lacking.front();
    return Usage("the report schema " + table.substr(0, table.find('.')) +
                     " in " + url +
                     " is of an earlier design and lacks its table " +
                     table.substr(table.find('.') + 1) +
                     " (another tool renamed or dropped it), so a run cannot "
                     "bring it to the current design",
                 "nothing was collected; run " + InitDbCommand(options, run) +
                     ", which makes the missing table anew (empty) and brings "
                     "the schemas to the current design with their rows, then "
                     "run the same command again");
  }
  if (found.missing.empty() || options.create_db) return true;
  return Usage(
      "the report schema " + found.missing.front() + " is missing in " + url,
      "make it with " + InitDbCommand(options, run) + ", or add --create-db");
}

bool CheckDatabases(const CollectOptions& options, const PlannedRun& run) {
  if (run.location.IsPostgres()) return CheckSchemas(options, run);
  if (options.create_db) return true;
  for (ReportKind kind : kReportKinds) {
    if (options.raw && kind != ReportKind::kHitsByHour) continue;
    fs::path file = fs::path(options.db_dir) /
                    ReportDatabaseFileName(kind, run.server, options.ftp);
    if (!fs::exists(file)) {
      return Usage("the report database " + file.string() + " is missing",
                   "make it with " + InitDbCommand(options, run) +
                       ", or add --create-db");
    }
  }
  return true;
}

// Why this user cannot write the file `path`, or make it, for a message.
std::string WhyNotWritable(const fs::path& path) {
  const fs::path folder =
      path.parent_path().empty() ? fs::path(".") : path.parent_path();
  std::error_code error;
  if (fs::exists(path, error)) return "this user may not write it";
  if (!fs::exists(folder, error)) {
    return "its folder " + Shown(folder.string()) + " does not exist";
  }
  if (!fs::is_directory(folder, error)) {
    return Shown(folder.string()) + " is a file, not a folder";
  }
  return "this user may not make files in its folder " + Shown(folder.string());
}

// The run drops a failure it cannot write to the error log, so a log in a
// missing or read-only folder would make a failed run look clean.
// The default one lies in the database folder, which the run writes as
// well: the folder is then what to make writable.
bool CheckErrorLog(const std::string& path, bool in_db_dir) {
  fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) folder = ".";
  // A pipe would hand the lines to whoever reads it, and a device would
  // swallow them: either way a failed run would leave no trace.
  if (std::string kind = SpecialFileKind(path); !kind.empty()) {
    return Usage("the error log " + Shown(path) + " is " + kind +
                     ", not a file: velnor writes only regular files",
                 "give --error-log a log file, such as velnor-errors.log");
  }
  if (IsDatabaseFile(path)) {
    return Usage("the error log " + Shown(path) +
                     " is a database, which its lines would spoil",
                 "give --error-log a log file, such as velnor-errors.log");
  }
  bool writable =
      fs::exists(path)
          ? !fs::is_directory(path) && access(path.c_str(), W_OK) == 0
          : fs::is_directory(folder) && access(folder.c_str(), W_OK) == 0;
  if (writable) return true;
  if (in_db_dir && access(folder.c_str(), W_OK) != 0) {
    return Usage("cannot write the error log " + Shown(path) +
                     ": the database folder " + Shown(folder.string()) +
                     " cannot be written",
                 "a run writes its databases, a lock file and the error log "
                 "there; make the folder writable (or mount it read-write)");
  }
  return Usage(
      "cannot write the error log " + Shown(path) + ": " + WhyNotWritable(path),
      "give --error-log a writable file in an existing folder");
}

// Checked before the run, so that a listing that cannot be written is a
// usage mistake and not an hour's run lost; opened (and an existing file
// emptied) only once every check has passed.
bool CheckOutput(const CollectOptions& options) {
  if (!options.raw || options.output.empty()) return true;
  if (fs::is_directory(options.output)) {
    return Usage("--output " + Shown(options.output) + " is a folder",
                 "give the file to write the listing to");
  }
  if (std::string kind = SpecialFileKind(options.output); !kind.empty()) {
    return Usage("--output " + Shown(options.output) + " is " + kind +
                     ", not a file: velnor writes only regular files",
                 "give a file to write the listing to, or leave --output out "
                 "to write it to standard output");
  }
  if (IsDatabaseFile(options.output)) {
    return Usage("--output " + Shown(options.output) +
                     " is a database, which the listing would overwrite",
                 "give a new file for the listing, such as listing.csv");
  }
  fs::path folder = fs::path(options.output).parent_path();
  if (folder.empty()) folder = ".";
  if (fs::exists(options.output)
          ? access(options.output.c_str(), W_OK) == 0
          : fs::is_directory(folder) && access(folder.c_str(), W_OK) == 0) {
    return true;
  }
  return Usage("cannot write --output " + Shown(options.output) + ": " +
                   WhyNotWritable(options.output),
               "give a writable file in an existing folder");
}

// `path` made absolute, through the links of its folders: two spellings
// of one file compare equal.
fs::path Resolved(const std::string& path) {
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(fs::absolute(path), error);
  return error ? fs::absolute(path).lexically_normal() : resolved;
}

// An --output that names a file the run writes itself (a database
// --create-db is about to make, the ledger, a journal, the lock file, the
// error log) is no database yet, or no file at all, when it is checked:
// the listing would be written into it, or the run over the listing.
bool CheckOutputIsNoFileOfTheRun(const CollectOptions& options,
                                 const PlannedRun& run) {
  if (!options.raw || options.output.empty()) return true;
  std::vector<std::pair<std::string, std::string>> written = {
      {run.error_log, "the error log"}};
  if (!run.location.IsPostgres()) {
    for (ReportKind kind : kReportKinds) {
      written.emplace_back(
          run.location.DatabasePath(kind, run.server, options.ftp),
          "a report database");
    }
    written.emplace_back(
        RunLock::PathOf(options.db_dir, run.server, options.ftp),
        "the run lock file");
    written.emplace_back(
        ledger::LedgerPath(options.db_dir, run.server, options.ftp),
        "the collection ledger");
    written.emplace_back(run.location.StatisticsPath(run.server, options.ftp),
                         "the statistics database");
  }
  const fs::path output = Resolved(options.output);
  for (const auto& [path, what] : written) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
      if (Resolved(path + suffix) != output) continue;
      return Usage("--output " + Shown(options.output) + " is " +
                       (*suffix != '\0' ? "a journal of " : "") + what +
                       " of this run, which the listing would overwrite",
                   "give another file for the listing, such as listing.csv");
    }
  }
  return true;
}

// The help of report databases or schemas that could not be made or
// brought to the current design.
constexpr char kNotMadeHelp[] =
    "nothing was collected; fix what the message names and run the same "
    "command again";

// A central store's schemas of an earlier design brought to the current
// one, which rewrites their counts tables: only once every check has
// passed, under the run's lock, so that a refused run leaves the store as
// it was.
bool UpgradeSchemas(const CollectOptions& options, const PlannedRun& run) {
  if (!automation::ResumeNext([&] {
        reportdb::PrepareReportSchemas(run.location.db_url, run.server,
                                       options.ftp);
      })) {
    std::string reason = automation::Err().Description();
    automation::Err().Clear();
    return Usage("cannot bring the report schemas in " + run.location.Name() +
                     " to the current design: " + reason,
                 kNotMadeHelp);
  }
  return true;
}

// --create-db's databases or schemas, once every check has passed; without
// it, a central store's schemas upgraded.
bool CreateDatabases(const CollectOptions& options, const PlannedRun& run) {
  if (!options.create_db) {
    return !run.location.IsPostgres() || UpgradeSchemas(options, run);
  }
  CreatedDatabases created;
  if (!automation::ResumeNext([&] {
        created = run.location.IsPostgres()
                      ? reportdb::CreateReportSchemas(run.location.db_url,
                                                      run.server, options.ftp)
                      : CreateReportDatabases(options.db_dir, run.server,
                                              options.ftp);
      })) {
    std::string reason = automation::Err().Description();
    automation::Err().Clear();
    return Usage("cannot make the report databases in " + run.location.Name() +
                     ": " + reason,
                 kNotMadeHelp);
  }
  for (const std::string& made : created.made) {
    std::cerr << (run.location.IsPostgres() ? "made schema " : "made ") << made
              << "\n";
  }
  return true;
}

bool OpenOutput(const CollectOptions& options, PlannedRun& run) {
  if (!options.raw || options.output.empty()) return true;
  std::string error;
  run.output = OpenOutputFile(options.output, error);
  if (run.output) return true;
  return Usage("cannot write --output " + Shown(options.output) + ": " + error,
               "give a writable file in an existing folder");
}

// A raw listing's writer, to --output or standard output; the table's
// temporary file is made with it, so a TMPDIR that cannot hold it refuses
// the run before anything else is made.
bool MakeListingWriter(const CollectOptions& options, PlannedRun& run) {
  if (!options.raw) return true;
  std::ostream& listing = run.output ? *run.output : std::cout;
  try {
    run.listing_writer = MakeGridWriter(run.format, run.text, listing);
  } catch (const automation::AutomationError& error) {
    return Usage(error.description(), "check TMPDIR, or choose --format csv");
  }
  return true;
}

// A missing ledger, and the statistics database the run keeps, made.
bool MakeLedgerAndStatistics(const CollectOptions& options,
                             const PlannedRun& run) {
  return (run.ledger_path.empty() || run.ledger_found ||
          MakeLedger(run.location, run.server, options.ftp)) &&
         (run.statistics_path.empty() ||
          MakeStatistics(run.location, run.server, options.ftp));
}

// True when `path` lies in the share root's folder of `server`: the copy
// or mount of that server's own shares, which velnor only reads.
bool InServersShares(const ServerAccess& access, const std::string& server,
                     const std::string& path) {
  if (!access.share_root || path.empty()) return false;
  std::error_code error;
  const fs::path root = fs::weakly_canonical(*access.share_root, error);
  const fs::path file = fs::weakly_canonical(fs::absolute(path), error);
  if (error) return false;
  const fs::path inside = file.lexically_relative(root);
  return !inside.empty() && *inside.begin() != ".." &&
         automation::EqualsIgnoringAsciiCase(inside.begin()->string(), server);
}

// A listing or an error log written into a server's shares could overwrite
// the very log the run is about to read (a name the shell completes as
// readily as any), and would be read as one of its files by a later run.
bool CheckNotInShares(const CollectOptions& options, const PlannedRun& run) {
  for (const auto& [path, what] :
       {std::pair{run.error_log, std::string("the error log")},
        std::pair{options.raw ? options.output : std::string(),
                  std::string("--output")}}) {
    if (InServersShares(options.access, run.server, path)) {
      return Usage(what + " " + Shown(path) + " lies in the shares of " +
                       run.server +
                       " under the share root, which velnor "
                       "only reads",
                   "give a file outside " + Shown(*options.access.share_root) +
                       "/" + run.server);
    }
  }
  return true;
}

// Every file the run may write, named before any is: none may be a
// symbolic link, and a database none but a regular file. SQLite writes a
// journal beside each database it changes.
bool CheckWrittenFiles(const CollectOptions& options, const PlannedRun& run) {
  auto database = [](const std::string& path, const std::string& what) {
    if (!CheckDatabaseFile(path, what)) return false;
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
      if (!CheckNotLink(path + suffix, "a journal of " + what)) {
        return false;
      }
    }
    return true;
  };
  if (!CheckNotLink(run.error_log, "the error log") ||
      (options.raw && !options.output.empty() &&
       !CheckNotLink(options.output, "--output"))) {
    return false;
  }
  if (run.location.IsPostgres()) return true;
  for (ReportKind kind : kReportKinds) {
    if (options.raw && kind != ReportKind::kHitsByHour) continue;
    if (!database(run.location.DatabasePath(kind, run.server, options.ftp),
                  "the report database")) {
      return false;
    }
  }
  return CheckNotLink(RunLock::PathOf(options.db_dir, run.server, options.ftp),
                      "the run lock file") &&
         database(ledger::LedgerPath(options.db_dir, run.server, options.ftp),
                  "the collection ledger") &&
         (options.raw || !options.statistics ||
          database(run.location.StatisticsPath(run.server, options.ftp),
                   "the statistics database"));
}

// Where the databases are: --db-dir, --db-url or VELNOR_DB_URL.
bool CheckLocation(const CollectOptions& options, ReportLocation& location) {
  location.db_dir = options.db_dir;
  location.db_url = options.db_url;
  if (location.db_dir.empty() && location.db_url.empty()) {
    if (const char* env = std::getenv("VELNOR_DB_URL")) location.db_url = env;
  }
  if (location.db_dir.empty() && location.db_url.empty()) {
    return Usage("no report databases given",
                 "give --db-dir FOLDER, or --db-url postgresql://... (or "
                 "VELNOR_DB_URL) for a central store");
  }
  if (!location.IsPostgres()) return CheckDbDir(location.db_dir);
  std::string problem = ado::pg::CheckDbUrl(location.db_url);
  if (problem.empty()) return true;
  return Usage(
      "cannot use the database URL " + ado::pg::ShownDbUrl(location.db_url),
      problem);
}

}  // namespace

bool CheckCollect(const CollectOptions& options, PlannedRun& run) {
  run.server = options.server;
  if (!CheckServerName(options.server) || !CheckPeriod(options, run) ||
      !CheckLocation(options, run.location)) {
    return false;
  }
  if (!ParseGridFormat(options.format, run.format)) {
    return Usage("--format " + Shown(options.format) + " is not known",
                 "use table, csv, tsv or json");
  }
  if (!ParseTimeFormat(options.time_format, run.text.time)) {
    return Usage(
        "--time-format " + Shown(options.time_format) + " is not known",
        "use grid (6/3/2024 1:10:45 AM) or iso (2024-06-03T01:10:45Z)");
  }
  run.text.ascii = !LocaleIsUtf8();
  if (!CheckSites(options, run) ||
      !ConfigureServerAccess(options.access, run.windows_directories,
                             run.shares)) {
    return false;
  }
  if (options.site_ids && options.site_ids->empty()) {
    return Usage("--site-id is empty",
                 "give the ids of the sites to collect, like 1,3, or leave "
                 "--site-id out to collect every site");
  }
  siteconfig::Refusal refusal;
  if (options.discover_sites &&
      !siteconfig::AddDiscoveredSites(run.shares, options.server, options.ftp,
                                      options.site_ids.value_or(""),
                                      run.windows_directories, run.sites,
                                      run.notes, refusal)) {
    return Usage(refusal.problem, refusal.help);
  }
  // A --sites file of comments only is what velnor sites --format sites
  // writes for a server without a site of the service.
  if (run.sites.empty() && options.sites_file) {
    return Usage("--sites " + Shown(*options.sites_file) +
                     " holds no site descriptor, so there is no site to "
                     "collect",
                 "add a line \"site name,log directory,site identifier\" "
                 "to it (# starts a comment), or check --ftp");
  }
  if (run.sites.empty()) {
    return Usage("no site to collect",
                 "give --site \"NAME,LOGDIR,ID\", --sites FILE or "
                 "--discover-sites");
  }
  for (std::string& site : run.sites) {
    if (!ExpandDescriptor(run, site)) return false;
  }
  // The schemas of a central store are lower case: every spelling of a
  // server is one there.
  if (!run.location.IsPostgres() &&
      !MatchServerSpelling(options.db_dir, options.ftp, run.server)) {
    return false;
  }
  // A central store has no folder of its own: its runs log to the current
  // folder unless told.
  const fs::path log_folder =
      run.location.IsPostgres() ? fs::path(".") : fs::path(options.db_dir);
  run.error_log = options.error_log.empty()
                      ? (log_folder / "velnor-errors.log").string()
                      : options.error_log;
  return CheckNotInShares(options, run) && CheckWrittenFiles(options, run) &&
         CheckErrorLog(run.error_log, options.error_log.empty() &&
                                          !run.location.IsPostgres()) &&
         CheckDatabases(options, run) && CheckOutput(options) &&
         CheckOutputIsNoFileOfTheRun(options, run) &&
         CheckServerUnderShareRoot(run.shares, run.server);
}

bool CheckLogDirectories(LogParserInterface& parser,
                         const CollectOptions& options, const PlannedRun& run) {
  for (const std::string& site : run.sites) {
    if (!CheckLogDirectory(parser, run.shares, run.server, options.ftp, site)) {
      return false;
    }
  }
  return true;
}

int MakeWhatTheRunWrites(const CollectOptions& options, PlannedRun& run) {
  if (!OpenOutput(options, run)) return kExitUsage;
  int status = MakeListingWriter(options, run) ? -1 : kExitUsage;
  if (status < 0 && !MakeLedgerAndStatistics(options, run)) {
    status = kExitLoggedErrors;
  }
  if (status < 0 && !CreateDatabases(options, run)) status = kExitUsage;
  if (status >= 0) DropOutput(run);
  return status;
}

bool BeginOutput(const CollectOptions& options, PlannedRun& run) {
  std::string error;
  if (!run.output || run.output->Empty(error)) return true;
  return Usage("cannot empty --output " + Shown(options.output) +
                   " for the listing: " + error,
               "nothing was collected, and the file holds what it held; "
               "check that it can be written (its disk, an append-only "
               "or immutable flag), or give another file, and run the same "
               "command again");
}

void DropOutput(PlannedRun& run) {
  run.listing_writer.reset();
  if (run.output) run.output->RemoveIfMade();
  run.output.reset();
}

}  // namespace velnor::host
