// What a collect run is asked to do, as the command line gives it, and the
// exit statuses it ends with.
#ifndef VELNOR_HOST_COLLECT_COLLECT_OPTIONS_H_
#define VELNOR_HOST_COLLECT_COLLECT_OPTIONS_H_

#include <optional>
#include <string>
#include <vector>

#include "host/collect/server_access.h"

namespace velnor::host {

struct CollectOptions {
  std::string server;
  bool ftp = false;
  std::string from;
  std::string to;
  std::string db_dir;
  // A PostgreSQL store instead of db_dir (also VELNOR_DB_URL).
  std::string db_url;
  std::vector<std::string> sites;
  // Given but empty is a mistake (an unset variable in a cron line).
  std::optional<std::string> sites_file;
  bool raw = false;
  std::string format = "table";
  std::string time_format = "grid";  // of the raw listing's Date column
  std::string output;
  bool log_site_level = false;
  bool refresh_registry = false;
  std::string error_log;
  ServerAccess access;  // the shares and how they are reached
  bool create_db = false;
  bool no_tui = false;
  bool quiet = false;
  bool register_new_files = false;
  // Seconds to wait for another run of the same databases, or for another
  // process's lock on one of them.
  double wait = 5;
  // "memory" (the hits of a key added up, then written once) or
  // "per-record" (each record written as it is counted: the slow
  // reference the other is checked against).
  std::string tally = "memory";
  // The most sites read and counted at once; 0: one per core.
  int workers = 0;
  bool discover_sites = false;
  // Given but empty is a mistake, not "every site".
  std::optional<std::string> site_ids;
  // Each site from the day after its last day counted whole through
  // yesterday (today with partial_day).
  bool since_last = false;
  // Count today's log as far as it is written; the next run goes on there.
  bool partial_day = false;
  // Count days the ledger holds as counted already, again, on purpose.
  bool recount = false;
  // Keep the statistics beyond the counts (bytes, visitors, time taken,
  // error URLs) in the statistics database beside the ledger.
  bool statistics = true;
  // YYYY-MM-DD: start a ledger on report databases that hold counts but
  // have none; the days before it are taken as counted.
  std::string start_ledger;
};

// Exit statuses of collect.
inline constexpr int kExitCompleted = 0;
inline constexpr int kExitLoggedErrors = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCancelled = 130;

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_COLLECT_OPTIONS_H_
