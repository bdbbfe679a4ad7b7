// The file streams through a fixed buffer; a line grows only up to the
// limit, so a file of any size costs a few kilobytes to refuse.
#include "host/common/user_text_file.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>

#include "host/common/command_support.h"
#include "platform/automation/text.h"

namespace velnor::host {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Keeps `line` when it is worth reading.
void Take(std::string& line, const std::string& origin,
          std::vector<TextLine>& lines) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::string_view trimmed = automation::Trim(line);
  if (!trimmed.empty() && trimmed.front() != '#') {
    lines.push_back({std::string(trimmed), origin});
  }
  line.clear();
}

}  // namespace

bool ReadUserTextFile(const std::string& path, const std::string& option,
                      const std::string& what_a_line_holds,
                      std::vector<TextLine>& lines) {
  const std::string help = "the file holds " + what_a_line_holds + " a line";
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    return Usage(option + " " + Shown(path) + " is a folder, not a file",
                 "give the file in it; " + help);
  }
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    return Usage("cannot read the file " + Shown(path) + " given to " + option,
                 "check the path and its permissions; " + help);
  }
  std::string line;
  size_t number = 1;
  auto origin = [&] {
    std::string text = Shown(path);
    text += ':';
    text += std::to_string(number);
    return text;
  };
  char buffer[4096];
  bool first = true;
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
    std::string_view chunk(buffer, n);
    // Windows editors start a UTF-8 file with a byte order mark, which
    // would otherwise become part of the first line.
    if (first && chunk.starts_with("\xEF\xBB\xBF")) chunk.remove_prefix(3);
    first = false;
    for (char c : chunk) {
      if (c == '\n') {
        Take(line, origin(), lines);
        ++number;
        continue;
      }
      if (c == '\0') {
        return Usage(origin() + ": the line holds a NUL byte, so " +
                         Shown(path) + " is not a text file",
                     "save it as UTF-8 text; " + help);
      }
      if (line.size() == kMaxUserLineBytes) {
        return Usage(origin() + ": the line is longer than " +
                         std::to_string(kMaxUserLineBytes) + " bytes",
                     "check that " + option + " names the right file; " + help);
      }
      line += c;
    }
  }
  if (std::ferror(file.get())) {
    return Usage("cannot read the file " + Shown(path) + " given to " + option,
                 "check the file and its permissions; " + help);
  }
  Take(line, origin(), lines);
  return true;
}

}  // namespace velnor::host
