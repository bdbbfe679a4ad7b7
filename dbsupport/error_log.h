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

namespace velnor {

// The error log path of the calling thread, shared by every LogParser on it;
// empty until SetErrorLogPath.
extern thread_local std::string gstrErrorLogPath;

// Appends one line to gstrErrorLogPath. Every failure (no path, a missing
// folder, a file that cannot be opened) loses the line silently.
void WriteErrorLog(int32_t lErrorNumber, std::string_view strDescription,
                   std::string_view strSource, std::string_view strProcedure);

// The line WriteErrorLog writes at time `now`, line end included.
std::string FormatErrorLogLine(std::time_t now, int32_t lErrorNumber,
                               std::string_view strDescription,
                               std::string_view strSource,
                               std::string_view strProcedure);

}  // namespace velnor

#endif  // VELNOR_DBSUPPORT_ERROR_LOG_H_
