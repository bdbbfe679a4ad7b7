// Reading and listing through the local file system, with failures turned
// into automation errors that name both the path the caller asked for and the
// local path tried. Shared by the local and the share-root backends.
#ifndef VELNOR_PLATFORM_UNC_LOCAL_FS_H_
#define VELNOR_PLATFORM_UNC_LOCAL_FS_H_

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unc/unc.h"

namespace velnor::unc {

// `top` and `names` joined by slashes.
std::string JoinedPath(std::string top, std::span<const std::string> names);

// `asked` is the path as the caller gave it (UNC or local); when it differs
// from `local` both appear in error descriptions.
std::unique_ptr<InputFile> OpenLocalFile(const std::string& local,
                                         std::string_view asked);
std::vector<DirEntry> ListLocalDirectory(const std::string& local,
                                         std::string_view asked);

// As above for the file or folder `below` names one by one inside the folder
// `top`, whose own path is the caller's and may pass through links. No
// symbolic link inside `top` is followed: one on the way, or at the file or
// folder itself, is refused (75) naming it, so that whoever may write below
// `top` cannot point a read elsewhere. A listing's entries are seen as they
// are: a link is neither followed nor taken for what it names, as opening
// one is refused.
std::unique_ptr<InputFile> OpenFileBeneath(
    const std::string& top, const std::vector<std::string>& below,
    std::string_view asked);
std::vector<DirEntry> ListDirectoryBeneath(
    const std::string& top, const std::vector<std::string>& below,
    std::string_view asked);

// Raises the automation error for errno value `error` met while doing
// `action` ("open" or "list") on `tried`, the local path or URL used for
// `asked`. A missing entry is path not found (76) when `missing_is_path`,
// else file not found (53). `denied_advice` tells what to do about
// permission denied (70).
[[noreturn]] void RaiseAccessError(int error, std::string_view action,
                                   std::string_view tried,
                                   std::string_view asked, bool missing_is_path,
                                   std::string_view denied_advice);

}  // namespace velnor::unc

#endif  // VELNOR_PLATFORM_UNC_LOCAL_FS_H_
