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
// `action` ("open" or "list") on `local`. `is_directory` selects path not
// found (76) over file not found (53) for a missing entry.
[[noreturn]] void RaiseFileSystemError(int error, std::string_view action,
                                       const std::string& local,
                                       std::string_view asked,
                                       bool is_directory);

}  // namespace velnor::unc

#endif  // VELNOR_PLATFORM_UNC_LOCAL_FS_H_
