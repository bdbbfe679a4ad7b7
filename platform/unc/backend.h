// The ways in through which paths are reached. unc.cpp asks each backend in
// turn whether it claims a path and hands the path to the first that does,
// so a new way in is one more Backend and callers stay unchanged. Every
// call is given the access the caller reads through.
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
  virtual bool Claims(const ShareAccess& access,
                      std::string_view path) const = 0;
  // As OpenForReading and ListDirectory in unc.h, for a claimed path.
  virtual std::unique_ptr<InputFile> Open(const ShareAccess& access,
                                          std::string_view path) = 0;
  virtual std::vector<DirEntry> List(const ShareAccess& access,
                                     std::string_view path) = 0;
};

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
    const ShareAccess& access, std::string_view server);
std::vector<std::string> SmbShares(const ShareAccess& access,
                                   std::string_view server);

// The share root of `access` without trailing slashes ("" for none).
std::string ShareRootOf(const ShareAccess& access);

}  // namespace velnor::unc

#endif  // VELNOR_PLATFORM_UNC_BACKEND_H_
