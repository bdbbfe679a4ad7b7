// RunLock: one collection run at a time per server and service in a folder
// of report databases. Two runs on the same databases at once would each
// be kept whole, but the second would count on top of counts it did not
// see, so the second run waits for the first, or gives up naming it.
//
// The lock is an flock(2) on a small file beside the databases, named after
// the server without regard to case (Windows names are case-insensitive),
// and holding who has it. A file can be deleted or replaced while its lock
// is held, and a run that then made a new one would lock that: so the lock
// is also a name in the kernel's abstract socket namespace, made of the
// folder's identity (device and inode) and the server and service, which
// nothing in the file system can remove. A run holds both or waits. The
// kernel drops both when their holder dies, so a killed run never leaves a
// stale lock behind.
#ifndef VELNOR_REPORTDB_RUN_LOCK_H_
#define VELNOR_REPORTDB_RUN_LOCK_H_

#include <optional>
#include <string>

namespace velnor::reportdb {

struct RunLockAttempt;

class RunLock {
 public:
  enum class Status {
    kTaken,      // the lock is this run's
    kHeld,       // another run kept it for longer than the wait
    kUnusable,   // the lock file cannot be made or locked (a read-only
                 // folder, a symbolic link or another kind of file there)
    kCancelled,  // SIGINT or SIGTERM came while waiting
  };

  // Takes the lock of `server`'s service (FTP with `is_ftp`) in `db_dir`,
  // waiting up to `wait_seconds` for another run to end. Never follows a
  // symbolic link at the lock file's name, and never keeps a lock on a file
  // that the name no longer names (replaced while this run opened it).
  static RunLockAttempt Acquire(const std::string& db_dir,
                                const std::string& server, bool is_ftp,
                                double wait_seconds);

  // True when a run holds the lock of `server`'s service in `db_dir` now.
  // Takes nothing and makes no file.
  static bool IsHeld(const std::string& db_dir, const std::string& server,
                     bool is_ftp);

  // The lock file's path of `server`'s service in `db_dir`.
  static std::string PathOf(const std::string& db_dir,
                            const std::string& server, bool is_ftp);

  RunLock(RunLock&& other) noexcept;
  RunLock& operator=(RunLock&&) = delete;
  ~RunLock();  // releases the lock

  const std::string& path() const { return path_; }

  // Removes the lock file, still holding the lock, when this run made it
  // and the name still names it: a run that stops before it writes
  // anything leaves no new file. A run waiting on the file finds it gone
  // and tries again with a new one; the abstract name keeps them apart.
  void RemoveFileIfMade();

 private:
  RunLock(int fd, int anchor, std::string path, bool made)
      : fd_(fd), anchor_(anchor), path_(std::move(path)), made_(made) {}

  int fd_ = -1;      // the locked file
  int anchor_ = -1;  // the socket bound to the lock's abstract name
  std::string path_;
  bool made_ = false;  // the file was made by this run's open
};

struct RunLockAttempt {
  RunLock::Status status = RunLock::Status::kUnusable;
  std::optional<RunLock> lock;  // with kTaken
  // kHeld: who holds it ("velnor process 123, started ..."); kUnusable: why
  // the file cannot be used.
  std::string detail;
  // kUnusable for what is at the lock file's name (a symbolic link, a file
  // of another kind, a hard link), which removing it mends, rather than
  // for the folder.
  bool file_refused = false;
};

}  // namespace velnor::reportdb

#endif  // VELNOR_REPORTDB_RUN_LOCK_H_
