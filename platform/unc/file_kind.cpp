// The names messages give to files that are no regular file.
#include "platform/unc/file_kind.h"

#include <sys/stat.h>

namespace velnor::unc {

std::string SpecialFileKindName(mode_t mode) {
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "";
}

}  // namespace velnor::unc
