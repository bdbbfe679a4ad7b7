// The clock of a collect run: what "today" and "yesterday" are, and the
// times the ledger records. Days are those of the logs' time, UTC for W3C
// logs, whatever the time zone of this machine.
//
// Test hook: VELNOR_TEST_NOW=YYYY-MM-DDTHH:MM:SSZ makes that instant the
// run's now (a fixed instant, not a running clock), so that tests can
// simulate runs on consecutive days. Only the host reads it.
#ifndef VELNOR_HOST_COLLECT_COLLECT_CLOCK_H_
#define VELNOR_HOST_COLLECT_COLLECT_CLOCK_H_

#include <ctime>
#include <string>

#include "ledger/ledger_store.h"

namespace velnor::host {

// Seconds since 1970 (UTC): VELNOR_TEST_NOW when it is set and valid, else
// the system clock.
std::time_t CollectNow();

// The day of `now` in the logs' time.
ledger::Day LogDayOf(std::time_t now);

// "2024-06-12T02:30:01Z".
std::string UtcStamp(std::time_t time);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_COLLECT_CLOCK_H_
