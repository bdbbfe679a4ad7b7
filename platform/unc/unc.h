// UNC paths on Linux: how this machine reaches "\\SERVER\SHARE\rest", the
// administrative shares through which a server's log files are read.
//
// A path that does not start with two backslashes is an ordinary local path
// and is used as it is. A UNC path is resolved by the first way in that
// claims it (a share root folder; later an SMB client). Every failure
// raises automation::AutomationError whose description names the UNC path
// and, where one was tried, the local path.
#ifndef VELNOR_PLATFORM_UNC_UNC_H_
#define VELNOR_PLATFORM_UNC_UNC_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::unc {

// A file open for reading, streamed.
class InputFile {
 public:
  virtual ~InputFile() = default;
  // Reads up to `size` bytes; 0 at the end. Raises on a read error.
  virtual size_t Read(char* buffer, size_t size) = 0;
};

// One entry of a directory listing.
struct DirEntry {
  std::string name;
  bool is_directory = false;
};

// Opens `path` (UNC or local) for reading. Raises file not found (53),
// path not found (76) or permission denied (70), naming the path.
std::unique_ptr<InputFile> OpenForReading(std::string_view path);

// Lists the entries of directory `path`, without "." and "..", in the order
// the file system delivers them. Raises like OpenForReading.
std::vector<DirEntry> ListDirectory(std::string_view path);

}  // namespace velnor::unc

#endif  // VELNOR_PLATFORM_UNC_UNC_H_
