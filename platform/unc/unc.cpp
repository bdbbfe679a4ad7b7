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
  bool Claims(const ShareAccess&, std::string_view path) const override {
    return !IsUncPath(path);
  }
  std::unique_ptr<InputFile> Open(const ShareAccess&,
                                  std::string_view path) override {
    return OpenLocalFile(std::string(path), path);
  }
  std::vector<DirEntry> List(const ShareAccess&,
                             std::string_view path) override {
    return ListLocalDirectory(std::string(path), path);
  }
};

// The first backend that claims `path`. Only a UNC path that names no share
// is left; it goes to the share root when one is set, whose error then names
// the local path tried.
Backend& BackendFor(const ShareAccess& access, std::string_view path) {
  const std::array<Backend*, 3> backends = {&LocalBackend(),
                                            &ShareRootBackend(), &SmbBackend()};
  for (Backend* backend : backends) {
    if (backend->Claims(access, path)) return *backend;
  }
  if (!access.share_root.empty()) return ShareRootBackend();
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

std::unique_ptr<InputFile> OpenForReading(const ShareAccess& access,
                                          std::string_view path) {
  const std::string target = access.folder_aliases.Apply(path);
  return BackendFor(access, target).Open(access, target);
}

std::vector<DirEntry> ListDirectory(const ShareAccess& access,
                                    std::string_view path) {
  const std::string target = access.folder_aliases.Apply(path);
  return BackendFor(access, target).List(access, target);
}

std::vector<std::string> ListShares(const ShareAccess& access,
                                    std::string_view server) {
  if (auto shares = ShareRootShares(access, server)) return *shares;
  return SmbShares(access, server);
}

}  // namespace velnor::unc
