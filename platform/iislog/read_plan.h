// How a host asks a reader to read a file in part: to pass
// over the records an earlier run counted already, and to leave a last line
// that is still being written for later.
//
// Why the reader does this and not its caller: the collector reads every
// file of a window from its start and counts every record dated inside the
// window, through calls that cannot change. A log of the current day is
// collected several times while it grows; each time its directives before
// the point reached (#Fields, #Date) are still needed to read the records
// after it, and only the reader sees where a record lies in the file. So
// the host hands the reader a plan for the file (the point up to which each
// day's records were counted, per day because a file may hold several days
// and an earlier run may have counted only some of them), and the reader
// hands out only the records after it. Directives are read whatever the
// plan says.
//
// A log is known by its content, not its name: the same log renamed, or
// compressed with gzip, starts with the same text. So the planner is shown
// the start of the log's text (inflated for gzip) before it plans; the
// reader reads it once and reads on from there.
#ifndef VELNOR_PLATFORM_IISLOG_READ_PLAN_H_
#define VELNOR_PLATFORM_IISLOG_READ_PLAN_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace velnor::iislog {

// Offsets count the bytes of the log's text: the file's own bytes for a
// plain file, the inflated ones for gzip. Each is the end of a whole line
// (see LineReader::Offset).
struct CountedPart {
  int32_t day = 0;     // an OLE date without its time (days since 1899-12-30)
  int64_t offset = 0;  // records of `day` in lines that end at or before it
                       // were counted already
};

// An offset past any file's end: every record of the day was counted.
inline constexpr int64_t kWholeDayCounted = INT64_MAX;

struct ReadPlan {
  // At most one entry per day; records of other days are all handed out.
  std::vector<CountedPart> counted;
  // A last line without its line end is left unread (see
  // LineReader::HoldBackUnterminatedLine): the file is being written.
  bool hold_back_unterminated_line = false;
  // Earlier readings of the log reported its garbled lines up to this
  // offset: they are passed over as before but not counted again
  // (FileReadReport::skipped_lines), so that a log read night after night
  // is not reported each time for lines no one has changed.
  int64_t reported_up_to = 0;
};

// Called on the reading thread as a reader opens a file, after the read
// observer hears of it. Implementations must not raise.
class ReadPlanner {
 public:
  virtual ~ReadPlanner() = default;
  // How many bytes of the start of the text of `path` PlanFor wants to
  // see; 0 for none. The reader reads that much (less at the file's end)
  // before the first line, so it must be finite for the file: a pipe
  // must be asked for none.
  virtual size_t HeadBytesFor(std::string_view path) = 0;
  // The plan for the file `path` (as the reader was given it), whose text
  // starts with `head` (the bytes asked for, less the NUL bytes at their
  // end); an empty plan reads the whole file.
  virtual ReadPlan PlanFor(std::string_view path, std::string_view head) = 0;
};

}  // namespace velnor::iislog

#endif  // VELNOR_PLATFORM_IISLOG_READ_PLAN_H_
