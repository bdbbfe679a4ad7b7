// `velnor report`: every usage check runs before a database is opened or
// the output file is created, so that a mistake leaves no file behind.
#include "host/cli/report_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "host/collect/server_spelling.h"
#include "host/common/command_support.h"
#include "host/render/overview_render.h"
#include "host/render/report_render.h"
#include "ledger/ledger_store.h"
#include "platform/ado/ado.h"
#include "platform/ado/pg_connection.h"
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "reportdb/pg_schema.h"
#include "reportdb/report_files.h"
#include "reportdb/report_location.h"
#include "reportdb/report_reader.h"
#include "reportdb/report_sets.h"

namespace velnor::host {

using reportdb::LoadReport;
using reportdb::MissingReportDatabases;
using reportdb::Report;
using reportdb::SiteReport;
namespace {

using automation::Err;
using automation::ResumeNext;

constexpr const char* kFormats[] = {"text", "csv", "json", "html"};

// How long asking a ledger that could not be read waits for a run's commit.
constexpr int kLedgerWaitMs = 5000;

std::string Service(bool is_ftp) { return is_ftp ? "FTP" : "web"; }

// A mistake as every velnor command tells one: what is wrong, then what to
// do.
struct Mistake {
  std::string problem;  // empty: none
  std::string help;
};

void Tell(std::ostream& err, const Mistake& mistake) {
  err << "velnor: error: " << mistake.problem << "\n  help: " << mistake.help
      << "\n";
}

// `location`'s report of a server and service, its server named as the
// folder's files name it: a store's schemas are lower case, but its ledger
// keeps the name its first collection was given, as the files keep the
// name they were made with.
Report LoadNamedReport(const reportdb::ReportLocation& location,
                       const std::string& server, bool is_ftp) {
  Report report = LoadReport(location, server, is_ftp);
  if (location.IsPostgres() && !report.runs.empty() &&
      automation::EqualsIgnoringAsciiCase(report.runs.front().server, server)) {
    report.server = report.runs.front().server;
  }
  return report;
}

// The limit of the daily series that --from and --to give; a mistake
// when one of them is not a date or they are the wrong way round.
Mistake ParseLimit(const ReportOptions& options, DayLimit& limit) {
  for (auto [option, text, day] :
       {std::tuple{"--from", &options.from, &limit.from},
        std::tuple{"--to", &options.to, &limit.to}}) {
    if (text->empty()) continue;
    ledger::Day parsed = ledger::ParseDayText(*text);
    if (parsed < 0) {
      const std::string reason = NoSuchDayReason(*text);
      return {std::string(option) + " '" + Shown(*text) + "' is not a date" +
                  (reason.empty() ? "" : ": " + reason),
              "write it as YYYY-MM-DD"};
    }
    *day = parsed;
  }
  if (limit.from && limit.to && *limit.to < *limit.from) {
    return {"the days end (" + options.to + ") before they start (" +
                options.from + ")",
            "swap --from and --to"};
  }
  return {};
}

// A central store that could not be asked, told as collect and runs tell
// it (exit status 2): its URL, not a database file it does not have, and
// the reason. Clears the error it tells of.
Mistake UnreachableStore(const std::string& url) {
  Mistake mistake{
      "cannot use the report store " + url + ": " + Err().Description(),
      StoreUnreachableHelp(url)};
  Err().Clear();
  return mistake;
}

// What is wrong with a central store's URL or schemas; an empty problem
// when nothing is.
Mistake UrlMistake(const ReportOptions& options) {
  if (std::string problem = ado::pg::CheckDbUrl(options.db_url);
      !problem.empty()) {
    return {
        "cannot use the database URL " + ado::pg::ShownDbUrl(options.db_url),
        problem};
  }
  std::vector<std::string> missing;
  if (!ResumeNext([&] {
        missing = reportdb::MissingReportSchemas(options.db_url, options.server,
                                                 options.is_ftp);
      })) {
    return UnreachableStore(options.db_url);
  }
  if (missing.empty()) return {};
  return {"no " + Service(options.is_ftp) + " report schemas of server " +
              options.server + " in " + options.db_url + ": expected '" +
              missing.front() + "'",
          "check --db-url, --server and --ftp, or make them with 'velnor "
          "init-db --db-url " +
              options.db_url + " --server " + options.server +
              (options.is_ftp ? " --ftp" : "") + "'"};
}

// Where the overview's page and each server's page beside it go: the
// folder of --output.
std::filesystem::path PageFolder(const ReportOptions& options) {
  return std::filesystem::path(options.output).parent_path();
}

// A folder of `output` in which this user may not make a file. The report
// (and the overview's pages) go into new files there first, renamed over
// the old ones once written whole, so a folder that is not writable keeps
// even a file that is from being replaced: found here, before any work.
Mistake UnwritableFolderMistake(const std::string& output,
                                const std::filesystem::path& folder) {
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0) {
    return {};
  }
  const std::string reason = std::strerror(errno);
  return {"--output '" + Shown(output) +
              "' cannot be written: velnor writes a report into a new file "
              "in its folder '" +
              Shown(folder.string()) +
              "' and then renames it over the old one, and this user may "
              "not make files there (" +
              reason + ")",
          "give --output a file in a folder this user may write, or let "
          "this user write to the folder (see ls -ld " +
              ShellWord(folder.string()) + ")"};
}

// What keeps the report from being written to `output` (empty: standard
// output), found before any database is read: a link, a special file, or a
// folder that is not there or not writable, which the overview would
// otherwise find only after writing its first server page.
Mistake OutputMistake(const std::string& output) {
  if (output.empty()) return {};
  if (IsSymbolicLink(output)) {
    return {"--output '" + Shown(output) + "' is a symbolic link", kNoLinkHelp};
  }
  if (auto [problem, help] = PlantedLinkProblem(output, "--output");
      !problem.empty()) {
    return {problem, help};
  }
  if (std::string kind = SpecialFileKind(output); !kind.empty()) {
    return {"--output '" + Shown(output) + "' is " + kind +
                ", not a file: velnor writes only regular files",
            "give a file to write the report to, or leave --output out to "
            "print it"};
  }
  if (IsDatabaseFile(output)) {
    return {"--output '" + Shown(output) +
                "' is a database, which the report would overwrite",
            "give a new file for the report, such as report.html"};
  }
  const std::filesystem::path folder =
      std::filesystem::path(output).parent_path();
  std::error_code error;
  if (!folder.empty() && std::filesystem::exists(folder, error) &&
      !std::filesystem::is_directory(folder, error)) {
    return {"--output '" + Shown(output) + "': '" + Shown(folder.string()) +
                "' is a file, not a folder",
            "give a file in a folder, such as " +
                ShellWord((folder.parent_path() / "report.html").string())};
  }
  if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
    return {"--output '" + Shown(output) + "': the folder '" +
                Shown(folder.string()) + "' does not exist",
            "make it first (mkdir -p " + ShellWord(folder.string()) +
                "), or give a file in a folder that exists"};
  }
  return UnwritableFolderMistake(output, folder.empty() ? "." : folder);
}

