// The days each site of a collect run counts, decided against the ledger
// before anything is read: the window the user gave, or with --since-last
// each site's days after its last day counted whole and the days before it
// that are not counted whole yet (kSinceLastLookBackDays back); never days
// to come, today only with --partial-day, and never a day counted already
// unless --recount asks for it.
#ifndef VELNOR_HOST_COLLECT_COLLECT_WINDOW_H_
#define VELNOR_HOST_COLLECT_COLLECT_WINDOW_H_

#include <optional>
#include <string>
#include <vector>

#include "ledger/counted_days.h"
#include "ledger/ledger_store.h"

namespace velnor::host {

struct WindowRequest {
  // The days of --from and --to; nothing when not given.
  std::optional<ledger::Day> from;
  std::optional<ledger::Day> to;
  bool since_last = false;
  bool partial_day = false;
  bool recount = false;
  bool raw = false;       // a listing counts nothing: no check applies
  ledger::Day today = 0;  // in the logs' time
};

// How far back from yesterday --since-last looks for days that are not
// counted whole yet (nothing read, a file that came late or was read in
// part): such a day in the last 31 days, from the site's first day in the
// ledger on, is taken again.
inline constexpr int kSinceLastLookBackDays = 31;

struct SiteWindow {
  std::string identifier;
  std::string name;
  ledger::Day first = 0;
  ledger::Day last = 0;  // before `first` when there is nothing to count
  // Days from `first` to `last` counted whole already, ascending: their
  // records are passed over (a --since-last window that goes back to a day
  // not counted whole spans them).
  std::vector<ledger::Day> done;
  bool Empty() const { return last < first; }
};

// The window of each site of `descriptors` ("name,log directory,id"), in
// their order, with a note for each site that --since-last leaves out,
// takes back to a day not counted whole, or starts at yesterday for want of
// a day counted. A ledger started on databases that held counts
// (CountedDays::LedgerStart) counts from its first day on. Prints the
// usage mistake and returns nothing when the request asks for days to
// come, for today without --partial-day, or (without --recount) for days
// `counted` holds whole already or that the ledger's start leaves to the
// counts before it: then nothing may be touched.
std::optional<std::vector<SiteWindow>> PlanWindows(
    const WindowRequest& request, const std::vector<std::string>& descriptors,
    const ledger::LedgerContents& ledger, const ledger::CountedDays& counted,
    std::vector<std::string>& notes);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_COLLECT_WINDOW_H_
