// The days a log file holds, as far as its name tells: IIS names W3C logs
// after the period they cover, in the logs' time (UTC), so a file can be
// placed against a window without reading it.
#ifndef VELNOR_HOST_COLLECT_LOG_FILE_DAYS_H_
#define VELNOR_HOST_COLLECT_LOG_FILE_DAYS_H_

#include <optional>
#include <string_view>
#include <vector>

#include "ledger/ledger_store.h"
#include "platform/unc/unc.h"

namespace velnor::host {

struct FileDays {
  ledger::Day first = 0;
  ledger::Day last = 0;
};

// How the six-digit names of a folder's logs read. IIS names a daily log
// yymmdd and a weekly one yymmww, ww the week of the month (Sunday to
// Saturday, the first from the 1st, so up to six), in the same form: a
// name alone cannot tell u_ex240603.log, the 3rd of June, from June's third
// week. A folder whose six-digit names go past 06 holds daily logs, and so
// does one whose six-digit names are all of one month: a daily folder in
// the first days of a month, of a new site or with the older logs gone,
// is far more common than a weekly one a month old. In others (weekly logs
// of more than a month, or daily ones of such days alone) a name ending in
// 01 to 06 may be either, and is taken for every day it may hold: placing
// a log on a day it lacks costs a note too many, on too few days a note
// lost and a file left unread.
enum class SixDigitNames { kDays, kDaysOrWeeks };

// How the six-digit log names among `files` read (see SixDigitNames).
SixDigitNames SixDigitNamesOf(const std::vector<unc::DirEntry>& files);

// The days of an IIS W3C log named `name` ("u_" or "" then "ex", then
// yymmdd for a day (or a week, as `names` says), yymmddhh for an hour,
// yymm for a month, then ".log", any case, perhaps with ".gz" after it);
// nothing for other names (size rollover names, copies renamed by hand).
std::optional<FileDays> DaysInLogFileName(std::string_view name,
                                          SixDigitNames names);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_LOG_FILE_DAYS_H_
