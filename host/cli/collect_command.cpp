// The collect subcommand: checks, set-up of the platform stand-ins, the
// look at the sites' log folders, the run and its summary.
#include "host/cli/collect_command.h"

#include <fmt/format.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "component/velnor.h"
#include "dbsupport/error_log.h"
#include "host/cli/server_access.h"
#include "host/collect/collect_clock.h"
#include "host/collect/collect_ledger.h"
#include "host/collect/collect_summary.h"
#include "host/collect/collect_window.h"
#include "host/collect/log_file_days.h"
#include "host/collect/log_folders.h"
#include "host/collect/run_ledger.h"
#include "host/collect/run_progress.h"
#include "host/collect/server_spelling.h"
#include "host/collect/site_discovery.h"
#include "host/collect/site_list.h"
#include "host/collect/unregistered_files.h"
#include "host/common/command_support.h"
#include "host/render/grid_render.h"
#include "host/render/text_format.h"
#include "ledger/counted_days.h"
#include "ledger/ledger_files.h"
#include "ledger/ledger_store.h"
#include "platform/ado/pg_connection.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"
#include "platform/automation/text.h"
#include "platform/forms/forms.h"
#include "platform/forms/streaming_grid.h"
#include "platform/interrupt/interrupt.h"
#include "platform/unc/unc.h"
#include "platform/wmi/wmi.h"
#include "reportdb/log_file_registry.h"
#include "reportdb/pg_run_lock.h"
#include "reportdb/pg_schema.h"
#include "reportdb/report_location.h"
#include "reportdb/run_lock.h"
#include "reportdb/schema.h"
#include "reportstore/report_store.h"

namespace velnor::host {
namespace {

namespace fs = std::filesystem;

using reportdb::CreatedDatabases;
using reportdb::CreateReportDatabases;
using reportdb::kReportKinds;
using reportdb::PgRunLock;
using reportdb::ReportDatabaseFileName;
using reportdb::ReportKind;
using reportdb::ReportLocation;
using reportdb::RunLock;
using reportdb::RunLockAttempt;

constexpr char kExamples[] = R"(
Examples:
  velnor collect --server SRV1 --from 2024-06-01 --to 2024-06-30 \
      --db-dir reports --share-root /mnt/shares \
      --site "Default Web Site,C:\inetpub\logs\LogFiles,1"
  velnor collect --server SRV1 --ftp --from 2024-06-01 --to 2024-06-01 \
      --db-dir reports --sites ftp-sites.txt --windows-dir SRV1=C:\Windows
  velnor collect --server SRV1 --from 2024-06-01 --to 2024-06-02 \
      --db-dir reports --sites sites.txt --raw --format csv --output raw.csv
  velnor collect --server SRV1 --from 2024-06-01 --to 2024-06-30 \
      --db-dir reports --share-root /mnt/shares --discover-sites --site-id 1,3
  velnor collect --server SRV1 --since-last --db-dir reports \
      --sites sites.txt --share-root /mnt/shares
      (nightly: each site from the day after its last day counted through
      yesterday; add --partial-day to count today so far, hourly)
  velnor collect --server SRV1 --from 2024-06-01 --to 2024-06-30 \
      --db-url postgresql://velnor@dbhost/velnor --sites sites.txt \
      --error-log /var/log/velnor/srv1.log

A site descriptor is "site name,log directory,site identifier", the log
directory as the server has it configured (D:\Logs, or a %VARIABLE% path
such as %SystemDrive%\inetpub\logs\LogFiles); it is read through the
server's administrative share \\SERVER\C$\..., which --share-root (or
VELNOR_SHARE_ROOT) maps to ROOT/SERVER/C$/... on this machine; without a
share root it is read over SMB (smb://SERVER/C$/...), with the credentials
of --smb-auth. --discover-sites takes the sites from the server's own IIS
configuration instead (see velnor sites).
Days are those of the logs' time (UTC). The ledger beside the databases
records every run: a day counted already is refused (exit status 2) unless
--recount asks to count it again; velnor runs lists the runs. A day is
done only once records of it were read to a line end of every file; a day
with nothing read stays open, and --since-last goes back 31 days for such
days. Databases that hold counts but no ledger are refused until
--start-ledger DAY starts one (the days before DAY taken as counted).
--db-url (or VELNOR_DB_URL) counts into a central PostgreSQL store instead
of --db-dir; its password comes from ~/.pgpass, never from the URL. The
error log is then velnor-errors.log in the current folder unless
--error-log names one. The central store keeps no ledger yet: --since-last,
--recount and --partial-day need --db-dir.
Exit status: 0 done, 1 done with lines in the error log, 2 usage mistake,
130 cancelled (Cancel, Ctrl+C or SIGTERM).)";

struct Run {
  ReportLocation location;     // --db-dir, or --db-url / VELNOR_DB_URL
  std::string server;          // as the report databases spell it
  std::optional<double> from;  // --from, --to
  std::optional<double> to;
  std::optional<double> start_ledger;  // --start-ledger
  std::vector<std::string> sites;
  GridFormat format = GridFormat::kTable;
  GridText text;
  std::string error_log;
  std::unique_ptr<std::ostream> output;  // with --output
  std::vector<std::string> notes;        // printed after the summary line
  std::string ledger_path;
  ledger::LedgerContents ledger;    // as it was before the run
  ledger::Day today = 0;            // in the logs' time
  std::vector<SiteWindow> windows;  // of the sites of `sites`, in order
};

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
    return Usage(std::string(option) + " " + Shown(text) + " is not a date",
                 "write it as YYYY-MM-DD");
  }
  day = parsed;
  return true;
}

