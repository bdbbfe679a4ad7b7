// Whether a file velnor is about to write has a name someone else gave it.
// O_NOFOLLOW refuses a symbolic link, but a hard link is the file itself
// under a second name: where the kernel lets anyone link to any file
// (fs.protected_hardlinks off), a name planted in a folder others may write
// to could have a run as root append to or empty /etc/shadow.
#ifndef VELNOR_PLATFORM_UNC_PLANTED_LINK_H_
#define VELNOR_PLATFORM_UNC_PLANTED_LINK_H_

#include <sys/stat.h>

#include <string>

namespace velnor::unc {

// True when `file` (as stat gives it for `path`) has more than one name and
// another user may have made the second one: the file is another user's,
// or its folder is another user's or one its group or anyone may write to
// (/tmp). A second name the user gave their own file in a folder of their
// own (a snapshot made with cp -al) is theirs, and false. Also true when
// the folder cannot be examined.
bool IsPlantedHardLink(const struct stat& file, const std::string& path);

}  // namespace velnor::unc

#endif  // VELNOR_PLATFORM_UNC_PLANTED_LINK_H_
