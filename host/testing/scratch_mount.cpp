// Mounted with mount(2) directly: no shell, and the folder is the test's.
#include "host/testing/scratch_mount.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace velnor::host {

std::unique_ptr<ScratchMount> ScratchMount::Mount(
    const std::filesystem::path& folder, int megabytes) {
  std::string options = "size=" + std::to_string(megabytes) + "m";
  if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    return nullptr;
  }
  return std::unique_ptr<ScratchMount>(new ScratchMount(folder));
}

ScratchMount::~ScratchMount() { ::umount2(folder_.c_str(), MNT_DETACH); }

void ScratchMount::Fill() {
  int fd = ::open((folder_ / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
  std::vector<char> block(4096, 'x');
  while (::write(fd, block.data(), block.size()) > 0) {
  }
  ::close(fd);
}

bool ScratchMount::MakeReadOnly() {
  return ::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY,
                 nullptr) == 0;
}

}  // namespace velnor::host
