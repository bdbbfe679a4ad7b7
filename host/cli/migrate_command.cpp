// The folder is searched for complete sets of four report databases; each
// set is copied under the run lock of its server and service, so that no
// collection writes into the store while its rows arrive.
#include "host/cli/migrate_command.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <set>

#include "host/common/command_support.h"
#include "host/render/text_format.h"
#include "platform/ado/pg_connection.h"
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "reportdb/pg_run_lock.h"
#include "reportdb/report_copy.h"

namespace velnor::host {
namespace {

namespace fs = std::filesystem;
using reportdb::PgRunLock;

struct MigrateOptions {
  std::string db_dir;
  std::string db_url;
  std::string server;
  bool ftp = false;
  bool overwrite = false;
};

// A server and service whose databases are in the folder.
struct Found {
  std::string server;
  bool ftp = false;
  // NOLINTNEXTLINE(modernize-use-nullptr): a false finding on "= default"
  auto operator<=>(const Found&) const = default;
};

std::string Name(const Found& found) {
  return found.server + (found.ftp ? " (FTP)" : " (web)");
}

// The sets of report databases in `dir`, with how many of the four each has.
std::map<Found, int> FindDatabases(const std::string& dir) {
  static const std::regex kName(
      "QDX_UA(Web|FTP)Log(DayOfWeek|HitsByMonth|HitsByHour|HitsByStatus)_(.+)"
      "\\.mdb");
  std::map<Found, int> found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::smatch match;
    std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && std::regex_match(name, match, kName)) {
      ++found[{match[3].str(), match[1].str() == "FTP"}];
    }
  }
  return found;
}

// libpq's message on one line: it ends lines and indents its hints.
std::string OneLine(std::string_view text) {
  std::string line;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    const std::string_view words = automation::Trim(text.substr(0, end));
    if (!words.empty()) AppendListItem(line, " ", words);
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return line;
}

// Copies one set; returns its exit status. A store that cannot be reached
// sets `unreachable`: every other set would fail the same way. `copied`
// names the sets this command copied before, for the message then.
int CopyOne(const MigrateOptions& options, const std::string& url,
            const Found& found, const std::string& copied, bool& unreachable) {
  std::string holder;
  std::unique_ptr<PgRunLock> lock;
  try {
    lock = PgRunLock::Acquire(url, found.server, found.ftp, 0, holder);
  } catch (const ado::pg::PgError& error) {
    Usage("cannot reach the PostgreSQL store " + url + ": " +
              OneLine(error.what()),
          (copied.empty() ? std::string("nothing was copied")
                          : "copied before: " + copied + "; nothing of " +
                                Name(found) + " or after it was copied") +
              "; check the URL, that the server runs and takes "
              "connections from this machine, and the password in " +
              ado::pg::PasswordFile(url));
    unreachable = true;
    return 1;
  }
  if (!lock) {
    Usage("a collection of " + Name(found) + " in " + url +
              " is running: " + holder,
          "nothing of " + Name(found) + " was copied; copy " + found.server +
              " when it has ended");
    return 1;
  }
  reportdb::CopyResult result;
  if (!automation::ResumeNext([&] {
        result = reportdb::CopyReportDatabases(
            options.db_dir, url, found.server, found.ftp, options.overwrite);
      })) {
    Usage("cannot copy " + Name(found) + ": " + automation::Err().Description(),
          "each server and service is copied in one transaction, whole or "
          "not at all; correct the cause and run the same command again "
          "(with --overwrite if it then says the store holds its rows)");
    automation::Err().Clear();
    return 1;
  }
  if (!result.not_empty.empty() && !options.overwrite) {
    std::string schemas;
    for (const std::string& schema : result.not_empty) {
      schemas += (schemas.empty() ? "" : ", ") + schema;
    }
    Usage("the store already holds rows of " + Name(found) + " (" + schemas +
              "); nothing of it was copied",
          "give --overwrite to replace them with the files' rows");
    return 2;
  }
  std::cout << "copied " << Name(found) << ": " << result.rows << " rows from "
            << options.db_dir << " into " << url << "\n";
  return 0;
}

