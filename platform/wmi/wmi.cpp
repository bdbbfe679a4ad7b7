// The Windows directories a host was told.
#include "platform/wmi/wmi.h"

#include <utility>

namespace velnor::wmi {

void WindowsDirectories::Set(std::string_view server, std::string directory) {
  if (directory.empty()) {
    if (auto it = by_server_.find(server); it != by_server_.end()) {
      by_server_.erase(it);
    }
  } else {
    by_server_.insert_or_assign(std::string(server), std::move(directory));
  }
}

std::string WindowsDirectories::Of(std::string_view server) const {
  auto it = by_server_.find(server);
  return it == by_server_.end() ? "" : it->second;
}

}  // namespace velnor::wmi
