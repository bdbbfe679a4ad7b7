// The share-root way in: "\\SERVER\SHARE\rest" is ROOT/SERVER/SHARE/rest on
// the local file system. Windows names are case-insensitive and Linux ones
// are not, so a component without an exact match is looked up in its parent
// folder with ASCII case folding. The exact name is tried first because it is
// one stat(2) and the usual case; folder listings are not cached since a scan
// only happens on a case mismatch.
#include <dirent.h>
#include <sys/stat.h>

#include <span>

#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "platform/unc/backend.h"
#include "platform/unc/local_fs.h"

namespace velnor::unc {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// The entry of `folder` that equals `name` without regard to ASCII case, or
// nothing when there is none or the folder cannot be read.
std::optional<std::string> FindFolded(const std::string& folder,
                                      const std::string& name) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return std::nullopt;
  std::optional<std::string> found;
  while (const dirent* entry = ::readdir(dir)) {
    if (automation::EqualsIgnoringAsciiCase(entry->d_name, name)) {
      found = entry->d_name;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

// The entry of `folder` named `name`: as it is, else without regard to
// ASCII case; nothing when there is none.
std::optional<std::string> FindEntry(const std::string& folder,
                                     const std::string& name) {
  if (Exists(folder + "/" + name)) return name;
  return FindFolded(folder, name);
}

// Raises 75 when `folder` holds, beside the entry of components[i], a name
// that joins it by backslashes with the components after it.
void RefuseJoinedTwin(const std::string& folder,
                      const std::vector<std::string>& components, size_t i) {
  std::string joined = components[i];
  for (size_t last = i + 1; last < components.size(); ++last) {
    joined += '\\' + components[last];
    if (!Exists(folder + "/" + joined)) continue;
    automation::Raise(
        75, "Path/File access error: the UNC path names two files: " + folder +
                "/" + components[i] + "/... and " + folder + "/" + joined +
                ", whose name holds backslashes, which no Windows "
                "name does. Rename or remove the one that is not a log.");
  }
}

// The local names of `components` below `root`, one or more components
// each. `matched` tells how many components were found; the unmatched rest
// is kept as given so that errors show what was tried. A Windows name never
// holds a backslash but a Linux one may (a log folder copied here, a file a
// Samba server's own users made), and its folder's listing gives it whole,
// so a component that is not there is also looked for joined by backslashes
// with the ones after it, the shortest such name first. Where a component is
// there and a name joined from it is there too, the UNC path names either;
// rather than read the one and count it for the other (a name someone
// planted beside a folder of logs, say), the path is refused. `share_names`,
// when given, is set to how many of the names reach the share's folder.
std::vector<std::string> Resolve(const std::string& root,
                                 const std::vector<std::string>& components,
                                 size_t* matched,
                                 size_t* share_names = nullptr) {
  std::string local = root;
  std::vector<std::string> names;
  *matched = 0;
  bool lost = false;
  for (size_t i = 0; i < components.size(); ++i) {
    if (!lost) {
      std::optional<std::string> found = FindEntry(local, components[i]);
      if (found) RefuseJoinedTwin(local, components, i);
      std::string joined = components[i];
      size_t last = i;
      while (!found && last + 1 < components.size()) {
        joined += '\\' + components[++last];
        found = FindEntry(local, joined);
      }
      if (found) {
        const bool reaches_share = *matched < 2 && *matched + last - i + 1 >= 2;
        *matched += last - i + 1;
        i = last;
        local += "/" + *found;
        names.push_back(*found);
        if (reaches_share && share_names != nullptr) {
          *share_names = names.size();
        }
        continue;
      }
      lost = true;
    }
    local += "/" + components[i];
    names.push_back(components[i]);
  }
  return names;
}

std::vector<std::string> ComponentsOf(const UncPath& unc) {
  std::vector<std::string> components{unc.server, unc.share};
  components.insert(components.end(), unc.rest.begin(), unc.rest.end());
  return components;
}

class ShareRootWay final : public Backend {
 public:
  bool Claims(const ShareAccess& access, std::string_view path) const override {
    const std::string root = ShareRootOf(access);
    auto unc = ParseUncPath(path);
    if (root.empty() || !unc) return false;
    size_t matched = 0;
    Resolve(root, {unc->server, unc->share}, &matched);
    return matched == 2;
  }

  // The share's folder is the share root's owner's (a mount, a link to a
  // copy); what lies below it is the server's, which others may write to,
  // so no link there is followed.
  std::unique_ptr<InputFile> Open(const ShareAccess& access,
                                  std::string_view path) override {
    const ShareFolder at = Locate(access, path);
    return OpenFileBeneath(at.share, at.below, path);
  }

  std::vector<DirEntry> List(const ShareAccess& access,
                             std::string_view path) override {
    const ShareFolder at = Locate(access, path);
    return ListDirectoryBeneath(at.share, at.below, path);
  }

 private:
  // A UNC path under the share root: the local folder of its share and the
  // local names below it.
  struct ShareFolder {
    std::string share;
    std::vector<std::string> below;
  };

  static ShareFolder Locate(const ShareAccess& access, std::string_view path) {
    auto unc = ParseUncPath(path);
    if (!unc) {
      automation::Raise(automation::kErrPathNotFound,
                        "Path not found: " + std::string(path) +
                            " names no share. Give \\\\SERVER\\SHARE\\path.");
    }
    const std::string root = ShareRootOf(access);
    size_t matched = 0;
    size_t share_names = 0;
    std::vector<std::string> names =
        Resolve(root, ComponentsOf(*unc), &matched, &share_names);
    if (matched < 2) {
      // The share root does not hold the server or its share.
      std::string missing =
          unc->server + (matched == 0 ? "" : "/" + unc->share);
      automation::Raise(automation::kErrPathNotFound,
                        "Path not found: cannot reach " + std::string(path) +
                            ": the share root " + root + " has no folder " +
                            missing + " (tried " + root + "/" + missing +
                            "). Mount or copy the server's share " +
                            unc->share + " there.");
    }
    const std::span<const std::string> all(names);
    return {JoinedPath(root, all.first(share_names)),
            {names.begin() + share_names, names.end()}};
  }
};

}  // namespace

std::string ShareRootOf(const ShareAccess& access) {
  std::string root = access.share_root;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::optional<std::vector<std::string>> ShareRootShares(
    const ShareAccess& access, std::string_view server) {
  const std::string root = ShareRootOf(access);
  size_t matched = 0;
  const std::string folder =
      JoinedPath(root, Resolve(root, {std::string(server)}, &matched));
  if (root.empty() || matched != 1) return std::nullopt;
  std::vector<std::string> shares;
  for (DirEntry& entry :
       ListLocalDirectory(folder, "\\\\" + std::string(server))) {
    if (entry.is_directory) shares.push_back(std::move(entry.name));
  }
  return shares;
}

Backend& ShareRootBackend() {
  static ShareRootWay backend;
  return backend;
}

}  // namespace velnor::unc