// The usage mistakes of a report without --server, the overview of every
// server and service at the location.
Mistake OverviewMistake(const ReportOptions& options) {
  if (options.site) {
    return {"--site " + Shown(*options.site) +
                " needs --server: the overview has no sites",
            "give the server whose site to show, or leave out --site"};
  }
  if (options.format == "html" && options.output.empty()) {
    return {
        "the overview page links to a page per server, written beside "
        "it, and needs a file name",
        "give --output FILE: the servers' pages go to its folder as "
        "SERVER-web.html and SERVER-ftp.html"};
  }
  if (Mistake mistake = OutputMistake(options.output);
      !mistake.problem.empty()) {
    return mistake;
  }
  if (!options.db_url.empty()) {
    if (std::string problem = ado::pg::CheckDbUrl(options.db_url);
        !problem.empty()) {
      return {
          "cannot use the database URL " + ado::pg::ShownDbUrl(options.db_url),
          problem};
    }
    return {};
  }
  if (options.db_dir.empty()) {
    return {"no report databases given",
            "give --db-dir FOLDER, or --db-url postgresql://... (or "
            "VELNOR_DB_URL) for a central store"};
  }
  auto [problem, help] = DbDirProblem(options.db_dir);
  return {problem, help};
}

// A pipe, a device, a socket or a folder at the name of one of the
// databases a report of `server`'s service reads, or a name this user may
// not look at: the engine could not read it and would call it missing,
// sending the administrator after a file that may well be there. Empty
// when each name holds a regular file or nothing.
Mistake NotAFileMistake(const std::string& db_dir, const std::string& server,
                        bool is_ftp) {
  const reportdb::ReportLocation location{db_dir, ""};
  std::vector<std::pair<std::string, std::string>> files;
  for (reportdb::ReportKind kind : reportdb::kReportKinds) {
    files.emplace_back(location.DatabasePath(kind, server, is_ftp),
                       "the report database");
  }
  files.emplace_back(location.LedgerPath(server, is_ftp), "the ledger");
  files.emplace_back(location.StatisticsPath(server, is_ftp),
                     "the statistics database");
  for (const auto& [path, what] : files) {
    if (struct stat info{};
        ::stat(path.c_str(), &info) != 0 && errno != ENOENT) {
      return {"cannot look for " + what + " " + Shown(path) + ": " +
                  std::strerror(errno),
              "velnor reads the databases with its user's rights; run it "
              "as a user who may read " +
                  Shown(db_dir) + " and its files (see ls -ld " +
                  ShellWord(db_dir) + ")"};
    }
    const std::string kind = NotAFileKind(path);
    if (kind.empty()) continue;
    return {what + " " + Shown(path) + " is " + kind +
                ", not a file, so it cannot be read",
            "velnor keeps its databases in regular files; move it out of " +
                Shown(db_dir) +
                " (and restore the database there from a backup), then run "
                "the same command again"};
  }
  return {};
}

