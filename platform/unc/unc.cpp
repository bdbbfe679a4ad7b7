// Dispatch of paths to the ways in, and the UNC path syntax they share.
#include "platform/unc/unc.h"

#include <array>

#include "platform/automation/error_state.h"
#include "platform/unc/backend.h"
#include "platform/unc/local_fs.h"

namespace velnor::unc {
namespace {

// True when `path` starts with two backslashes.
bool IsUncPath(std::string_view path) { return path.starts_with("\\\\"); }

class Local final : public Backend {
 public:
  bool Claims(std::string_view path) const override { return !IsUncPath(path); }
  std::unique_ptr<InputFile> Open(std::string_view path) override {
    return OpenLocalFile(std::string(path), path);
  }
  std::vector<DirEntry> List(std::string_view path) override {
    return ListLocalDirectory(std::string(path), path);
  }
};

// The first backend that claims `path`. Only a UNC path that names no share
// is left; it goes to the share root when one is set, whose error then names
// the local path tried.
Backend& BackendFor(std::string_view path) {
  const std::array<Backend*, 3> backends = {&LocalBackend(),
                                            &ShareRootBackend(), &SmbBackend()};
  for (Backend* backend : backends) {
    if (backend->Claims(path)) return *backend;
  }
  if (!ShareRoot().empty()) return ShareRootBackend();
  automation::Raise(automation::kErrPathNotFound,
                    "Path not found: cannot reach " + std::string(path) +
                        ": no share root is set. Set the share root to the "
                        "folder that holds SERVER/SHARE.");
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::optional<UncPath> ParseUncPath(std::string_view path) {
  if (!IsUncPath(path)) return std::nullopt;
  std::vector<std::string> components;
  size_t start = 2;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    std::string_view component = path.substr(start, end - start);
    if (component == "..") {
      if (components.size() > 2) components.pop_back();
    } else if (!component.empty() && component != ".") {
      components.emplace_back(component);
    }
    start = end + 1;
  }
  if (components.size() < 2) return std::nullopt;
  UncPath unc{components[0], components[1], {}};
  unc.rest.assign(components.begin() + 2, components.end());
  return unc;
}

Backend& LocalBackend() {
  static Local backend;
  return backend;
}

std::unique_ptr<InputFile> OpenForReading(std::string_view path) {
  const std::string target = AliasedPath(path);
  return BackendFor(target).Open(target);
}

std::vector<DirEntry> ListDirectory(std::string_view path) {
  const std::string target = AliasedPath(path);
  return BackendFor(target).List(target);
}

std::vector<std::string> ListShares(std::string_view server) {
  if (auto shares = ShareRootShares(server)) return *shares;
  return SmbShares(server);
}

}  // namespace velnor::unc
