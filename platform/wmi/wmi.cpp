// The configured Windows directories, one map for the process.
#include "platform/wmi/wmi.h"

#include <map>
#include <mutex>

#include "platform/automation/text.h"

namespace velnor::wmi {
namespace {

struct Directories {
  std::mutex mutex;
  std::map<std::string, std::string, automation::LessIgnoringAsciiCase>
      by_server;
};

Directories& TheDirectories() {
  static Directories directories;
  return directories;
}

}  // namespace

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

}  // namespace velnor::wmi