// The first usage mistake of `options`; an empty problem when there is
// none.
Mistake UsageMistake(const ReportOptions& options) {
  if (std::find(std::begin(kFormats), std::end(kFormats), options.format) ==
      std::end(kFormats)) {
    return {"unknown format '" + Shown(options.format) +
                "': the report comes as text, csv, json or html",
            "give one of these to --format"};
  }
  if (options.server.empty()) return OverviewMistake(options);
  if (!IsValidHostName(options.server)) {
    return {"'" + Shown(options.server) +
                "' is not a valid server name: it must be a host name of "
                "letters, digits, hyphens and dots (1-253 characters, no "
                "label starting or ending with a hyphen)",
            "give the name the databases were made for"};
  }
  if (Mistake mistake = OutputMistake(options.output);
      !mistake.problem.empty()) {
    return mistake;
  }
  if (!options.db_url.empty()) return UrlMistake(options);
  if (options.db_dir.empty()) {
    return {"no report databases given",
            "give --db-dir FOLDER, or --db-url postgresql://... (or "
            "VELNOR_DB_URL) for a central store"};
  }
  if (auto [problem, help] = DbDirProblem(options.db_dir); !problem.empty()) {
    return {problem, help};
  }
  if (Mistake mistake =
          NotAFileMistake(options.db_dir, options.server, options.is_ftp);
      !mistake.problem.empty()) {
    return mistake;
  }
  std::vector<std::string> missing =
      MissingReportDatabases(options.db_dir, options.server, options.is_ftp);
  if (missing.empty()) return {};
  std::string files;
  for (const std::string& path : missing) {
    files += (files.empty() ? "'" : ", '") + path + "'";
  }
  return {"no " + Service(options.is_ftp) + " report databases of server " +
              options.server + ": expected " + files,
          "check --db-dir, --server and --ftp, or make them with 'velnor "
          "init-db --db-dir " +
              options.db_dir + " --server " + options.server +
              (options.is_ftp ? " --ftp" : "") + "'"};
}

// Keeps only the site `identifier`; returns false when it has no rows.
bool KeepSite(Report& report, const std::string& identifier) {
  std::erase_if(report.sites, [&](const SiteReport& site) {
    return site.identifier != identifier;
  });
  return !report.sites.empty();
}

std::string SiteList(const Report& report) {
  std::string list;
  for (const SiteReport& site : report.sites) {
    list += (list.empty() ? "" : ", ") + site.identifier;
  }
  return list.empty() ? "none" : list;
}

