// The error-log writer. The file is opened and closed around every line so
// that nothing is held open between failures and several processes may
// append to one log (their lines interleave whole, as each is one write).
#include "dbsupport/error_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/unc/planted_link.h"

namespace velnor {

// Per thread: the module state the platform keeps for each thread that
// runs the component (one collector at a time on it), so that a run on
// another thread writes to its own error log.
thread_local std::string gstrErrorLogPath;

namespace {

// The lines written to the calling thread's error log: per thread for the
// same reason as the path it counts the lines of.
thread_local ErrorLogTally tl_tally;

// The capture in force on the calling thread, or null.
thread_local std::vector<ErrorLogEntry>* tl_capture = nullptr;

// Appends `line` to gstrErrorLogPath; false when it could not.
bool AppendLine(const std::string& line) {
  if (gstrErrorLogPath.empty()) return false;
  // Never through a symbolic link, which could point at any file; never
  // waiting on a FIFO that no one reads. Read as well, to see how the file
  // ends, where the file lets us; a log we may only write still gets its
  // line.
  constexpr int kFlags =
      O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = ::open(gstrErrorLogPath.c_str(), O_RDWR | kFlags, 0644);
  if (fd < 0 && errno == EACCES) {
    fd = ::open(gstrErrorLogPath.c_str(), O_WRONLY | kFlags, 0644);
  }
  if (fd < 0) return false;
  // A second name planted after the command's checks gets no line either,
  // nor a pipe or device put there since, whose reader is not the log.
  struct stat file {};
  if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) ||
      unc::IsPlantedHardLink(file, gstrErrorLogPath)) {
    ::close(fd);
    return false;
  }
  // A line cut short by an earlier full disk has no line end, and other
  // writers may be appending, so it cannot be cut back: this line starts
  // on a line of its own instead of being joined onto it.
  char last = '\n';
  const bool cut_short = file.st_size > 0 &&
                         ::pread(fd, &last, 1, file.st_size - 1) == 1 &&
                         last != '\n';
  const std::string text = cut_short ? "\n" + line : line;
  // One write keeps the line whole when other writers append to the file.
  ssize_t written = ::write(fd, text.data(), text.size());
  ::close(fd);
  return written == static_cast<ssize_t>(text.size());
}

std::string PadRight(std::string_view text, size_t width) {
  std::string padded(text);
  if (padded.size() < width) padded.append(width - padded.size(), ' ');
  return padded;
}

}  // namespace

std::string FormatErrorLogLine(std::time_t now, int32_t error_number,
                               std::string_view description,
                               std::string_view source,
                               std::string_view procedure) {
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%m/%d/%Y %H:%M:%S", &local);
  char number[16];
  std::snprintf(number, sizeof number, "%10X",
                static_cast<uint32_t>(error_number));
  std::string line = stamp;
  line += '\t';
  line += PadRight(source, 40);
  line += '\t';
  line += PadRight(procedure, 40);
  line += '\t';
  line += number;
  line += '\t';
  // A description of several lines (a database's DETAIL and CONTEXT) stays
  // on its one line: a reader of the log takes each line as one failure.
  bool in_break = false;
  for (char c : description) {
    const bool is_break = c == '\r' || c == '\n';
    if (!is_break) line += c;
    if (is_break && !in_break) line += ' ';
    in_break = is_break;
  }
  line += "\r\n";
  return line;
}

void WriteErrorLog(int32_t error_number, std::string_view description,
                   std::string_view source, std::string_view procedure) {
  if (tl_capture != nullptr) {
    tl_capture->push_back({error_number, std::string(description),
                           std::string(source), std::string(procedure)});
    return;
  }
  const bool appended = AppendLine(FormatErrorLogLine(
      std::time(nullptr), error_number, description, source, procedure));
  ++(appended ? tl_tally.written : tl_tally.lost);
  if (tl_tally.first_entries.size() < ErrorLogTally::kFirstEntriesKept) {
    tl_tally.first_entries.push_back({error_number, std::string(description),
                                      std::string(source),
                                      std::string(procedure)});
  }
}

void WriteErrorLog(const std::vector<ErrorLogEntry>& entries) {
  for (const ErrorLogEntry& entry : entries) {
    WriteErrorLog(entry.number, entry.description, entry.source,
                  entry.procedure);
  }
}

ErrorLogCapture::ErrorLogCapture() { tl_capture = &entries_; }

ErrorLogCapture::~ErrorLogCapture() { tl_capture = nullptr; }

std::vector<ErrorLogEntry> ErrorLogCapture::Take() {
  return std::exchange(entries_, {});
}

const ErrorLogTally& ErrorLogLines() { return tl_tally; }

void ResetErrorLogTally() { tl_tally = ErrorLogTally(); }

}  // namespace velnor
