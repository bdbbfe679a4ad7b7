// What `velnor collect` prints after a run, on standard error: the run's
// one-line summary, a line per site whose log files the run did not read
// because they are not registered, and the error-log lines the run wrote
// (the first few of them in full), so that a mistake is seen where the
// command was typed.
#ifndef VELNOR_HOST_COLLECT_COLLECT_SUMMARY_H_
#define VELNOR_HOST_COLLECT_COLLECT_SUMMARY_H_

#include <ostream>
#include <string>
#include <vector>

#include "component/velnor.h"
#include "dbsupport/error_log.h"

namespace velnor::host {

struct CollectOutcome {
  RunSummary run;
  std::string server;
  bool ftp = false;
  double seconds = 0;
  std::vector<std::string> notes;  // one line each, after the summary line
  ErrorLogTally errors;            // of this run only
  std::string error_log;           // its path
  bool listed = false;             // a raw listing: nothing was counted
};

// Writes the summary. The error-log part reads:
//   error log: 7 new lines in db/velnor-errors.log
//     ListLogFolder: Path not found: ...      (the first five)
//     and 2 more in db/velnor-errors.log
void PrintCollectSummary(const CollectOutcome& outcome, std::ostream& out);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_COLLECT_SUMMARY_H_