// When the report is made: now, or SOURCE_DATE_EPOCH (seconds since 1970)
// when set, so that a report made twice from the same databases can be
// the same file byte for byte.
std::time_t MadeTime() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
    char* end = nullptr;
    long long seconds = std::strtoll(epoch, &end, 10);
    if (*epoch != '\0' && *end == '\0' && seconds >= 0) {
      return static_cast<std::time_t>(seconds);
    }
  }
  return std::time(nullptr);
}

std::string Render(const Report& report, const ReportOptions& options,
                   const DayLimit& limit) {
  if (options.format == "csv") return RenderCsv(report, limit);
  if (options.format == "json") return RenderJson(report, limit);
  // The page declares UTF-8 itself; the text is for this locale.
  RenderOptions render{MadeTime(), !LocaleIsUtf8(), limit};
  if (options.format == "html") return RenderHtml(report, render);
  return RenderText(report, render);
}

// Puts `files` in place as a set (ReplaceFiles).
void WriteFiles(const std::vector<FileText>& files) {
  if (std::string failed, error; !ReplaceFiles(files, failed, error)) {
    automation::Raise(automation::kErrPermissionDenied,
                      "could not write the report to '" + failed + "' (" +
                          error +
                          "). Check that its folder exists and is writable, "
                          "and that the disk is not full.");
  }
}

// The page of each server and service that could be read, by file name.
using Pages = std::vector<std::pair<std::string, std::string>>;

// A page name beside the overview that is a symbolic link; empty when none.
std::string LinkedPage(const ReportOptions& options, const Pages& pages) {
  for (const auto& [name, page] : pages) {
    std::string path = (PageFolder(options) / name).string();
    if (IsSymbolicLink(path)) return path;
  }
  return "";
}

// Tells of the sets among `lines` that could not be read, if any.
bool TellUnread(const std::vector<OverviewLine>& lines, std::ostream& err) {
  std::string unread;
  size_t count = 0;
  for (const OverviewLine& line : lines) {
    if (line.problem.empty()) continue;
    unread += (count++ == 0 ? "" : ", ") + Shown(line.server) +
              (line.is_ftp ? " (ftp)" : " (web)");
  }
  if (count == 0) return false;
  Tell(err, {"the report databases of " + unread +
                 " could not be read; the overview says why",
             "correct what the overview says of each (a right to grant, a "
             "database to restore from a backup, or databases to remove if "
             "the server is gone), then run the same command again"});
  return true;
}

