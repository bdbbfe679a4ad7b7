// The collect subcommand: checks, set-up of the platform stand-ins, the run
// and its summary.
#include "host/collect_command.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include <fmt/format.h>

#include "component/velnor.h"
#include "dbsupport/error_log.h"
#include "host/command_support.h"
#include "host/grid_render.h"
#include "host/pg_run_lock.h"
#include "host/run_lock.h"
#include "host/site_discovery.h"
#include "host/site_log_folder.h"
#include "host/text_format.h"
#include "reportdb/pg_schema.h"
#include "reportdb/report_location.h"
#include "reportdb/schema.h"
#include "platform/ado/pg_connection.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"
#include "platform/forms/flex_grid.h"
#include "platform/forms/forms.h"
#include "platform/unc/unc.h"
#include "platform/wmi/wmi.h"
#include "reportstore/report_store.h"

namespace velnor::host {

using reportdb::CreateReportDatabases;
using reportdb::CreatedDatabases;
using reportdb::kReportKinds;
using reportdb::ReportDatabaseFileName;
using reportdb::ReportKind;
using reportdb::ReportLocation;
namespace {

namespace fs = std::filesystem;

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
  velnor collect --server SRV1 --from 2024-06-01 --to 2024-06-30 \
      --db-url postgresql://velnor@dbhost/velnor --sites sites.txt \
      --error-log /var/log/velnor/srv1.log

A site descriptor is "site name,log directory,site identifier", the log
directory as the server has it configured; it is read through the server's
administrative share \\SERVER\C$\..., which --share-root (or
VELNOR_SHARE_ROOT) maps to ROOT/SERVER/C$/... on this machine; a server
under no share root is read over SMB (smb://SERVER/C$/...), with the
credentials of --smb-auth. --discover-sites takes the sites from the
server's own IIS configuration instead (see velnor sites).
--db-url (or VELNOR_DB_URL) counts into a central PostgreSQL store instead
of --db-dir; its password comes from ~/.pgpass, never from the URL. The
error log is then velnor-errors.log in the current folder unless
--error-log names one.
Exit status: 0 done, 1 done with lines in the error log, 2 usage mistake,
130 cancelled.)";

struct Run {
  ReportLocation location;
  double from = 0;
  double to = 0;
  std::vector<std::string> sites;
  GridFormat format = GridFormat::kTable;
  GridText text;
  std::string error_log;
  std::vector<std::string> notes;  // printed after the summary
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

bool ReadSitesFile(const std::string& path, std::vector<std::string>& sites) {
  std::ifstream in(path);
  if (!in) {
    return Usage("cannot read the sites file " + path,
                 "check the path; the file holds one site descriptor a line");
  }
  std::string line;
  for (bool first = true; std::getline(in, line); first = false) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Windows editors start a UTF-8 file with a byte order mark, which
    // would otherwise become part of the first site's name.
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (first && line.starts_with(kBom)) line.erase(0, kBom.size());
    std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == '#') continue;
    sites.emplace_back(trimmed);
  }
  return true;
}

bool CheckDescriptor(const std::string& descriptor) {
  automation::StringArray fields = automation::Split(descriptor, ",");
  if (fields.size() != 3) {
    return Usage("the site descriptor \"" + descriptor + "\" has " +
                     std::to_string(fields.size()) + " fields",
                 "write it as \"site name,log directory,site identifier\" "
                 "(no comma inside a field)");
  }
  const std::string& id = fields[2];
  if (id.empty() ||
      id.find_first_not_of("0123456789") != std::string::npos) {
    return Usage("the site identifier \"" + id + "\" of \"" + descriptor +
                     "\" is not a number",
                 "give the number of the site's log folder (1 for W3SVC1)");
  }
  return true;
}

// The drive of the server's configured Windows directory ("C:"), or empty.
std::string WindowsDrive(const std::string& server) {
  std::string drive;
  automation::ResumeNext([&] {
    auto services = wmi::GetObject(
        "winmgmts:{authenticationLevel=pktPrivacy}\\\\" + server +
        "\\root\\cimv2");
    for (const auto& os :
         services->ExecQuery("Select * From Win32_OperatingSystem")) {
      drive = os.WindowsDirectory().substr(0, 2);
    }
  });
  automation::Err().Clear();
  return drive;
}

// "%SystemDrive%\rest" becomes "C:\rest" with the drive of the server's
// Windows directory: the component would put the whole Windows directory
// in the variable's place. Other "%" directories reach the component as
// they are; all of them need the server's Windows directory.
bool ExpandSystemDrive(const std::string& server, std::string& descriptor) {
  automation::StringArray fields = automation::Split(descriptor, ",");
  if (fields[1].empty() || fields[1].front() != '%') return true;
  std::string drive = WindowsDrive(server);
  if (drive.empty()) {
    return Usage("the log directory " + fields[1] +
                     " needs the Windows directory of " + server,
                 "give it with --windows-dir " + server + "=C:\\Windows");
  }
  constexpr std::string_view kSystemDrive = "%systemdrive%";
  if (EqualsIgnoringCase(fields[1].substr(0, kSystemDrive.size()),
                         kSystemDrive)) {
    descriptor = fields[0] + "," + drive + fields[1].substr(kSystemDrive.size()) +
                 "," + fields[2];
  }
  return true;
}

bool ConfigureWindowsDirs(const CollectOptions& options) {
  if (!options.windows_dirs_file.empty() &&
      !automation::ResumeNext(
          [&] { wmi::LoadWindowsDirectories(options.windows_dirs_file); })) {
    std::string reason = automation::Err().Description();
    automation::Err().Clear();
    return Usage("cannot read " + options.windows_dirs_file, reason);
  }
  for (const std::string& entry : options.windows_dirs) {
    size_t equals = entry.find('=');
    std::string path = equals == std::string::npos ? "" : entry.substr(equals + 1);
    if (equals == 0 || path.size() < 3 || path[1] != ':' || path[2] != '\\') {
      return Usage("--windows-dir " + entry + " is not SERVER=PATH",
                   "write it like SRV1=C:\\Windows");
    }
    wmi::SetWindowsDirectory(entry.substr(0, equals), path);
  }
  return true;
}

bool ConfigureShareRoot(const CollectOptions& options) {
  std::string root = options.share_root;
  if (root.empty()) {
    if (const char* env = std::getenv("VELNOR_SHARE_ROOT")) root = env;
  }
  if (root.empty()) return true;
  if (!fs::is_directory(root)) {
    return Usage("the share root " + root + " is not a folder",
                 "give the folder that holds SERVER/SHARE/... "
                 "(--share-root or VELNOR_SHARE_ROOT)");
  }
  unc::SetShareRoot(root);
  return true;
}

// Servers no share root maps are read over SMB, with the credentials of an
// authentication file (never a password on the command line).
bool ConfigureSmb(const CollectOptions& options) {
  if (options.smb_port < 1 || options.smb_port > 65535 ||
      options.smb_timeout <= 0) {
    return Usage("--smb-port or --smb-timeout is out of range",
                 "give a port from 1 to 65535 and a timeout in seconds");
  }
  unc::SetSmbOptions(static_cast<uint16_t>(options.smb_port),
                     static_cast<int>(options.smb_timeout * 1000));
  std::string auth = options.smb_auth;
  if (auth.empty()) {
    if (const char* env = std::getenv("VELNOR_SMB_AUTH")) auth = env;
  }
  if (auth.empty()) return true;
  if (!automation::ResumeNext([&] { unc::SetSmbAuthFile(auth); })) {
    std::string reason = automation::Err().Description();
    automation::Err().Clear();
    return Usage("cannot use the SMB authentication file " + auth, reason);
  }
  return true;
}

std::string InitDbCommand(const CollectOptions& options,
                          const ReportLocation& location) {
  return std::string("velnor init-db ") +
         (location.IsPostgres() ? "--db-url " : "--db-dir ") +
         location.Name() + " --server " + options.server +
         (options.ftp ? " --ftp" : "");
}

// The central store's schemas, made or checked before the run, so that a
// store that cannot be reached or lacks a schema is a usage message and
// nothing is touched.
bool CheckSchemas(const CollectOptions& options, const ReportLocation& location) {
  std::vector<std::string> missing;
  if (!automation::ResumeNext([&] {
        if (options.create_db) {
          CreatedDatabases created = reportdb::CreateReportSchemas(
              location.db_url, options.server, options.ftp);
          for (const std::string& made : created.made) {
            std::cerr << "made schema " << made << "\n";
          }
        } else {
          missing = reportdb::MissingReportSchemas(location.db_url,
                                                   options.server, options.ftp);
        }
      })) {
    std::string reason = automation::Err().Description();
    automation::Err().Clear();
    return Usage("cannot use the report store " + location.db_url, reason);
  }
  if (missing.empty()) return true;
  return Usage("the report schema " + missing.front() + " is missing in " +
                   location.db_url,
               "make it with " + InitDbCommand(options, location) +
                   ", or add --create-db");
}

bool CheckDatabases(const CollectOptions& options,
                    const ReportLocation& location) {
  if (location.IsPostgres()) return CheckSchemas(options, location);
  if (options.create_db) {
    CreatedDatabases created;
    if (!automation::ResumeNext([&] {
          created = CreateReportDatabases(options.db_dir, options.server,
                                          options.ftp);
        })) {
      std::string reason = automation::Err().Description();
      automation::Err().Clear();
      return Usage("cannot make the report databases in " + options.db_dir,
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
                    ReportDatabaseFileName(kind, options.server, options.ftp);
    if (!fs::exists(file)) {
      return Usage("the report database " + file.string() + " is missing",
                   "make it with " + InitDbCommand(options, location) +
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
  bool writable = fs::exists(path)
                      ? !fs::is_directory(path) && access(path.c_str(), W_OK) == 0
                      : fs::is_directory(folder) &&
                            access(folder.c_str(), W_OK) == 0;
  if (writable) return true;
  return Usage("cannot write the error log " + path,
               "give --error-log a writable file in an existing folder");
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

bool Check(const CollectOptions& options, Run& run) {
  if (!CheckServerName(options.server)) return false;
  if (!ParseDay(options.from, run.from)) {
    return Usage("--from " + options.from + " is not a date",
                 "write it as YYYY-MM-DD");
  }
  if (!ParseDay(options.to, run.to)) {
    return Usage("--to " + options.to + " is not a date",
                 "write it as YYYY-MM-DD");
  }
  if (run.to < run.from) {
    return Usage("the period ends (" + options.to + ") before it starts (" +
                     options.from + ")",
                 "swap --from and --to");
  }
  if (!CheckLocation(options, run.location)) return false;
  if (!ParseGridFormat(options.format, run.format)) {
    return Usage("--format " + options.format + " is not known",
                 "use table, csv, tsv or json");
  }
  if (!ParseTimeFormat(options.time_format, run.text.time)) {
    return Usage("--time-format " + options.time_format + " is not known",
                 "use grid (6/3/2024 1:10:45 AM) or iso (2024-06-03T01:10:45Z)");
  }
  run.text.ascii = !LocaleIsUtf8();
  run.sites = options.sites;
  if (!options.sites_file.empty() &&
      !ReadSitesFile(options.sites_file, run.sites)) {
    return false;
  }
  for (const std::string& site : run.sites) {
    if (!CheckDescriptor(site)) return false;
  }
  if (!ConfigureServerAccess(options)) return false;
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
    if (!ExpandSystemDrive(options.server, site)) return false;
  }
  // A central store has no folder of its own: its runs log to the current
  // folder unless told.
  const fs::path log_folder =
      run.location.IsPostgres() ? fs::path(".") : fs::path(options.db_dir);
  run.error_log = options.error_log.empty()
                      ? (log_folder / "velnor-errors.log").string()
                      : options.error_log;
  return CheckErrorLog(run.error_log) &&
         CheckDatabases(options, run.location);
}

// The component takes a log folder it cannot list for an empty one, so a
// wrong password or a missing share would end as a quiet run without
// records. Each site's folder is looked at first and every one that cannot
// be listed gets one error-log line saying why; the run still goes on and
// stores the site's total.
void LogUnreadableLogFolders(LogParserInterface& parser,
                             const CollectOptions& options, const Run& run) {
  for (const std::string& site : run.sites) {
    automation::StringArray fields = automation::Split(site, ",");
    std::string folder = parser.GetLogFilePath(fields[1], options.server);
    if (folder.empty()) continue;  // the component logs why
    folder += (options.ftp ? "\\MSFTPSVC" : "\\W3SVC") + fields[2];
    if (!automation::ResumeNext([&] { unc::ListDirectory(folder); })) {
      WriteErrorLog(automation::Err().Number(),
                    automation::Err().Description(), "velnor collect",
                    "ListLogFolder");
      automation::Err().Clear();
    }
  }
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

size_t CountLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return static_cast<size_t>(std::count(std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>(), '\n'));
}

bool WriteGrid(const CollectOptions& options, const Run& run,
               const forms::FlexGrid& grid) {
  if (options.output.empty()) {
    RenderGrid(grid, run.format, run.text, std::cout);
    return true;
  }
  std::ofstream out(options.output, std::ios::binary);
  RenderGrid(grid, run.format, run.text, out);
  out.close();
  if (!out) {
    std::cerr << "velnor: cannot write " << options.output << "\n";
    return false;
  }
  return true;
}

}  // namespace

bool ConfigureServerAccess(const CollectOptions& options) {
  return ConfigureWindowsDirs(options) && ConfigureShareRoot(options) &&
         ConfigureSmb(options);
}

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
  cmd->add_option("--from", o.from, "First day, YYYY-MM-DD")
      ->required()
      ->type_name("DATE");
  cmd->add_option("--to", o.to, "Last day, YYYY-MM-DD")
      ->required()
      ->type_name("DATE");
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
  cmd->add_option("--error-log", o.error_log,
                  "Error log (default: velnor-errors.log in --db-dir)")
      ->type_name("FILE");
  cmd->add_option("--share-root", o.share_root,
                  "Folder mapping \\\\SERVER\\SHARE to ROOT/SERVER/SHARE")
      ->type_name("DIR");
  cmd->add_option("--smb-auth", o.smb_auth,
                  "SMB credentials file (username =, password =, domain = "
                  "lines; default VELNOR_SMB_AUTH)")
      ->type_name("FILE");
  cmd->add_option("--smb-port", o.smb_port, "SMB port (default 445)")
      ->type_name("PORT");
  cmd->add_option("--smb-timeout", o.smb_timeout,
                  "Seconds to wait for an SMB server (default 5)")
      ->type_name("SECONDS");
  cmd->add_option("--windows-dir", o.windows_dirs,
                  "A server's Windows directory, SERVER=C:\\Windows")
      ->type_name("SERVER=PATH");
  cmd->add_option("--windows-dirs", o.windows_dirs_file,
                  "File of SERVER=PATH lines")
      ->type_name("FILE");
  auto* discover =
      cmd->add_flag("--discover-sites", o.discover_sites,
                    "Collect the sites the server's IIS configuration lists");
  discover->excludes(site)->excludes(sites);
  cmd->add_option("--site-id", o.site_ids,
                  "With --discover-sites: only these ids, like 1,3")
      ->type_name("IDS")
      ->needs(discover);
  cmd->add_flag("--create-db", o.create_db, "Make missing report databases");
  cmd->add_flag("--no-tui", o.no_tui, "Plain progress lines, no dialog");
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
  Run run;
  if (!Check(options, run)) return kExitUsage;

  const bool tty = isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
  forms::SetBackendPreference(options.no_tui || !tty
                                  ? forms::BackendPreference::kHeadless
                                  : forms::BackendPreference::kAuto);
  auto grid = std::make_shared<forms::FlexGrid>(
      static_cast<float>(TerminalColumns()) * kTwipsPerChar);
  auto sites = std::make_shared<automation::Collection>(run.sites);
  const size_t lines_before = CountLines(run.error_log);

  // A central store's runs are serialised by an advisory lock, a
  // folder's by a lock file in it.
  std::unique_ptr<PgRunLock> pg_lock;
  RunLockAttempt lock =
      run.location.IsPostgres()
          ? RunLockAttempt{}
          : RunLock::Acquire(options.db_dir, options.server, options.ftp,
                             options.wait);
  if (run.location.IsPostgres()) {
    try {
      pg_lock = PgRunLock::Acquire(run.location.db_url, options.server,
                                   options.ftp, options.wait, lock.detail);
    } catch (const ado::pg::PgError& error) {
      Usage("cannot reach the report store " + run.location.db_url + ": " +
                error.what(),
            "check the URL, that the server runs, and ~/.pgpass");
      return kExitUsage;
    }
    lock.status = pg_lock ? RunLock::Status::kTaken : RunLock::Status::kHeld;
  }
  if (lock.status == RunLock::Status::kHeld) {
    Usage("another collection of " + options.server +
              (options.ftp ? " (FTP)" : " (web)") + " in " +
              run.location.Name() + " is running: " + lock.detail,
          "wait for it to end, or give --wait SECONDS to wait longer "
          "(now " + fmt::format("{:g}", options.wait) + ")");
    return kExitUsage;
  }
  if (lock.status == RunLock::Status::kUnusable) {
    std::cerr << "velnor: error: the database folder " << options.db_dir
              << " cannot be written: " << lock.detail
              << "\n  help: a run writes its databases and a lock file "
                 "there; make the folder writable (or mount it read-write)\n";
    return kExitLoggedErrors;
  }
  ReportStore::SetCountInMemory(options.tally == "memory");

  auto parser = CreateLogParser();
  parser->SetErrorLogPath(run.error_log);
  if (options.ftp) {
    std::vector<std::string> redirected =
        RedirectFtpsvcFolders(*parser, options.server, run.sites);
    run.notes.insert(run.notes.end(), redirected.begin(), redirected.end());
  }
  LogUnreadableLogFolders(*parser, options, run);
  auto started = std::chrono::steady_clock::now();
  // The run's changes to its databases are kept together or not at all:
  // the component's connections join this session, committed only here.
  auto session = ado::Session::Begin(static_cast<int>(options.wait * 1000),
                                     run.location.MakeEngine());
  parser->CollectIISLogData(options.server, options.ftp, run.from, run.to,
                            run.location.AppPath(), options.raw,
                            options.raw ? grid : nullptr, sites,
                            options.log_site_level, options.refresh_registry);
  std::string not_kept;
  try {
    session->Commit();
  } catch (const automation::AutomationError& error) {
    not_kept = error.description();
    WriteErrorLog(error.number(), error.description(), "velnor collect",
                  "Commit");
  }
  double seconds = std::chrono::duration<double>(
                       std::chrono::steady_clock::now() - started)
                       .count();
  RunSummary summary = LastRunSummary(*parser);
  if (!not_kept.empty()) {
    std::cerr << "velnor: error: nothing of this run was stored: " << not_kept
              << "\n  help: the databases are as they were before the run; "
                 "correct the cause and run the same command again\n";
    return kExitLoggedErrors;
  }
  bool written = !options.raw || WriteGrid(options, run, *grid);

  if (!summary.counted_record_by_record.empty()) {
    std::string names;
    for (const std::string& name : summary.counted_record_by_record) {
      names += (names.empty() ? "" : ", ") + name;
    }
    std::cerr << "note: counted record by record, which is slow: " << names
              << " (its tblGeneral lacks a column, or holds counts that are "
                 "not whole numbers from 1 up)\n";
  }
  size_t new_lines = CountLines(run.error_log) - lines_before;
  std::cerr << SummaryLine(summary, options.server, options.ftp, seconds)
            << "\nerror log: " << new_lines << " new line"
            << (new_lines == 1 ? "" : "s") << " in " << run.error_log << "\n";
  for (const std::string& note : run.notes) std::cerr << note << "\n";
  if (summary.cancel_confirmed) return kExitCancelled;
  return new_lines > 0 || !written ? kExitLoggedErrors : kExitCompleted;
}

}  // namespace velnor::host
