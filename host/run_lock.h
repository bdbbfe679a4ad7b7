// RunLock: one collection run at a time per server and service in a folder
// of report databases. Two runs on the same databases at once would each
// be kept whole, but the second would count on top of counts it did not
// see, so the second run waits for the first, or gives up naming it.
//
// The lock is an flock(2) on a small file beside the databases, named after
// the server without regard to case (Windows names are case-insensitive),
// and holding who has it. The kernel drops it when its holder dies, so a
// killed run never leaves a stale lock behind.
#ifndef VELNOR_HOST_RUN_LOCK_H_
#define VELNOR_HOST_RUN_LOCK_H_

#include <optional>
#include <string>

namespace velnor::host {

class RunLock {
 public:
  // Takes the lock of `server`'s service (FTP with `is_ftp`) in `db_dir`,
  // waiting up to `wait_seconds` for another run to end. Returns nothing,
  // with `holder` describing the run that has it (or why the lock file
  // cannot be used), when it cannot be had.
  static std::optional<RunLock> Acquire(const std::string& db_dir,
                                        const std::string& server, bool is_ftp,
                                        double wait_seconds,
                                        std::string& holder);

  RunLock(RunLock&& other) noexcept;
  RunLock& operator=(RunLock&&) = delete;
  ~RunLock();  // releases the lock

  const std::string& path() const { return path_; }

 private:
  RunLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

  int fd_ = -1;
  std::string path_;
};

}  // namespace velnor::host

#endif  // VELNOR_HOST_RUN_LOCK_H_