// The overview: every server and service at the location, one line each;
// with --ftp only the FTP services. A set that cannot be read is a line
// saying why, not a failure of the whole overview; the exit status is 1
// then, so that a nightly job that mails failures hears of it.
int RunOverview(const ReportOptions& options, const DayLimit& limit,
                std::ostream& out, std::ostream& err) {
  const reportdb::ReportLocation location{options.db_dir, options.db_url};
  std::vector<reportdb::ReportSet> sets;
  if (!ResumeNext([&] { sets = reportdb::FindReportSets(location); })) {
    if (!options.db_url.empty()) {
      Tell(err, UnreachableStore(options.db_url));
      return 2;
    }
    Tell(err, {Err().Description(),
               "check --db-dir or --db-url, then run the same command again"});
    Err().Clear();
    return 1;
  }
  std::vector<OverviewLine> lines;
  Pages pages;
  const RenderOptions render{MadeTime(), !LocaleIsUtf8(), limit};
  for (const reportdb::ReportSet& set : sets) {
    if (options.is_ftp && !set.is_ftp) continue;
    if (!location.IsPostgres()) {
      if (Mistake mistake =
              NotAFileMistake(options.db_dir, set.server, set.is_ftp);
          !mistake.problem.empty()) {
        OverviewLine& line = lines.emplace_back();
        line.server = set.server;
        line.is_ftp = set.is_ftp;
        line.problem = mistake.problem;
        continue;
      }
    }
    Report report;
    bool going = false;
    if (!ResumeNext([&] {
          report = LoadNamedReport(location, set.server, set.is_ftp);
          going = !report.runs.empty() &&
                  report.runs.back().outcome == ledger::Outcome::kInterrupted &&
                  location.RunLockHeld(set.server, set.is_ftp);
        })) {
      OverviewLine& line = lines.emplace_back();
      line.server = set.server;
      line.is_ftp = set.is_ftp;
      line.problem = Err().Description();
      // Only a missing table is worth a second look: a ledger locked or
      // unreadable would keep the overview waiting as long again.
      const bool no_table = Err().Number() == ado::kErrTableNotFound;
      Err().Clear();
      if (std::string lacks =
              no_table
                  ? LedgerLacksTable(
                        location, location.LedgerPath(set.server, set.is_ftp),
                        kLedgerWaitMs, /*collecting=*/false)
                        .first
                  : std::string();
          !lacks.empty()) {
        line.problem = lacks;
      }
      continue;
    }
    lines.push_back(SummarizeReport(report, limit));
    lines.back().last_run_going = going;
    if (options.format == "html") {
      pages.emplace_back(ServerPageName(report.server, set.is_ftp),
                         RenderHtml(report, render));
    }
  }
  std::string text;
  if (options.format == "csv") {
    text = RenderOverviewCsv(lines);
  } else if (options.format == "json") {
    text = RenderOverviewJson(lines);
  } else if (options.format == "html") {
    text = RenderOverviewHtml(lines, location.Name(), render);
  } else {
    text = RenderOverviewText(lines, location.Name(), render);
  }
  if (std::string link = LinkedPage(options, pages); !link.empty()) {
    Tell(err, {"the server page '" + Shown(link) + "' is a symbolic link",
               kNoLinkHelp});
    return 2;
  }
  if (options.output.empty()) {
    if (!WriteWhole(out, text, "the overview", err)) return 1;
  } else if (!ResumeNext([&] {
               // The index last: a browser that follows it finds the pages.
               std::vector<FileText> files;
               for (const auto& [name, page] : pages) {
                 files.push_back({(PageFolder(options) / name).string(), page});
               }
               files.push_back({options.output, text});
               WriteFiles(files);
             })) {
    Tell(err, {Err().Description(), "give --output a file you may write"});
    Err().Clear();
    return 1;
  }
  return TellUnread(lines, err) ? 1 : 0;
}

}  // namespace

int RunReport(const ReportOptions& given, std::ostream& out,
              std::ostream& err) {
  ReportOptions options = given;
  // Server names are Windows names: --server web01 reads the databases of
  // WEB01 that collect counts into for it. A central store's schemas are
  // lower case, so every spelling is one there already.
  if (!options.server.empty() && options.db_url.empty() &&
      !MatchServerSpelling(options.db_dir, options.is_ftp, options.server)) {
    return 2;
  }
  DayLimit limit;
  if (Mistake mistake = UsageMistake(options); !mistake.problem.empty()) {
    Tell(err, mistake);
    return 2;
  }
  if (Mistake mistake = ParseLimit(options, limit); !mistake.problem.empty()) {
    Tell(err, mistake);
    return 2;
  }
  if (options.server.empty()) return RunOverview(options, limit, out, err);
  Report report;
  if (!ResumeNext([&] {
        report = LoadNamedReport(
            reportdb::ReportLocation{options.db_dir, options.db_url},
            options.server, options.is_ftp);
      })) {
    Mistake mistake{Err().Description(),
                    "correct what the message names, then run the same "
                    "command again"};
    const bool no_table = Err().Number() == ado::kErrTableNotFound;
    Err().Clear();
    const reportdb::ReportLocation location{options.db_dir, options.db_url};
    if (auto [problem, help] =
            no_table ? LedgerLacksTable(
                           location,
                           location.LedgerPath(options.server, options.is_ftp),
                           kLedgerWaitMs, /*collecting=*/false)
                     : std::pair<std::string, std::string>();
        !problem.empty()) {
      mistake = {problem, help};
    }
    Tell(err, mistake);
    return 1;
  }
  if (options.site) {
    const std::string sites = SiteList(report);
    const bool any_site = !report.sites.empty();
    if (!KeepSite(report, *options.site)) {
      Tell(err,
           {"site '" + Shown(*options.site) + "' has no rows in the " +
                Service(options.is_ftp) + " report databases of server " +
                options.server + " (sites with rows: " + sites + ")",
            !any_site ? "nothing was counted into them yet: collect first, "
                        "or check --ftp"
                      : "give one of those to --site, or check --ftp"});
      return 2;
    }
  }
  std::string text = Render(report, options, limit);
  if (options.output.empty()) {
    return WriteWhole(out, text, "the report", err) ? 0 : 1;
  }
  if (!ResumeNext([&] { WriteFiles({{options.output, text}}); })) {
    Tell(err, {Err().Description(), "give --output a file you may write"});
    Err().Clear();
    return 1;
  }
  return 0;
}