bool CheckPeriod(const CollectOptions& options, Run& run) {
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

bool CheckSites(const CollectOptions& options, Run& run) {
  std::vector<TextLine> sites;
  for (const std::string& site : options.sites) sites.push_back({site, ""});
  if (!options.sites_file.empty() &&
      !ReadSitesFile(options.sites_file, sites)) {
    return false;
  }
  for (const TextLine& site : sites) {
    if (!CheckSiteDescriptor(site)) return false;
    run.sites.push_back(site.text);
  }
  return true;
}

// The drive of the server's configured Windows directory ("C:"), or empty.
std::string WindowsDrive(const std::string& server) {
  return wmi::ConfiguredWindowsDirectory(server).substr(0, 2);
}

// "%SystemDrive%\rest" becomes "C:\rest" with the drive of the server's
// Windows directory: the component would put the whole Windows directory
// in the variable's place. Other "%" directories reach the component as
// they are; all of them need the server's Windows directory.
bool ExpandDescriptor(const std::string& server, std::string& descriptor) {
  automation::StringArray fields = automation::Split(descriptor, ",");
  if (fields[1].front() != '%') return true;
  std::string drive = WindowsDrive(server);
  if (drive.empty()) {
    return Usage("the log directory " + Shown(fields[1]) +
                     " needs the Windows directory of " + server,
                 "give it with --windows-dir " + server + "=C:\\Windows");
  }
  descriptor =
      fields[0] + "," + ExpandSystemDrive(fields[1], drive) + "," + fields[2];
  return true;
}

std::string InitDbCommand(const CollectOptions& options, const Run& run) {
  return std::string("velnor init-db ") +
         (run.location.IsPostgres() ? "--db-url " : "--db-dir ") +
         run.location.Name() + " --server " + run.server +
         (options.ftp ? " --ftp" : "");
}

// The central store's schemas, made or checked before the run, so that a
// store that cannot be reached or lacks a schema is a usage message and
// nothing is touched.
bool CheckSchemas(const CollectOptions& options, const Run& run) {
  const std::string& url = run.location.db_url;
  std::vector<std::string> missing;
  if (!automation::ResumeNext([&] {
        if (options.create_db) {
          CreatedDatabases created =
              reportdb::CreateReportSchemas(url, run.server, options.ftp);
          for (const std::string& made : created.made) {
            std::cerr << "made schema " << made << "\n";
          }
        } else {
          missing =
              reportdb::MissingReportSchemas(url, run.server, options.ftp);
        }
      })) {
    std::string reason = automation::Err().Description();
    automation::Err().Clear();
    return Usage("cannot use the report store " + url, reason);
  }
  if (missing.empty()) return true;
  return Usage(
      "the report schema " + missing.front() + " is missing in " + url,
      "make it with " + InitDbCommand(options, run) + ", or add --create-db");
}

bool CheckDatabases(const CollectOptions& options, const Run& run) {
  if (run.location.IsPostgres()) return CheckSchemas(options, run);
  if (options.create_db) {
    CreatedDatabases created;
    if (!automation::ResumeNext([&] {
          created =
              CreateReportDatabases(options.db_dir, run.server, options.ftp);
        })) {
      std::string reason = automation::Err().Description();
      automation::Err().Clear();
      return Usage(
          "cannot make the report databases in " + Shown(options.db_dir),
          reason);
    }
    for (const std::string& made : created.made) {
      std::cerr << "made " << made << "\n";
    }
    return true;
  }
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

// The run drops a failure it cannot write to the error log, so a log in a
// missing or read-only folder would make a failed run look clean.
bool CheckErrorLog(const std::string& path) {
  fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) folder = ".";
  bool writable =
      fs::exists(path)
          ? !fs::is_directory(path) && access(path.c_str(), W_OK) == 0
          : fs::is_directory(folder) && access(folder.c_str(), W_OK) == 0;
  if (writable) return true;
  return Usage("cannot write the error log " + Shown(path),
               "give --error-log a writable file in an existing folder");
}

// Opened before the run, so that a listing that cannot be written is a
// usage mistake and not an hour's run lost.
bool OpenOutput(const CollectOptions& options, Run& run) {
  if (!options.raw || options.output.empty()) return true;
  if (fs::is_directory(options.output)) {
    return Usage("--output " + Shown(options.output) + " is a folder",
                 "give the file to write the listing to");
  }
  std::string error;
  run.output = OpenOutputFile(options.output, error);
  if (run.output) return true;
  return Usage("cannot write --output " + Shown(options.output) + ": " + error,
               "give a writable file in an existing folder");
}

// Every file the run may write, named before any is: none may be a
// symbolic link. SQLite writes a journal beside each database it changes.
bool CheckWrittenFiles(const CollectOptions& options, const Run& run) {
  auto database = [](const std::string& path, const std::string& what) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
      if (!CheckNotLink(path + suffix,
                        *suffix ? "a journal of " + what : what)) {
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
                  "the collection ledger");
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
  return Usage("cannot use the database URL " + location.db_url, problem);
}

// The options that go by the ledger need one: the central store keeps
// none yet.
bool CheckLedgerOptions(const CollectOptions& options, const Run& run) {
  if (!run.location.IsPostgres()) return true;
  const char* option = options.since_last              ? "--since-last"
                       : options.recount               ? "--recount"
                       : options.partial_day           ? "--partial-day"
                       : !options.start_ledger.empty() ? "--start-ledger"
                                                       : nullptr;
  if (option == nullptr) return true;
  return Usage(std::string(option) +
                   " needs the collection ledger, which a central store "
                   "(--db-url) does not keep",
               "give the days with --from and --to, or collect into a "
               "folder (--db-dir) to have the ledger");
}

bool Check(const CollectOptions& options, Run& run) {
  run.server = options.server;
  if (!CheckServerName(options.server) || !CheckPeriod(options, run) ||
      !CheckLocation(options, run.location) ||
      !CheckLedgerOptions(options, run)) {
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
  if (!CheckSites(options, run) || !ConfigureServerAccess(options.access)) {
    return false;
  }
  if (options.discover_sites &&
      !AddDiscoveredSites(options.server, options.ftp, options.site_ids,
                          run.sites, run.notes)) {
    return false;
  }
  if (run.sites.empty()) {
    return Usage("no site to collect",
                 "give --site \"NAME,LOGDIR,ID\", --sites FILE or "
                 "--discover-sites");
  }
  for (std::string& site : run.sites) {
    if (!ExpandDescriptor(run.server, site)) return false;
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
  return CheckWrittenFiles(options, run) && CheckErrorLog(run.error_log) &&
         CheckDatabases(options, run) && OpenOutput(options, run);
}

// The schemas of a run's session that the host's own statements use.
struct JoinedSchemas {
  std::string hour;    // the hits-by-hour database: the log-file registry
  std::string ledger;  // the collection ledger
};

// Joins the report databases the run will open, then the ledger, to
// `session` before any statement runs, so that the registry work before the
// run, the run itself and its ledger rows are one transaction. Nothing,
// after the message, when one cannot be used (locked, read-only, not a
// database).
std::optional<JoinedSchemas> JoinDatabases(ado::Session& session,
                                           const CollectOptions& options,
                                           const Run& run) {
  auto join = [&](const std::string& path,
                  const char* what) -> std::optional<std::string> {
    try {
      return session.Attach(path);
    } catch (const automation::AutomationError& error) {
      Usage(std::string("cannot use the ") + what + " " + Shown(path) + ": " +
                error.description(),
            "nothing was collected; correct that, or give --wait SECONDS "
            "when another program holds it, and run again");
      return std::nullopt;
    }
  };
  JoinedSchemas schemas;
  for (ReportKind kind : reportdb::kReportKinds) {
    if (options.raw && kind != ReportKind::kHitsByHour) continue;
    std::optional<std::string> schema =
        join(run.location.DatabasePath(kind, run.server, options.ftp),
             "report database");
    if (!schema) return std::nullopt;
    if (kind == ReportKind::kHitsByHour) schemas.hour = *schema;
  }
  if (run.ledger_path.empty()) return schemas;  // a central store
  std::optional<std::string> ledger =
      join(run.ledger_path, "collection ledger");
  if (!ledger) return std::nullopt;
  schemas.ledger = *ledger;
  return schemas;
}

// Whether the file `name` of `site` may hold records of the site's window
// still to count: by the days the ledger saw in it, else by its name; a
// file whose days cannot be told may.
InWindow FileInWindow(const Run& run, const ledger::CountedDays& counted) {
  return [&run, &counted](const std::string& site, const std::string& name) {
    const SiteWindow* window = nullptr;
    for (const SiteWindow& candidate : run.windows) {
      if (candidate.identifier == site) window = &candidate;
    }
    if (window == nullptr) return true;
    std::optional<FileDays> days;
    const ledger::FileRow* seen = counted.LatestFile(site, name);
    if (seen != nullptr && !seen->first_record.empty()) {
      days = FileDays{ledger::ParseDayText(seen->first_record.substr(0, 10)),
                      ledger::ParseDayText(seen->last_record.substr(0, 10))};
    } else {
      days = DaysInLogFileName(name);
    }
    if (!days) return true;
    // Days of the window counted whole already are passed over whatever
    // the file holds.
    const ledger::Day last = std::min(days->last, window->last);
    for (ledger::Day day = std::max(days->first, window->first); day <= last;
         ++day) {
      if (!std::binary_search(window->done.begin(), window->done.end(), day)) {
        return true;
      }
    }
    return false;
  };
}

// Files the run will skip because they are not registered; registered now
// for sites that have registrations when --register-new-files asks. The
// sites that keep files of their window unread go to `unread_sites`.
std::vector<std::string> CheckRegistry(const CollectOptions& options,
                                       const Run& run,
                                       const std::vector<SiteFolder>& folders,
                                       ado::Session& session,
                                       const std::string& hour_schema,
                                       const ledger::CountedDays& counted,
                                       std::set<std::string>& unread_sites) {
  std::vector<std::string> notes;
  automation::ResumeNext([&] {
    reportdb::LogFileRegistry registry(
        session, hour_schema, std::string(reportdb::SiteColumn(options.ftp)));
    for (const UnregisteredFiles& files : FindUnregisteredFiles(
             registry, run.server, folders, options.log_site_level,
             options.refresh_registry, FileInWindow(run, counted))) {
      if (options.register_new_files && files.site_registered) {
        registry.Register(run.server, files.site->identifier,
                          files.site->site_name, files.names);
        std::cerr << "registered " << files.names.size() << " new log file"
                  << (files.names.size() == 1 ? "" : "s") << " of site "
                  << files.site->identifier << " ("
                  << Shown(files.site->site_name) << ")\n";
      } else if (!files.in_window.empty()) {
        notes.push_back(UnregisteredNote(files));
        unread_sites.insert(files.site->identifier);
      }
    }
  });
  if (automation::Err().Number() != 0) {
    WriteErrorLog(automation::Err().Number(), automation::Err().Description(),
                  "velnor collect", "CheckLogFileRegistry");
    automation::Err().Clear();
  }
  return notes;
}

int TerminalColumns() {
  winsize size{};
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
      return size.ws_col;
    }
  }
  return 120;
}

forms::BackendPreference Progress(const CollectOptions& options) {
  if (options.quiet) return forms::BackendPreference::kQuiet;
  const bool tty = isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
  // Rows streaming onto the terminal would run through the dialog.
  const bool listing_on_terminal = options.raw && options.output.empty() &&
                                   options.format != "table" &&
                                   isatty(STDOUT_FILENO);
  return options.no_tui || !tty || listing_on_terminal
             ? forms::BackendPreference::kHeadless
             : forms::BackendPreference::kAuto;
}

int CancelledBeforeTheRun() {
  std::cerr << "velnor: cancelled before the run started; nothing was "
               "collected\n";
  return kExitCancelled;
}

// The listing's writes may wait for ever on a reader that stopped reading
// (a pipe to a program that hangs). Raw mode stores no counts, so an
// interrupt may end the process there.
class AbandonableWriter : public forms::GridWriter {
 public:
  AbandonableWriter(std::unique_ptr<forms::GridWriter> inner, std::ostream& out)
      : inner_(std::move(inner)), out_(out) {}

  void Row(const std::vector<std::string>& cells) override {
    interrupt::AbandonScope abandon(kStopped);
    inner_->Row(cells);
  }
  void End(const forms::GridLayout& layout) override {
    interrupt::AbandonScope abandon(kStopped);
    inner_->End(layout);
    out_.flush();
  }

 private:
  static constexpr char kStopped[] =
      "velnor: stopped while the listing waited for its reader; the rows "
      "before were written\n";

  std::unique_ptr<forms::GridWriter> inner_;
  std::ostream& out_;
};

// `status`, or the cancelled one when an interrupt came meanwhile: a wait
// for a database another process holds ends early then, and fails.
int Stopped(int status) {
  if (!interrupt::Interrupted()) return status;
  return CancelledBeforeTheRun();
}

// The exit status when `lock` was not taken (another run holds the
// databases, or the folder cannot hold the lock file), after the message;
// -1 when it was.
int LockProblem(const RunLockAttempt& lock, const CollectOptions& options,
                const Run& run) {
  if (lock.status == RunLock::Status::kCancelled) {
    return CancelledBeforeTheRun();
  }
  if (lock.status == RunLock::Status::kHeld) {
    Usage("another collection of " + run.server +
              (options.ftp ? " (FTP)" : " (web)") + " in " +
              run.location.Name() + " is running: " + lock.detail,
          "wait for it to end, or give --wait SECONDS to wait longer "
          "(now " +
              fmt::format("{:g}", options.wait) + ")");
    return kExitUsage;
  }
  if (lock.status == RunLock::Status::kUnusable) {
    Usage("the database folder " + options.db_dir +
              " cannot be written: " + lock.detail,
          "a run writes its databases and a lock file there; make the "
          "folder writable (or mount it read-write)");
    return kExitLoggedErrors;
  }
  return -1;
}

// The note for components that had to count record by record.
std::string CountedRecordByRecordNote(const RunSummary& summary) {
  std::string names;
  for (const std::string& name : summary.counted_record_by_record) {
    names += (names.empty() ? "" : ", ") + name;
  }
  return "note: counted record by record, which is slow: " + names +
         " (its tblGeneral lacks a column, or holds counts that are not "
         "whole numbers from 1 up)";
}

int WaitMs(const CollectOptions& options) {
  return static_cast<int>(options.wait * 1000);
}

// Whether any of the report databases of the run holds counts (rows in a
// report or a site total); databases that are missing or cannot be read
// hold none.
bool DatabasesHoldCounts(const CollectOptions& options, const Run& run) {
  bool counts = false;
  for (ReportKind kind : kReportKinds) {
    const std::string path =
        run.location.DatabasePath(kind, run.server, options.ftp);
    if (counts || !fs::exists(path)) continue;
    automation::ResumeNext([&] {
      auto session = ado::Session::BeginReading(WaitMs(options));
      const std::string schema = session->Attach(path);
      std::vector<std::string> tables = {"tblGeneral"};
      if (kind == ReportKind::kHitsByHour)
        tables.emplace_back("tblTotalAccess");
      for (const std::string& table : tables) {
        counts = counts ||
                 session->Prepare("SELECT 1 FROM " + table + " LIMIT 1", schema)
                     ->Step();
      }
      session->Commit();
    });
    automation::Err().Clear();
  }
  return counts;
}

// A ledger that is missing beside databases that hold counts: those counts
// are of days the run cannot know, so it is refused unless --start-ledger
// says from which day on the ledger is to count. A raw listing counts
// nothing and goes on without a ledger. The exit status when the run must
// not go on (after its message), -1 when it goes on.
int CheckLedgerStart(const CollectOptions& options, Run& run) {
  const bool exists = LedgerExists(run.ledger_path);
  if (exists && run.start_ledger) {
    Usage("--start-ledger starts a collection ledger, and " +
              Shown(run.ledger_path) + " exists already",
          "nothing was collected; leave --start-ledger out: the ledger "
          "knows what was counted");
    return kExitUsage;
  }
  if (exists || run.start_ledger || !DatabasesHoldCounts(options, run)) {
    return -1;
  }
  if (options.raw) {
    run.ledger_path.clear();
    return -1;
  }
  Usage("the report databases of " + run.server +
            (options.ftp ? " (FTP)" : " (web)") + " in " + run.location.Name() +
            " hold counts, but there is no collection ledger beside them (" +
            ledger::LedgerFileName(run.server, options.ftp) +
            "): it was deleted, or another program filled them, so which "
            "days they hold cannot be told",
        "nothing was collected; restore the ledger from a backup, or give "
        "--start-ledger DAY to start one that takes the days before DAY as "
        "counted and collects DAY and later");
  return kExitUsage;
}

// Reads the ledger and decides each site's days (see collect_window.h);
// sites with nothing to collect are left out of the run. The exit status
// when the run must not go on (after its message; 0 when there is nothing
// to collect), -1 when it goes on.
int PlanDays(const CollectOptions& options, Run& run) {
  // A central store keeps no ledger (yet): its runs are checked against
  // nothing, and the options that need one are refused (CheckLedgerOptions).
  if (!run.location.IsPostgres()) {
    run.ledger_path =
        ledger::LedgerPath(options.db_dir, run.server, options.ftp);
    if (int status = CheckLedgerStart(options, run); status >= 0) {
      return status;
    }
    if (!ReadLedgerBeforeRun(run.ledger_path, WaitMs(options), run.ledger)) {
      return kExitLoggedErrors;
    }
    if (run.start_ledger) {
      run.ledger.runs.push_back(LedgerStartRow(
          run.server, options.ftp, static_cast<ledger::Day>(*run.start_ledger),
          UtcStamp(CollectNow())));
    }
  }
  run.today = LogDayOf(CollectNow());
  auto day = [](const std::optional<double>& date) {
    return date ? std::optional<ledger::Day>(static_cast<ledger::Day>(*date))
                : std::nullopt;
  };
  const WindowRequest request{
      day(run.from),   day(run.to), options.since_last, options.partial_day,
      options.recount, options.raw, run.today};
  std::optional<std::vector<SiteWindow>> windows =
      PlanWindows(request, run.sites, run.ledger,
                  ledger::CountedDays(run.ledger), run.notes);
  if (!windows) return kExitUsage;
  std::vector<std::string> sites;
  for (size_t i = 0; i < windows->size(); ++i) {
    if ((*windows)[i].Empty()) continue;
    sites.push_back(run.sites[i]);
    run.windows.push_back((*windows)[i]);
  }
  run.sites = std::move(sites);
  if (!run.sites.empty()) {
    // Every check is done: the ledger may be made now.
    return run.ledger_path.empty() || MakeLedger(run.ledger_path)
               ? -1
               : kExitLoggedErrors;
  }
  for (const std::string& note : run.notes) std::cerr << note << "\n";
  std::cerr << "nothing to collect for " << run.server
            << (options.ftp ? " (ftp)" : " (web)") << "\n";
  return kExitCompleted;
}

// The run's ledger row as it starts: the window is the span of the sites'
// windows.
ledger::RunRow StartedRun(const CollectOptions& options, const Run& run) {
  ledger::RunRow row;
  row.server = run.server;
  row.is_ftp = options.ftp;
  for (const SiteWindow& window : run.windows) {
    const bool first = row.sites.empty();
    AppendListItem(row.sites, ",", window.identifier);
    row.first_day =
        first ? window.first : std::min(row.first_day, window.first);
    row.last_day = first ? window.last : std::max(row.last_day, window.last);
  }
  row.mode = options.raw ? "raw" : options.recount ? "recount" : "count";
  row.partial_day = options.partial_day;
  row.started = UtcStamp(CollectNow());
  return row;
}

// What the component's calls of a run did together.
struct CollectedGroups {
  RunSummary summary;
  std::set<std::string> reached;  // identifiers of the sites started
};

// Runs the component once per set of sites that share a window (one call
// for a window given with --from and --to), until one is cancelled. The
// status line and the ledger watch the whole of it.
CollectedGroups CollectGroups(LogParserInterface& parser,
                              const CollectOptions& options, const Run& run,
                              const std::vector<SiteFolder>& folders,
                              const std::shared_ptr<forms::StreamingGrid>& grid,
                              RunLedger* recorder) {
  std::map<std::pair<ledger::Day, ledger::Day>, std::vector<size_t>> groups;
  std::vector<std::pair<ledger::Day, ledger::Day>> order;
  for (size_t i = 0; i < run.windows.size(); ++i) {
    std::pair<ledger::Day, ledger::Day> key{run.windows[i].first,
                                            run.windows[i].last};
    if (!groups.contains(key)) order.push_back(key);
    groups[key].push_back(i);
  }
  CollectedGroups collected;
  RunProgress progress(folders);
  std::optional<RunLedger::Watch> watch;
  if (recorder) watch.emplace(*recorder);
  for (const auto& key : order) {
    std::vector<std::string> descriptors;
    for (size_t i : groups[key]) descriptors.push_back(run.sites[i]);
    parser.CollectIISLogData(
        run.server, options.ftp, key.first, key.second, run.location.AppPath(),
        options.raw, grid,
        std::make_shared<automation::Collection>(descriptors),
        options.log_site_level, options.refresh_registry);
    const RunSummary part = LastRunSummary(parser);
    for (int32_t i = 0; i < part.sites && i < std::ssize(groups[key]); ++i) {
      collected.reached.insert(
          run.windows[groups[key][static_cast<size_t>(i)]].identifier);
    }
    RunSummary& all = collected.summary;
    all.sites += part.sites;
    all.records += part.records;
    all.cancel_confirmed = part.cancel_confirmed;
    for (const std::string& name : part.counted_record_by_record) {
      if (std::find(all.counted_record_by_record.begin(),
                    all.counted_record_by_record.end(),
                    name) == all.counted_record_by_record.end()) {
        all.counted_record_by_record.push_back(name);
      }
    }
    if (part.cancel_confirmed) break;
  }
  return collected;
}

// Writes the run's end and its ledger rows into the run's session, checks
// them against what other runs committed meanwhile (`before`: the ledger
// the run was planned on) and commits it. Why nothing was stored, or empty
// when all was.
std::string CommitRun(ado::Session& session, const std::string& ledger_schema,
                      int64_t run_id, const CollectedGroups& collected,
                      const RunLedger* recorder,
                      const ledger::LedgerContents& before) {
  const bool cancelled = collected.summary.cancel_confirmed;
  try {
    if (!ledger_schema.empty()) {
      ledger::LedgerStore store(session, ledger_schema);
      store.EndRun(
          run_id, UtcStamp(CollectNow()),
          cancelled ? ledger::Outcome::kCancelled : ledger::Outcome::kCompleted,
          recorder ? recorder->Records() : collected.summary.records);
      if (recorder) {
        CheckNothingCountedMeanwhile(
            store, before,
            recorder->Write(store, run_id, collected.reached, !cancelled));
      }
    }
    session.Commit();
  } catch (const automation::AutomationError& error) {
    WriteErrorLog(error.number(), error.description(), "velnor collect",
                  "Commit");
    session.Rollback();
    return error.description();
  }
  return "";
}

// The summary's line about the ledger, when the run left days to go on
// with or counted days again; empty otherwise.
std::string LedgerNote(const CollectOptions& options, const Run& run,
                       int64_t run_id, const CollectedGroups& collected) {
  if (options.raw || run_id == 0) return "";
  const std::string run_text = "ledger: run " + std::to_string(run_id);
  if (collected.summary.cancel_confirmed) {
    return run_text +
           " was cancelled: the days it began are counted in part, and the "
           "next run of them goes on where it stopped";
  }
  bool today = false;
  for (const SiteWindow& window : run.windows)
    today |= window.last >= run.today;
  if (today) {
    return run_text + " counted today (" + ledger::DayText(run.today) +
           ") as far as its log is written; the next run goes on from there";
  }
  if (options.recount) {
    return run_text + " counted its days again, as --recount asked";
  }
  return "";
}

}  // namespace

