// Descriptor and Windows-directory checks. Messages show the user's text
// through Shown, so a line of any length or bytes prints as a short, clean
// line.
#include "host/collect/site_list.h"

#include <map>

#include "host/collect/collect_plan.h"
#include "host/common/command_support.h"
#include "host/render/text_format.h"
#include "platform/automation/collection.h"
#include "platform/automation/text.h"
#include "platform/interrupt/interrupt.h"

namespace velnor::host {
namespace {

constexpr char kDescriptorForm[] =
    "\"site name,log directory,site identifier\"";

// ReadUserTextFile, ended within a second by an interrupt: a file that is
// a named pipe waits for its writer (--sites <(make-sites) needs that),
// and nothing is made before the checks end.
bool ReadGivenFile(const std::string& path, const std::string& option,
                   const std::string& what_a_line_holds,
                   std::vector<TextLine>& lines) {
  interrupt::AbandonScope abandon(kCancelledBeforeTheRun);
  return ReadUserTextFile(path, option, what_a_line_holds, lines);
}

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// "D:" or "D:\...".
bool IsDrivePath(std::string_view path) {
  return path.size() >= 2 && IsLetter(path[0]) && path[1] == ':' &&
         (path.size() == 2 || path[2] == '\\');
}

// "%NAME%" alone or followed by "\...".
bool IsVariablePath(std::string_view path) {
  if (!path.starts_with('%')) return false;
  size_t close = path.find('%', 1);
  return close != std::string_view::npos && close > 1 &&
         (close + 1 == path.size() || path[close + 1] == '\\');
}

// "the site descriptor "..." on FILE:LINE" or, from --site, without origin.
std::string Descriptor(const TextLine& site) {
  std::string text = "the site descriptor \"" + Shown(site.text) + "\"";
  if (!site.origin.empty()) text = site.origin + ": " + text;
  return text;
}

// "C:inetpublogsLogFiles" or "%SystemDrive%inetpub": what a shell leaves
// of C:\inetpub\logs\LogFiles given without quotes. A drive-relative path is no
// log directory IIS takes, so this reading of it is safe.
bool BackslashesEaten(std::string_view directory) {
  if (directory.starts_with('%')) {
    const size_t close = directory.find('%', 1);
    return close != std::string_view::npos && close + 1 < directory.size() &&
           directory[close + 1] != '\\';
  }
  return directory.size() > 2 && IsLetter(directory[0]) &&
         directory[1] == ':' && directory[2] != '\\';
}

}  // namespace

bool ReadSitesFile(const std::string& path, std::vector<TextLine>& sites,
                   std::vector<WindowsDir>& windows_dirs) {
  std::vector<TextLine> lines;
  if (!ReadGivenFile(path, "--sites",
                     std::string("one site descriptor ") + kDescriptorForm,
                     lines)) {
    return false;
  }
  for (TextLine& line : lines) {
    if (line.text.starts_with(kWindowsDirLine)) {
      line.origin += ": " + std::string(kWindowsDirLine.substr(0, 13));
      line.text.erase(0, kWindowsDirLine.size());
      if (!ParseWindowsDir(line, windows_dirs.emplace_back())) return false;
    } else {
      sites.push_back(std::move(line));
    }
  }
  return true;
}

bool CheckSiteDescriptor(const TextLine& site) {
  if (CleanUtf8(site.text, true) != site.text) {
    return Usage(Descriptor(site) +
                     " holds a control character or bytes that are not UTF-8",
                 "write each descriptor as one line of UTF-8 text, " +
                     std::string(kDescriptorForm));
  }
  automation::StringArray fields = automation::Split(site.text, ",");
  if (fields.size() != 3) {
    return Usage(
        Descriptor(site) + " has " + std::to_string(fields.size()) + " fields",
        std::string("write it as ") + kDescriptorForm +
            " (no comma inside a field)");
  }
  if (automation::Trim(fields[0]).empty()) {
    return Usage(Descriptor(site) + " has no site name",
                 "give the site's name as IIS shows it before the first "
                 "comma, for example \"Default Web Site,C:\\inetpub\\logs\\"
                 "LogFiles,1\"");
  }
  if (BackslashesEaten(fields[1])) {
    return Usage("the log directory \"" + Shown(fields[1]) + "\" of " +
                     Descriptor(site) +
                     " has a drive but no backslash after it: the shell "
                     "took the backslashes of an unquoted descriptor",
                 "quote the descriptor in single quotes, like --site "
                 "'Default Web Site,C:\\inetpub\\logs\\LogFiles,1', or "
                 "write it in a --sites file");
  }
  if (!IsDrivePath(fields[1]) && !IsVariablePath(fields[1])) {
    return Usage("the log directory \"" + Shown(fields[1]) + "\" of " +
                     Descriptor(site) +
                     " is neither a drive path nor a %VARIABLE% path",
                 "give the directory as the server has it configured, like "
                 "D:\\Logs or %SystemDrive%\\inetpub\\logs\\LogFiles");
  }
  const std::string& id = fields[2];
  // IIS 6 made ids of up to ten digits from a hash of the site's name, and
  // `velnor sites` lists them: a --sites file it wrote must be taken.
  if (id.empty() || id.size() > 10 ||
      id.find_first_not_of("0123456789") != std::string::npos) {
    return Usage("the site identifier \"" + Shown(id) + "\" of " +
                     Descriptor(site) + " is not a number",
                 "give the number of the site's log folder (1 for W3SVC1)");
  }
  // The component appends the identifier as given, and W3SVC01 is no folder
  // IIS makes: the site would be found empty and its rows keyed "01".
  if (id.size() > 1 && id.front() == '0') {
    const size_t digit = id.find_first_not_of('0');
    const std::string number =
        digit == std::string::npos ? "0" : id.substr(digit);
    return Usage("the site identifier \"" + id + "\" of " + Descriptor(site) +
                     " starts with a zero: IIS names a site's log folder by "
                     "its number without one, such as W3SVC" +
                     number,
                 "give it as " + number + ": \"" + Shown(fields[0]) + "," +
                     Shown(fields[1]) + "," + number + "\"");
  }
  return true;
}

bool CheckEachSiteOnce(const std::vector<TextLine>& sites) {
  // Checked descriptors have no leading zero, so one number is one text.
  auto number = [](const TextLine& site) {
    return automation::Split(site.text, ",")[2];
  };
  auto given = [](const TextLine& site) {
    std::string text = "\"";
    text += Shown(site.text);
    text += "\" (";
    text += site.origin.empty() ? std::string_view("--site") : site.origin;
    return text + ")";
  };
  std::map<std::string, const TextLine*> seen;
  for (const TextLine& site : sites) {
    auto [first, added] = seen.try_emplace(number(site), &site);
    if (added) continue;
    return Usage("site " + first->first + " is given twice: " +
                     given(*first->second) + " and " + given(site),
                 "give each site once: the report databases and the ledger "
                 "know a site by its identifier (and its log folder by it), "
                 "so its records would be counted twice");
  }
  return true;
}

bool ParseWindowsDir(const TextLine& entry, WindowsDir& dir) {
  size_t equals = entry.text.find('=');
  dir.server = automation::Trim(entry.text.substr(0, equals));
  dir.path = equals == std::string::npos
                 ? ""
                 : std::string(automation::Trim(entry.text.substr(equals + 1)));
  const std::string given = entry.origin + " " + Shown(entry.text);
  if (equals == std::string::npos || !IsValidHostName(dir.server)) {
    return Usage(given + " is not SERVER=PATH",
                 "write a server name, \"=\" and its Windows directory, like "
                 "SRV1=C:\\Windows");
  }
  if (dir.path.size() < 3 || !IsDrivePath(dir.path)) {
    return Usage(
        given + ": \"" + Shown(dir.path) + "\" is not an absolute Windows path",
        "give the drive and the folder, like " + dir.server + "=C:\\Windows");
  }
  return true;
}

bool ReadWindowsDirsFile(const std::string& path,
                         std::vector<WindowsDir>& dirs) {
  std::vector<TextLine> lines;
  if (!ReadGivenFile(path, "--windows-dirs",
                     "one SERVER=PATH such as SRV1=C:\\Windows", lines)) {
    return false;
  }
  for (TextLine& line : lines) {
    line.origin += ":";
    if (!ParseWindowsDir(line, dirs.emplace_back())) return false;
  }
  return true;
}

}  // namespace velnor::host