void AddReportCommand(CLI::App& app, int* exit_status) {
  // CLI11 fills plain strings; whether --site was given is its count.
  struct Parsed {
    ReportOptions options;
    std::string site;
  };
  auto parsed = std::make_shared<Parsed>();
  ReportOptions* options = &parsed->options;
  CLI::App* command = app.add_subcommand(
      "report",
      "Show the hits counted in the report databases of one server and "
      "service, per site: by day (from the collection ledger), day of week, "
      "month, hour and status code, the top URLs and the totals of past "
      "runs. Without --server: one line per server and service of the "
      "folder or store.");
  command->footer(
      "Examples:\n"
      "  velnor report --db-dir /srv/reports --server SRV1\n"
      "      tables with bars in the terminal, every web site\n"
      "  velnor report --db-dir /srv/reports --server SRV1 --ftp --site 1\n"
      "      only FTP site 1\n"
      "  velnor report --db-dir /srv/reports --server SRV1 --format html "
      "--output SRV1.html\n"
      "      one page with charts to open in a browser (works offline)\n"
      "  velnor report --db-dir /srv/reports --server SRV1 --format json\n"
      "      for other programs; --format csv gives one row per count\n"
      "  velnor report --db-dir /srv/reports\n"
      "      one line per server and service: days collected, hits, errors, "
      "the last run\n"
      "  velnor report --db-dir /srv/reports --format html --output "
      "out/index.html\n"
      "      the overview page, and beside it each server's page "
      "(SRV1-web.html, SRV1-ftp.html)\n"
      "  velnor report --db-dir /srv/reports --server SRV1 --from 2024-06-01 "
      "--to 2024-06-30\n"
      "      the daily series and the runs of June 2024 only\n"
      "The days collected, the daily series (weekends marked) and the runs "
      "come\nfrom the collection ledger that velnor collect keeps beside the "
      "databases;\nthe weekday, month and hour views keep no year.");
  auto* db_dir = command
                     ->add_option("--db-dir", options->db_dir,
                                  "Folder that holds the report databases")
                     ->type_name("DIR");
  command
      ->add_option("--db-url", options->db_url,
                   "PostgreSQL store instead of --db-dir: "
                   "postgresql://USER@HOST/DB (default VELNOR_DB_URL)")
      ->excludes(db_dir)
      ->type_name("URL");
  command
      ->add_option("--server", options->server,
                   "Name of the server the databases belong to; without it, "
                   "one line per server and service of the folder or store")
      ->type_name("NAME");
  command->add_flag("--ftp", options->is_ftp,
                    "Report on the FTP service instead of the web service "
                    "(without --server: the FTP services only)");
  CLI::Option* site = command->add_option(
      "--site", parsed->site,
      "Show only the site with this identifier (such as 1)");
  site->type_name("ID");
  command
      ->add_option("--format", options->format,
                   "text (default), csv, json or html")
      ->type_name("text|csv|json|html");
  command
      ->add_option("--output", options->output,
                   "Write the report to this file instead of standard output")
      ->type_name("FILE");
  command
      ->add_option("--from", options->from,
                   "First day of the daily series and runs shown, YYYY-MM-DD")
      ->type_name("DATE");
  command
      ->add_option("--to", options->to,
                   "Last day of the daily series and runs shown, YYYY-MM-DD")
      ->type_name("DATE");
  command->callback([parsed, site, exit_status] {
    if (site->count() > 0) parsed->options.site = parsed->site;
    ReportOptions& chosen = parsed->options;
    if (chosen.db_dir.empty() && chosen.db_url.empty()) {
      if (const char* env = std::getenv("VELNOR_DB_URL")) chosen.db_url = env;
    }
    *exit_status = RunReport(parsed->options, std::cout, std::cerr);
  });
}

}  // namespace velnor::host
