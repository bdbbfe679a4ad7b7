// Moniker parsing, the configured Windows directories and the one query.
#include "platform/wmi/wmi.h"

#include <strings.h>

#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/automation/error_state.h"

namespace velnor::wmi {
namespace {

using automation::Raise;

struct CaseInsensitiveLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    size_t n = std::min(a.size(), b.size());
    int order = ::strncasecmp(a.data(), b.data(), n);
    return order != 0 ? order < 0 : a.size() < b.size();
  }
};

struct Directories {
  std::mutex mutex;
  std::map<std::string, std::string, CaseInsensitiveLess> by_server;
};

Directories& TheDirectories() {
  static Directories directories;
  return directories;
}

// The configured directory of `server`, or raises like an unreachable server.
std::string DirectoryOf(std::string_view server) {
  Directories& d = TheDirectories();
  std::lock_guard lock(d.mutex);
  auto it = d.by_server.find(server);
  if (it == d.by_server.end()) {
    Raise(kErrRpcServerUnavailable, kRpcServerUnavailableText, "SWbemLocator");
  }
  return it->second;
}

bool EqualsFolded(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool IsSlash(char c) { return c == '\\' || c == '/'; }

std::string_view Trim(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

[[noreturn]] void RaiseInvalidSyntax() {
  Raise(kErrInvalidSyntax, "Invalid syntax", "GetObject");
}

}  // namespace

std::vector<OperatingSystem> Services::ExecQuery(std::string_view query) const {
  std::istringstream words{std::string(query)};
  std::vector<std::string> parts;
  for (std::string word; words >> word;) parts.push_back(word);
  static constexpr std::string_view kExpected[] = {"Select", "*", "From",
                                                   "Win32_OperatingSystem"};
  bool known = parts.size() == std::size(kExpected);
  for (size_t i = 0; known && i < parts.size(); ++i) {
    known = EqualsFolded(parts[i], kExpected[i]);
  }
  if (!known) Raise(kErrInvalidQuery, "Invalid query", "SWbemServicesEx");
  return {OperatingSystem(DirectoryOf(server_))};
}

std::shared_ptr<Services> GetObject(std::string_view moniker) {
  constexpr std::string_view kScheme = "winmgmts:";
  if (!EqualsFolded(moniker.substr(0, kScheme.size()), kScheme)) {
    RaiseInvalidSyntax();
  }
  std::string_view rest = moniker.substr(kScheme.size());
  if (rest.starts_with("{")) {
    size_t close = rest.find('}');
    if (close == std::string_view::npos) RaiseInvalidSyntax();
    rest.remove_prefix(close + 1);
    if (rest.starts_with("!")) rest.remove_prefix(1);
  }
  std::string server = ".";  // the local machine when no server is named
  if (rest.size() >= 2 && IsSlash(rest[0]) && IsSlash(rest[1])) {
    rest.remove_prefix(2);
    size_t slash = 0;
    while (slash < rest.size() && !IsSlash(rest[slash])) ++slash;
    server = rest.substr(0, slash);
    if (server.empty()) RaiseInvalidSyntax();
    rest.remove_prefix(std::min(slash + 1, rest.size()));
  }
  std::string name_space = rest.empty() ? "root\\cimv2" : std::string(rest);
  for (char& c : name_space) c = c == '/' ? '\\' : c;
  if (!EqualsFolded(name_space, "root\\cimv2")) {
    Raise(kErrInvalidNamespace, "Invalid namespace", "SWbemLocator");
  }
  DirectoryOf(server);
  return std::make_shared<Services>(std::move(server), std::move(name_space));
}

void SetWindowsDirectory(std::string_view server, std::string directory) {
  Directories& d = TheDirectories();
  std::lock_guard lock(d.mutex);
  if (directory.empty()) {
    if (auto it = d.by_server.find(server); it != d.by_server.end()) {
      d.by_server.erase(it);
    }
  } else {
    d.by_server.insert_or_assign(std::string(server), std::move(directory));
  }
}

std::string ConfiguredWindowsDirectory(std::string_view server) {
  Directories& d = TheDirectories();
  std::lock_guard lock(d.mutex);
  auto it = d.by_server.find(server);
  return it == d.by_server.end() ? "" : it->second;
}

void LoadWindowsDirectories(const std::string& file) {
  std::ifstream in(file);
  if (!in) {
    Raise(automation::kErrFileNotFound,
          "File not found: cannot read the Windows directories file " + file +
              ". Check the path given to the host.");
  }
  int line_number = 0;
  for (std::string line; std::getline(in, line);) {
    ++line_number;
    std::string_view text = Trim(line);
    if (text.empty() || text.starts_with("#")) continue;
    size_t equals = text.find('=');
    std::string_view server =
        Trim(text.substr(0, std::min(equals, text.size())));
    if (equals == std::string_view::npos || server.empty()) {
      Raise(automation::kErrInvalidProcedureCall,
            file + ":" + std::to_string(line_number) + ": expected " +
                "SERVER=PATH (for example SRV1=C:\\WINDOWS), got \"" + line +
                "\". Correct or remove the line.");
    }
    SetWindowsDirectory(server, std::string(Trim(text.substr(equals + 1))));
  }
}

void ClearWindowsDirectories() {
  Directories& d = TheDirectories();
  std::lock_guard lock(d.mutex);
  d.by_server.clear();
}

}  // namespace velnor::wmi
