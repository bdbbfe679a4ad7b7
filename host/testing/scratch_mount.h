// Test support: a small file system of the test's own (tmpfs) mounted on a
// folder, to fill it up or make it read-only. Mounting needs root; where it
// is not allowed, Mount returns nothing and the test uses another way.
#ifndef VELNOR_HOST_TESTING_SCRATCH_MOUNT_H_
#define VELNOR_HOST_TESTING_SCRATCH_MOUNT_H_

#include <filesystem>
#include <memory>

namespace velnor::host {

class ScratchMount {
 public:
  // Mounts a tmpfs of `megabytes` on the existing empty folder `folder`;
  // nothing when that is not allowed here.
  static std::unique_ptr<ScratchMount> Mount(
      const std::filesystem::path& folder, int megabytes);
  ~ScratchMount();  // unmounts

  // Fills the file system up with one file.
  void Fill();
  // Makes the whole file system read-only.
  bool MakeReadOnly();

 private:
  explicit ScratchMount(std::filesystem::path folder)
      : folder_(std::move(folder)) {}
  std::filesystem::path folder_;
};

}  // namespace velnor::host

#endif  // VELNOR_HOST_TESTING_SCRATCH_MOUNT_H_
