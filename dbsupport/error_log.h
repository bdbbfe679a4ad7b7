// The error log: one line per failure, appended to the file the host names
// with SetErrorLogPath. Failures never reach the host; this file is how the
// host learns of them.
//
// Line: time "MM/dd/yyyy HH:mm:ss" (local), TAB, source padded to 40, TAB,
// procedure padded to 40, TAB, the error number in upper-case hex
// right-aligned in 10 (negative numbers as 8-digit two's complement), TAB,
// the description, CR LF. Longer source or procedure texts are written whole.
#ifndef VELNOR_DBSUPPORT_ERROR_LOG_H_
#define VELNOR_DBSUPPORT_ERROR_LOG_H_

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace velnor {

// The sources error-log lines name: the module that wrote the line and, for
// some procedures, a qualifier. Each is written here only.
inline constexpr char kDbSupportSource[] = "VELNORLogAnalysis-DBSupport";
inline constexpr char kOpenRecordSetExSource[] =
    "VELNORLogAnalysis-DBSupport-OpenRecordSetEx";
inline constexpr char kLogParserSource[] = "VELNORLogAnalysis-LogParser";
inline constexpr char kLogParserWmiSource[] =
    "VELNORLogAnalysis-LogParser(WMI)";
inline constexpr char kLogParserUpdateSource[] =
    "VELNORLogAnalysis-LogParser(Update)";
// Followed by the report kind ("Day of Week", "Hour", ...).
inline constexpr char kLogParserReportSourcePrefix[] =
    "VELNORLogAnalysis-LogParser - ";

// The error log path of the calling thread, shared by every LogParser on it;
// empty until SetErrorLogPath.
extern thread_local std::string gstrErrorLogPath;

// Appends one line to gstrErrorLogPath, a regular file, never through a
// symbolic link nor into a hard link another user's file has there, or any
// hard link in a folder anyone may write to with the sticky bit set (/tmp).
// Every failure (no path, a missing folder, a file that cannot be opened,
// is no regular file or is such a link) loses the line silently.
void WriteErrorLog(int32_t error_number, std::string_view description,
                   std::string_view source, std::string_view procedure);

// One failure as WriteErrorLog received it.
struct ErrorLogEntry {
  int32_t number = 0;
  std::string description;
  std::string source;
  std::string procedure;
};

// What WriteErrorLog did on the calling thread since the last
// ResetErrorLogTally: the lines it appended, the failures it could not
// append (no path, a file that cannot be written), and the first
// kFirstEntriesKept of all of them, in order. A host learns a run's
// failures here rather than from the file, which other processes may
// append to at the same time.
struct ErrorLogTally {
  static constexpr size_t kFirstEntriesKept = 5;
  int64_t written = 0;
  int64_t lost = 0;
  std::vector<ErrorLogEntry> first_entries;
};
const ErrorLogTally& ErrorLogLines();
void ResetErrorLogTally();

// While one lives on a thread, WriteErrorLog on that thread keeps each
// failure here instead of writing it (nor tallying it), so that a thread
// working ahead of a run can hand its lines to the run's thread, which
// writes them where a run in sequence would have. Scopes do not nest.
class ErrorLogCapture {
 public:
  ErrorLogCapture();
  ~ErrorLogCapture();
  ErrorLogCapture(const ErrorLogCapture&) = delete;
  ErrorLogCapture& operator=(const ErrorLogCapture&) = delete;

  // The failures kept so far, in order; the capture goes on empty.
  std::vector<ErrorLogEntry> Take();

 private:
  std::vector<ErrorLogEntry> entries_;
};

// WriteErrorLog for each of `entries`, in order, on the calling thread.
void WriteErrorLog(const std::vector<ErrorLogEntry>& entries);

// The line WriteErrorLog writes at time `now`, line end included.
std::string FormatErrorLogLine(std::time_t now, int32_t error_number,
                               std::string_view description,
                               std::string_view source,
                               std::string_view procedure);

}  // namespace velnor

#endif  // VELNOR_DBSUPPORT_ERROR_LOG_H_
