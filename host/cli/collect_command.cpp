// The collect subcommand: its options, which a collect run
// (host/collect/collect_run.h) takes as they are.
#include "host/cli/collect_command.h"

#include <memory>

#include "host/cli/server_access_options.h"
#include "host/collect/collect_run.h"

namespace velnor::host {
namespace {

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
--error-log names one. The store keeps each server's ledger in a schema of
its own beside the report schemas, committed with the counts.
Exit status: 0 done, 1 done with lines in the error log, 2 usage mistake,
130 cancelled (Cancel, Ctrl+C or SIGTERM).)";

// A number from `low` to `high` (a whole one when `whole`), the value
// refused in words that say what the option takes; no description, so
// that the help shows the option's own type name only.
CLI::Validator NumberFrom(double low, double high, bool whole,
                          const std::string& what) {
  return CLI::Validator(
      [=](const std::string& text) -> std::string {
        double number = 0;
        const std::string refused = text + " is not " + what;
        if (whole) {
          long long integer = 0;
          if (!CLI::detail::lexical_cast(text, integer)) return refused;
          number = static_cast<double>(integer);
        } else if (!CLI::detail::lexical_cast(text, number)) {
          return refused;
        }
        // NaN is neither, so it is refused too.
        return number >= low && number <= high ? std::string() : refused;
      },
      "");
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
  // A callback rather than the parser's "{false}" default, which its help
  // would show as part of the name.
  cmd->add_flag_callback(
         "--no-statistics", [options] { options->statistics = false; },
         "Keep only the counts: no bytes, visitors, time taken or error URLs "
         "in the statistics database beside the ledger")
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
                  "Error log (default: velnor-errors.log in --db-dir; with "
                  "--db-url, in the current folder)")
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
                  "lock on them, 0 to 86400 (default 5)")
      ->type_name("SECONDS")
      ->check(
          NumberFrom(0, 86400, false, "a number of seconds from 0 to 86400"));
  cmd->add_option("--workers", o.workers,
                  "Sites read and counted at once, each on a thread, 1 to 256 "
                  "(default: one per core)")
      ->type_name("N")
      ->check(NumberFrom(1, 256, true, "a whole number from 1 to 256"));
  // A diagnostic: the reference way of counting, slow, for comparisons.
  cmd->add_option("--tally", o.tally, "memory or per-record")
      ->check(CLI::IsMember({"memory", "per-record"}))
      ->group("");
  cmd->callback(
      [options, exit_status] { *exit_status = RunCollect(*options); });
}

}  // namespace velnor::host