void AddCollectCommand(CLI::App& app, int* exit_status) {
  auto options = std::make_shared<CollectOptions>();
  CollectOptions& o = *options;
  CLI::App* cmd = app.add_subcommand(
      "collect", "Collect a server's IIS logs into its report databases");
  cmd->footer(kExamples);
  cmd->add_option("--server", o.server, "Server whose logs are read")
      ->required()
      ->type_name("NAME");
  cmd->add_flag("--ftp", o.ftp, "FTP service logs (MSFTPSVC) instead of web");
  cmd->add_option("--from", o.from,
                  "First day, YYYY-MM-DD (with --since-last: of sites never "
                  "counted)")
      ->type_name("DATE");
  auto* to =
      cmd->add_option("--to", o.to, "Last day, YYYY-MM-DD")->type_name("DATE");
  auto* db_dir =
      cmd->add_option("--db-dir", o.db_dir, "Folder of the report databases")
          ->type_name("DIR");
  cmd->add_option("--db-url", o.db_url,
                  "PostgreSQL store instead of --db-dir: "
                  "postgresql://USER@HOST/DB (default VELNOR_DB_URL; the "
                  "password from ~/.pgpass)")
      ->excludes(db_dir)
      ->type_name("URL");
  auto* site = cmd->add_option("--site", o.sites,
                               "Site descriptor NAME,LOGDIR,ID (repeatable)")
                   ->type_name("NAME,LOGDIR,ID");
  auto* sites = cmd->add_option("--sites", o.sites_file,
                                "File of site descriptors, one a line")
                    ->type_name("FILE");
  site->excludes(sites);
  auto* raw = cmd->add_flag("--raw", o.raw,
                            "List the records instead of counting them");
  cmd->add_flag("--since-last", o.since_last,
                "Each site from the day after its last day counted through "
                "yesterday (UTC, as the logs), and the days of the last 31 "
                "not counted whole")
      ->excludes(to)
      ->excludes(raw);
  cmd->add_flag("--partial-day", o.partial_day,
                "Count today's log as far as it is written; the next run goes "
                "on from there")
      ->excludes(raw);
  cmd->add_flag("--recount", o.recount,
                "Count days the ledger holds as counted already, again")
      ->excludes(raw);
  // Counted, not compared with the default: an explicit "--format table"
  // without --raw is as much a mistake as "--format csv".
  cmd->add_option("--format", o.format, "Raw listing: table, csv, tsv, json")
      ->needs(raw)
      ->type_name("table|csv|tsv|json");
  cmd->add_option("--time-format", o.time_format,
                  "Raw listing's dates: grid (default, 6/3/2024 1:10:45 AM) "
                  "or iso (2024-06-03T01:10:45Z, UTC as in the log)")
      ->needs(raw)
      ->type_name("grid|iso");
  cmd->add_option("--output", o.output, "Raw listing to this file")
      ->needs(raw)
      ->type_name("FILE");
  cmd->add_flag("--log-site-level", o.log_site_level,
                "Read the whole log folder of sites without registered files");
  cmd->add_flag("--refresh-registry", o.refresh_registry,
                "Same, and register those folders' files");
  cmd->add_flag("--register-new-files", o.register_new_files,
                "Register the new files of sites with registered files first, "
                "so that they are read");
  cmd->add_option("--error-log", o.error_log,
                  "Error log (default: velnor-errors.log in --db-dir)")
      ->type_name("FILE");
  AddServerAccessOptions(*cmd, o.access);
  auto* discover =
      cmd->add_flag("--discover-sites", o.discover_sites,
                    "Collect the sites the server's IIS configuration lists");
  discover->excludes(site)->excludes(sites);
  cmd->add_option("--site-id", o.site_ids,
                  "With --discover-sites: only these ids, like 1,3")
      ->type_name("IDS")
      ->needs(discover);
  cmd->add_flag("--create-db", o.create_db, "Make missing report databases");
  cmd->add_option("--start-ledger", o.start_ledger,
                  "Start a ledger on databases that hold counts but none: the "
                  "days before DATE count as counted, DATE on are collected")
      ->type_name("DATE");
  cmd->add_flag("--no-tui", o.no_tui,
                "Plain progress lines (one every 2 s at most), no dialog");
  cmd->add_flag("--quiet", o.quiet, "No progress at all, only the summary");
  cmd->add_option("--wait", o.wait,
                  "Seconds to wait for another run of these databases or a "
                  "lock on them (default 5)")
      ->type_name("SECONDS")
      ->check(CLI::Range(0.0, 86400.0));
  // A diagnostic: the reference way of counting, slow, for comparisons.
  cmd->add_option("--tally", o.tally, "memory or per-record")
      ->check(CLI::IsMember({"memory", "per-record"}))
      ->group("");
  cmd->callback(
      [options, exit_status] { *exit_status = RunCollect(*options); });
}

