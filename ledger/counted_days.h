// What a ledger says was counted: per site and day, by which runs, whether
// whole, with how many hits; and per log file how far each day's records
// were read. The view a new run is checked and planned against, so that it
// counts nothing twice, and the one a report shows the days from.
#ifndef VELNOR_LEDGER_COUNTED_DAYS_H_
#define VELNOR_LEDGER_COUNTED_DAYS_H_

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "ledger/ledger_store.h"

namespace velnor::ledger {

// One site's day as every committed run that counted it left it.
struct CountedDay {
  // Some run counted it whole, and records of it were read: a day of
  // none (as ledgers kept before made of a missing log) stays open.
  bool complete = false;
  std::vector<int64_t> runs;  // that counted it, in run order
  int64_t hits = 0;           // over all those runs
  int64_t hits_by_class[4] = {0, 0, 0, 0};
};

// Consecutive days with the runs that counted them.
struct DaySpan {
  Day first = 0;
  Day last = 0;
  std::vector<int64_t> runs;  // without repeats, in run order
};

// `days` (ascending, without repeats) as spans of consecutive days.
std::vector<DaySpan> SpansOf(const std::vector<Day>& days);

class CountedDays {
 public:
  explicit CountedDays(const LedgerContents& ledger);

  // The counted days of `site` (a site identifier), by day; empty when it
  // has none.
  const std::map<Day, CountedDay>& DaysOf(const std::string& site) const;
  // The sites with counted days, in identifier order (as text).
  std::vector<std::string> Sites() const;

  // The last day of `site` counted whole.
  std::optional<Day> LastCompleteDay(const std::string& site) const;
  // The days of `site` from `first` to `last` counted whole, as spans
  // with the runs that counted them.
  std::vector<DaySpan> CompleteSpans(const std::string& site, Day first,
                                     Day last) const;

  // The earlier readings of the log of `site` whose text starts with
  // `head`, whatever its name: the rows whose recorded head (head_bytes of
  // them, at least one) is the start of `head`, and the rows whose head is
  // longer than `head` and starts with its RecordStart (a copy made while
  // the log was shorter than they read it). A log renamed, compressed or
  // grown since starts with the same text; another log does not (its
  // #Date and first records differ). In run order; none for an empty head.
  std::vector<const FileRow*> RowsOfLog(const std::string& site,
                                        std::string_view head) const;

  // Whether the line ends of a head of `site` (head_bytes long, with
  // that checksum) can be told from those the ledger's rows keep: a row of
  // the same head keeps them, or the head is the start of a longer head
  // kept, up to one of its line ends. A new row of such a head need not
  // keep its own: RowsOfLog knows a shorter copy of it all the same.
  bool KeepsLineEndsOf(const std::string& site, int64_t head_bytes,
                       uint32_t head_checksum) const;

  // For the readings `rows` of one log of `site` (see RowsOfLog): each day
  // from `first` to `last` that is counted in part only, with the offset
  // up to which runs of that day read the log (see iislog/read_plan.h).
  // Days whose runs did not read the log are left out: none of its
  // records were counted.
  std::vector<std::pair<Day, int64_t>> CountedParts(
      const std::string& site, const std::vector<const FileRow*>& rows,
      Day first, Day last) const;

  // The most recent row of the log file `file_name` of `site` (its name
  // compared without regard to case, as Windows names are), or null.
  const FileRow* LatestFile(const std::string& site,
                            const std::string& file_name) const;

  // The first day of the earliest window a counting run was asked to
  // collect with `site` among its sites, whatever became of the run (one
  // killed, or cancelled before it reached the site, recorded no day of
  // it), or nothing when no run named the site.
  std::optional<Day> FirstDayAskedFor(const std::string& site) const;

  // The run that started the ledger on report databases that held counts
  // already (kLedgerStartMode), or null: the days before its first day
  // were counted without a ledger.
  const RunRow* LedgerStart() const {
    return ledger_start_ ? &*ledger_start_ : nullptr;
  }

 private:
  // Fills line_ends_, list_rows_ and list_of_head_ from files_, whose
  // line_checksums it then empties.
  void IndexLineEnds();
  // The entries of line_ends_ of `site` at that length and checksum.
  std::span<const std::tuple<uint32_t, uint32_t, uint32_t>> EndsAt(
      const std::string& site, int64_t length, uint32_t checksum) const;

  std::map<std::string, std::map<Day, CountedDay>> days_;
  std::vector<FileRow> files_;  // in run order
  // Indexes into files_: per site and file name folded to lower case; per
  // site, head length and head checksum.
  std::map<std::pair<std::string, std::string>, std::vector<size_t>> names_;
  std::map<std::string, std::map<int64_t, std::multimap<uint32_t, size_t>>>
      heads_;
  // The line ends rows keep, each distinct list once, most rows keeping
  // none (KeepsLineEndsOf): per site, each line end of each list as
  // (length, checksum, list), sorted; flat, as a list holds hundreds. Per
  // list, the rows whose heads' line ends it gives (indexes into files_,
  // ascending); per head (site, length, checksum) kept by a row, its list.
  std::map<std::string, std::vector<std::tuple<uint32_t, uint32_t, uint32_t>>>
      line_ends_;
  std::vector<std::vector<uint32_t>> list_rows_;
  std::map<std::tuple<std::string, int64_t, uint32_t>, uint32_t> list_of_head_;
  std::optional<RunRow> ledger_start_;
  std::map<std::string, Day> first_asked_;  // per site identifier
};

// The checksum the ledger keeps of a log's head: its CRC-32.
uint32_t HeadChecksum(std::string_view bytes);
// The HeadChecksum of each start of `head` that ends with a line end, as
// (length, checksum), by length. Empty when `head` holds no line end or
// is longer than 4 GB.
std::vector<std::pair<uint32_t, uint32_t>> LineChecksums(std::string_view head);
// The start of `head` a shorter copy of a log is known by: its text up to
// its last line end, as (length, HeadChecksum). Nothing when that text
// holds no record (no line that opens with a digit, as a record's date or
// time does, NUL bytes of UTF-16 aside): every log of a site opens with
// the same directives, so such a start would be taken for any of them.
std::optional<std::pair<uint32_t, uint32_t>> RecordStart(std::string_view head);

}  // namespace velnor::ledger

#endif  // VELNOR_LEDGER_COUNTED_DAYS_H_