int RunMigrate(const MigrateOptions& options) {
  std::string url = options.db_url;
  if (url.empty()) {
    if (const char* env = std::getenv("VELNOR_DB_URL")) url = env;
  }
  if (url.empty()) {
    Usage("no PostgreSQL store given",
          "give --db-url postgresql://... or "
          "set VELNOR_DB_URL");
    return 2;
  }
  if (std::string problem = ado::pg::CheckDbUrl(url); !problem.empty()) {
    Usage("cannot use the database URL " + ado::pg::ShownDbUrl(url), problem);
    return 2;
  }
  if (!CheckDbDir(options.db_dir)) return 2;
  if (!options.server.empty() && !CheckServerName(options.server)) return 2;
  std::map<Found, int> found = FindDatabases(options.db_dir);
  // Without --server, --ftp keeps the FTP services only, as report's
  // overview does: never the web schemas a --overwrite would replace.
  std::erase_if(found, [&](const auto& entry) {
    if (options.server.empty()) return options.ftp && !entry.first.ftp;
    return !automation::EqualsIgnoringAsciiCase(entry.first.server,
                                                options.server) ||
           entry.first.ftp != options.ftp;
  });
  if (found.empty()) {
    Usage(
        std::string("no ") + (options.ftp ? "FTP " : "") + "report databases" +
            (options.server.empty() ? std::string() : " of " + options.server) +
            " in " + options.db_dir,
        "give the folder that holds the QDX_UA...mdb files (--db-dir)");
    return 2;
  }
  int status = 0;
  bool unreachable = false;
  std::string copied_sets;
  for (const auto& [set, files] : found) {
    if (unreachable) break;
    if (files != 4) {
      Usage(Name(set) + " has " + std::to_string(files) +
                " of its four report databases in " + options.db_dir +
                "; it was not copied",
            "make the others with velnor init-db --db-dir " +
                ShellWord(options.db_dir) + " --server " + set.server +
                (set.ftp ? " --ftp" : ""));
      status = std::max(status, 1);
      continue;
    }
    int copied = CopyOne(options, url, set, copied_sets, unreachable);
    if (copied == 0) AppendListItem(copied_sets, ", ", Name(set));
    status = copied == 2 || status == 2 ? 2 : std::max(status, copied);
  }
  return status;
}

}  // namespace

void AddMigrateCommand(CLI::App& app, int* exit_status) {
  auto options = std::make_shared<MigrateOptions>();
  CLI::App* command = app.add_subcommand(
      "migrate",
      "Copy the report databases of a folder into a central PostgreSQL "
      "store (every server and service found, or one). Schemas that hold "
      "rows already are left alone unless --overwrite.");
  command->footer(
      "Examples:\n"
      "  velnor migrate --db-dir /srv/reports --db-url "
      "postgresql://velnor@dbhost/velnor\n"
      "  velnor migrate --db-dir /srv/reports --server SRV1 --ftp "
      "--overwrite\n"
      "      (the URL from VELNOR_DB_URL; the password from ~/.pgpass)");
  command
      ->add_option("--db-dir", options->db_dir,
                   "Folder of the SQLite report databases")
      ->required()
      ->type_name("DIR");
  command
      ->add_option("--db-url", options->db_url,
                   "The PostgreSQL store (default VELNOR_DB_URL)")
      ->type_name("URL");
  command
      ->add_option("--server", options->server,
                   "Copy only this server's databases")
      ->type_name("NAME");
  command->add_flag("--ftp", options->ftp,
                    "With --server: its FTP databases instead of web; without: "
                    "the FTP services only");
  command->add_flag("--overwrite", options->overwrite,
                    "Replace the rows of schemas that hold some already");
  command->callback(
      [options, exit_status] { *exit_status = RunMigrate(*options); });
}

}  // namespace velnor::host