int RunCollect(const CollectOptions& options) {
  // From here on Ctrl+C and SIGTERM stop the command the way Cancel does.
  interrupt::CatchScope catching;
  Run run;
  if (!Check(options, run)) return kExitUsage;
  if (interrupt::Interrupted()) return CancelledBeforeTheRun();
  // A central store's runs are serialised by an advisory lock, a
  // folder's by a lock file in it.
  std::unique_ptr<PgRunLock> pg_lock;
  RunLockAttempt lock = run.location.IsPostgres()
                            ? RunLockAttempt{}
                            : RunLock::Acquire(options.db_dir, run.server,
                                               options.ftp, options.wait);
  if (run.location.IsPostgres()) {
    try {
      pg_lock = PgRunLock::Acquire(run.location.db_url, run.server, options.ftp,
                                   options.wait, lock.detail);
    } catch (const ado::pg::PgError& error) {
      Usage("cannot reach the report store " + run.location.db_url + ": " +
                error.what(),
            "check the URL, that the server runs, and ~/.pgpass");
      return kExitUsage;
    }
    lock.status = pg_lock ? RunLock::Status::kTaken : RunLock::Status::kHeld;
  }
  if (int status = LockProblem(lock, options, run); status >= 0) {
    return status;
  }
  // Under the lock the ledger cannot change until this run commits.
  if (int status = PlanDays(options, run); status >= 0) {
    return Stopped(status);
  }
  ReportStore::SetCountInMemory(options.tally == "memory");

  forms::SetBackendPreference(Progress(options));
  auto parser = CreateLogParser();
  parser->SetErrorLogPath(run.error_log);
  ResetErrorLogTally();
  const std::vector<SiteFolder> folders =
      SurveyLogFolders(*parser, run.server, options.ftp, run.sites);
  for (const SiteFolder& folder : folders) {
    if (folder.read_from.empty()) continue;
    run.notes.push_back("FTP site " + folder.identifier + " \"" +
                        folder.site_name + "\": read from " + folder.read_from +
                        ", the folder IIS 7.5 and later write, as " +
                        folder.folder + " does not exist");
  }
  // The run's changes to its databases and its ledger rows are kept
  // together or not at all: the registry's, the component's and the
  // ledger's statements run in this session, committed only after the run.
  auto session =
      ado::Session::Begin(WaitMs(options), run.location.MakeEngine());
  const std::optional<JoinedSchemas> schemas =
      JoinDatabases(*session, options, run);
  if (!schemas) return Stopped(kExitLoggedErrors);
  // The start is committed on its own before the session's first statement
  // takes the ledger: a run killed from here on shows as interrupted.
  int64_t run_id = 0;
  if (!schemas->ledger.empty()) {
    try {
      const ledger::RunRow* start =
          run.start_ledger ? &run.ledger.runs.back() : nullptr;
      run_id = RecordRunStart(run.ledger_path, WaitMs(options),
                              StartedRun(options, run), start);
    } catch (const automation::AutomationError& error) {
      Usage("cannot record the run in the collection ledger " +
                Shown(run.ledger_path) + ": " + error.description(),
            "nothing was collected; correct that and run again");
      return Stopped(kExitLoggedErrors);
    }
  }
  const ledger::CountedDays counted(run.ledger);
  std::set<std::string> unread_sites;
  std::vector<std::string> unread = CheckRegistry(
      options, run, folders, *session, schemas->hour, counted, unread_sites);
  run.notes.insert(run.notes.end(), unread.begin(), unread.end());
  if (interrupt::Interrupted()) return CancelledBeforeTheRun();

  std::ostream& listing = run.output ? *run.output : std::cout;
  std::shared_ptr<forms::StreamingGrid> grid;
  if (options.raw) {
    grid = std::make_shared<forms::StreamingGrid>(
        static_cast<float>(TerminalColumns()) * kTwipsPerChar,
        std::make_unique<AbandonableWriter>(
            MakeGridWriter(run.format, run.text, listing), listing));
  }
  std::unique_ptr<RunLedger> recorder;
  if (!options.raw && run_id != 0) {
    recorder = std::make_unique<RunLedger>(counted, folders, run.windows,
                                           options.recount, CollectNow());
    // Their days are counted in part: a later run that reads the files
    // (once registered) goes on from where this one left the others.
    for (const std::string& site : unread_sites) {
      recorder->KeepsFilesUnread(site);
    }
  }
  auto started = std::chrono::steady_clock::now();
  const CollectedGroups collected =
      CollectGroups(*parser, options, run, folders, grid, recorder.get());
  const std::string not_kept = CommitRun(*session, schemas->ledger, run_id,
                                         collected, recorder.get(), run.ledger);
  if (!not_kept.empty() && run_id != 0) {
    RecordRunFailed(run.ledger_path, WaitMs(options), run_id,
                    UtcStamp(CollectNow()));
  }
  if (recorder) {
    std::vector<std::string> notes = recorder->Notes();
    run.notes.insert(run.notes.end(), notes.begin(), notes.end());
  }
  if (std::string note = LedgerNote(options, run, run_id, collected);
      !note.empty()) {
    run.notes.push_back(note);
  }
  CollectOutcome outcome{
      collected.summary,
      run.server,
      options.ftp,
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
          .count(),
      std::move(run.notes),
      ErrorLogLines(),
      run.error_log};
  if (!not_kept.empty()) {
    Usage("nothing of this run was stored: " + not_kept,
          "the databases are as they were before the run; correct the cause "
          "and run the same command again");
    return kExitLoggedErrors;
  }
  bool written = true;
  if (grid) {
    grid->Finish();
    listing.flush();
    written = static_cast<bool>(listing);
  }
  if (!outcome.run.counted_record_by_record.empty()) {
    std::cerr << CountedRecordByRecordNote(outcome.run) << "\n";
  }
  PrintCollectSummary(outcome, std::cerr);
  if (!written) {
    Usage("the listing could not be written whole to " +
              (options.output.empty() ? std::string("standard output")
                                      : Shown(options.output)),
          "check the free space and the output's destination, then run "
          "again");
  }
  if (outcome.run.cancel_confirmed) return kExitCancelled;
  const bool logged = outcome.errors.written + outcome.errors.lost > 0;
  return logged || !written ? kExitLoggedErrors : kExitCompleted;
}

}  // namespace velnor::host
