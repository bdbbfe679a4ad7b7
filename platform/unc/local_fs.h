// Reading and listing through the local file system, with failures turned
// into automation errors that name both the path the caller asked for and the
// local path tried. Shared by the local and the share-root backends.
#ifndef VELNOR_PLATFORM_UNC_LOCAL_FS_H_
#define VELNOR_PLATFORM_UNC_LOCAL_FS_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unc/unc.h"

namespace velnor::unc {

// `asked` is the path as the caller gave it (UNC or local); when it differs
// from `local` both appear in error descriptions.
std::unique_ptr<InputFile> OpenLocalFile(const std::string& local,
                                         std::string_view asked);
std::vector<DirEntry> ListLocalDirectory(const std::string& local,
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
