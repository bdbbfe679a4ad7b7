// The ways in through which paths are reached. unc.cpp asks each backend in
// turn whether it claims a path and hands the path to the first that does,
// so a new way in is one more Backend and callers stay unchanged.
#ifndef VELNOR_PLATFORM_UNC_BACKEND_H_
#define VELNOR_PLATFORM_UNC_BACKEND_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unc/unc.h"

namespace velnor::unc {

class Backend {
 public:
  virtual ~Backend() = default;
  // True when this backend is the one to reach `path`. Must not raise.
  virtual bool Claims(std::string_view path) const = 0;
  // As OpenForReading and ListDirectory in unc.h, for a claimed path.
  virtual std::unique_ptr<InputFile> Open(std::string_view path) = 0;
  virtual std::vector<DirEntry> List(std::string_view path) = 0;
};

// "\\SERVER\SHARE\rest" taken apart. Either kind of slash separates
// components; empty and "." components are dropped and ".." removes the
// component before it but never climbs above the share, as on Windows.
struct UncPath {
  std::string server;
  std::string share;
  std::vector<std::string> rest;
};
// Nothing when `path` is not UNC or names no share.
std::optional<UncPath> ParseUncPath(std::string_view path);

// Ordinary local paths (no leading double backslash).
Backend& LocalBackend();
// UNC paths whose server and share exist under the share root. Reached also
// for an unclaimed UNC path while a share root is set, so that the error
// names the missing folder.
Backend& ShareRootBackend();
// Every UNC path that names a share, unless a share root is set and SMB is
// not allowed beside it: smb://SERVER/SHARE/rest through libsmbclient.
Backend& SmbBackend();

// The share listings behind ListShares: the sub-folders of ROOT/SERVER, or
// nothing when no share root is set or it holds no folder for `server`; and
// the disk shares of `server` over SMB.
std::optional<std::vector<std::string>> ShareRootShares(
    std::string_view server);
std::vector<std::string> SmbShares(std::string_view server);

// `path` with the folder alias that covers it applied (see SetFolderAlias),
// or `path` itself when none does.
std::string AliasedPath(std::string_view path);

}  // namespace velnor::unc

#endif  // VELNOR_PLATFORM_UNC_BACKEND_H_
