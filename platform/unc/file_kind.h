// What a file that is neither a regular file nor a folder is, in the words
// messages use for it, so that every message names a pipe or a device the
// same way.
#ifndef VELNOR_PLATFORM_UNC_FILE_KIND_H_
#define VELNOR_PLATFORM_UNC_FILE_KIND_H_

#include <sys/types.h>

#include <string>

namespace velnor::unc {

// "a named pipe", "a character device", "a block device" or "a socket" for
// a file of `mode` of that kind; empty for any other (a regular file, a
// folder, a symbolic link).
std::string SpecialFileKindName(mode_t mode);

}  // namespace velnor::unc

#endif  // VELNOR_PLATFORM_UNC_FILE_KIND_H_
