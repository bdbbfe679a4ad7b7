// Small text files the user writes for a command (a sites file, a file of
// Windows directories), read line by line without ever holding more than
// one bounded line: a huge, binary or misnamed file is refused with its name
// and the line, and nothing of it is echoed beyond what a message can show.
#ifndef VELNOR_HOST_COMMON_USER_TEXT_FILE_H_
#define VELNOR_HOST_COMMON_USER_TEXT_FILE_H_

#include <cstddef>
#include <string>
#include <vector>

namespace velnor::host {

// A line worth reading: trimmed, not blank and not a "#" comment.
struct TextLine {
  std::string text;
  std::string origin;  // "FILE:LINE", for messages
};

inline constexpr size_t kMaxUserLineBytes = 4096;

// Reads the lines of `path`, which `option` (such as "--sites") named and
// which holds `what_a_line_holds` a line. A UTF-8 byte order mark and CR LF
// line ends are taken as Windows editors write them. Prints the usage
// mistake and returns false for a folder, a file that cannot be read, a
// line longer than kMaxUserLineBytes or one holding a NUL byte (UTF-16 and
// binary files).
bool ReadUserTextFile(const std::string& path, const std::string& option,
                      const std::string& what_a_line_holds,
                      std::vector<TextLine>& lines);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COMMON_USER_TEXT_FILE_H_
