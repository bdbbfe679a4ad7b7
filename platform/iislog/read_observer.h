// What a host learns of the log reading while it happens, without a call
// per record: which file a reader opens, the bytes they
// read from it (the file's own bytes, compressed ones for gzip), the records
// they find, and, when a file is closed, how many of its lines were not
// records, where the first of them was, and how far it was read.
#ifndef VELNOR_PLATFORM_IISLOG_READ_OBSERVER_H_
#define VELNOR_PLATFORM_IISLOG_READ_OBSERVER_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace velnor::iislog {

// One file read to its end, to a failure or to its close.
struct FileReadReport {
  std::string path;
  int64_t records = 0;
  // Lines that looked like records but were not (see IISLog), and the
  // 1-based number of the first of them; 0 when there was none.
  int64_t skipped_lines = 0;
  int64_t first_skipped_line = 0;
  // How far the log's text was read (see read_plan.h for what an offset
  // counts): the end of the last line the reader handed out or passed
  // over, so every record before it was handed out (or passed over by the
  // file's plan) and none after it.
  int64_t text_offset = 0;
  // The file ended in a line without its line end, which the plan held
  // back (see ReadPlan::hold_back_unterminated_line): it was not read.
  bool held_back = false;
  // The reading ended on a read error (see IISLog::ReadLogRecord), not at
  // the file's end or its close: the rest of the file was not read.
  bool read_failed = false;
  // The reading came to the end of the log's text (before a line held
  // back, if any), not to a close or an interrupt: text_offset is where the
  // text ends, whatever the file's own size (gzip, UTF-16).
  bool reached_end = false;
};

// Called on the reading thread. Implementations must not raise.
class ReadObserver {
 public:
  virtual ~ReadObserver() = default;
  // A reader opened `path` (it may still fail to read it).
  virtual void FileOpened(std::string_view path) = 0;
  // A reader could not open `path` (a missing file, a refused one); it
  // raised the reason to its caller.
  virtual void FileNotOpened(std::string_view /*path*/) {}
  // A reader took another chunk (up to 64 KiB) of the open file's bytes;
  // the ReadCounters of its hooks tell the totals.
  virtual void ChunkRead() {}
  // A reader closed its file: at its end, on a failure, or when another
  // file is opened.
  virtual void FileClosed(const FileReadReport& report) = 0;
};

// Totals over the readers that add to them (see ReadHooks): the file
// bytes taken and the records handed out.
struct ReadCounters {
  int64_t bytes = 0;
  int64_t records = 0;
};

}  // namespace velnor::iislog

#endif  // VELNOR_PLATFORM_IISLOG_READ_OBSERVER_H_
