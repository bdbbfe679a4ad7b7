// The days a log file holds, as far as its name tells: IIS names W3C logs
// after the period they cover, in the logs' time (UTC), so a file can be
// placed against a window without reading it.
#ifndef VELNOR_HOST_COLLECT_LOG_FILE_DAYS_H_
#define VELNOR_HOST_COLLECT_LOG_FILE_DAYS_H_

#include <optional>
#include <string_view>

#include "ledger/ledger_store.h"

namespace velnor::host {

struct FileDays {
  ledger::Day first = 0;
  ledger::Day last = 0;
};

// The days of an IIS W3C log named `name` ("u_" or "" then "ex", then
// yymmdd for a day, yymmddhh for an hour, yymm for a month, then ".log",
// any case, perhaps with ".gz" after it); nothing for other names (size
// rollover names, copies renamed by hand). Six digits are taken for a day,
// although weekly logs use them for a week of the month.
std::optional<FileDays> DaysInLogFileName(std::string_view name);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_LOG_FILE_DAYS_H_
