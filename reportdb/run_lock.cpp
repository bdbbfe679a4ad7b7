// The holder's description is written into the file after the lock is
// taken, so a waiting run reads who holds it; a run that finds the lock
// free rewrites the description.
#include "reportdb/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>
#include <utility>

#include "platform/automation/text.h"
#include "platform/interrupt/interrupt.h"
#include "platform/unc/planted_link.h"

namespace velnor::reportdb {
namespace {

constexpr char kSomeRun[] = "another velnor run";

std::string ReadHolder(int fd) {
  char buffer[512];
  ssize_t size = ::pread(fd, buffer, sizeof buffer - 1, 0);
  if (size <= 0) return kSomeRun;
  std::string text(buffer, static_cast<size_t>(size));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) {
    text.pop_back();
  }
  return text.empty() ? kSomeRun : text;
}

void WriteHolder(int fd) {
  char started[32];
  std::time_t now = std::time(nullptr);
  std::strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S",
                std::localtime(&now));
  std::string text = "velnor process " + std::to_string(::getpid()) +
                     ", started " + started + "\n";
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] ssize_t written =
        ::pwrite(fd, text.data(), text.size(), 0);
  }
}

// The lock's name in the abstract socket namespace: the folder by device and
// inode (any path to it names one lock), the server without regard to case
// and the service. A server name too long for the address is hashed.
struct Anchor {
  sockaddr_un address{};
  socklen_t length = 0;
};

std::optional<Anchor> AnchorOf(const std::string& db_dir,
                               const std::string& server, bool is_ftp) {
  struct stat folder {};
  if (::stat(db_dir.c_str(), &folder) != 0) return std::nullopt;
  std::string service =
      automation::AsciiLowered(server) + (is_ftp ? "-ftp" : "-web");
  char name[sizeof(sockaddr_un::sun_path)];
  int size =
      std::snprintf(name, sizeof name, "velnor-run-lock:%jx:%jx:%s",
                    static_cast<uintmax_t>(folder.st_dev),
                    static_cast<uintmax_t>(folder.st_ino), service.c_str());
  if (size < 0 || static_cast<size_t>(size) >= sizeof name - 1) {
    uint64_t hash = 14695981039346656037u;  // FNV-1a
    for (unsigned char c : service) hash = (hash ^ c) * 1099511628211u;
    size = std::snprintf(name, sizeof name, "velnor-run-lock:%jx:%jx:%" PRIx64,
                         static_cast<uintmax_t>(folder.st_dev),
                         static_cast<uintmax_t>(folder.st_ino), hash);
  }
  Anchor anchor;
  anchor.address.sun_family = AF_UNIX;
  // sun_path[0] stays '\0': the abstract namespace, never a file.
  std::memcpy(anchor.address.sun_path + 1, name, static_cast<size_t>(size));
  anchor.length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + size);
  return anchor;
}

// What one try at the lock found.
enum class Try { kTaken, kHeld, kReplaced, kUnusable };

struct Tried {
  Try result = Try::kUnusable;
  int fd = -1;
  int anchor = -1;
  bool made = false;  // the open made the file
  std::string detail;
  bool file_refused = false;  // see RunLockAttempt
};

// Binds a listening socket to `anchor`: the socket, or -1 (errno
// EADDRINUSE while another run holds it).
int BindAnchor(const Anchor& anchor) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&anchor.address),
             anchor.length) != 0 ||
      ::listen(fd, 1) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens and locks the file at `path`, checks that the path still names it,
// then binds the anchor.
Tried TryOnce(const std::string& path, const Anchor& anchor) {
  Tried tried;
  // O_NONBLOCK: a FIFO planted at the name must not hang the run.
  constexpr int kFlags = O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = ::open(path.c_str(), kFlags | O_EXCL, 0644);
  tried.made = fd >= 0;
  if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), kFlags, 0644);
  if (fd < 0) {
    tried.file_refused = errno == ELOOP;
    tried.detail = errno == ELOOP
                       ? "the lock file " + path +
                             " is a symbolic link, which velnor never "
                             "writes through"
                       : "the lock file " + path +
                             " cannot be made: " + std::strerror(errno);
    return tried;
  }
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    ::close(fd);
    tried.file_refused = true;
    tried.detail = "the lock file " + path + " is not a regular file";
    return tried;
  }
  if (unc::IsPlantedHardLink(opened, path)) {
    ::close(fd);
    tried.file_refused = true;
    tried.detail = "the lock file " + path + " has " +
                   std::to_string(opened.st_nlink) +
                   " names (a hard link, which could be any file), and "
                   "another user may have made the second one";
    return tried;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK || errno == EINTR) {
      tried.result = Try::kHeld;
      tried.detail = ReadHolder(fd);
    } else {
      tried.detail = "the lock file " + path +
                     " cannot be locked: " + std::strerror(errno);
    }
    ::close(fd);
    return tried;
  }
  // Replaced or deleted between the open and the lock: the lock is on a
  // file no other run will open, so it is worth nothing.
  struct stat named {};
  if (::lstat(path.c_str(), &named) != 0 || !SameFile(opened, named)) {
    ::close(fd);
    tried.result = Try::kReplaced;
    return tried;
  }
  tried.anchor = BindAnchor(anchor);
  if (tried.anchor < 0) {
    const int error = errno;
    ::close(fd);
    if (error == EADDRINUSE) {
      tried.result = Try::kHeld;
      tried.detail = "a velnor run whose lock file " + path +
                     " was deleted or replaced while it ran";
    } else {
      tried.detail =
          std::string("the run lock cannot be taken: ") + std::strerror(error);
    }
    return tried;
  }
  tried.result = Try::kTaken;
  tried.fd = fd;
  return tried;
}

}  // namespace

std::string RunLock::PathOf(const std::string& db_dir,
                            const std::string& server, bool is_ftp) {
  return db_dir + "/.velnor-" + automation::AsciiLowered(server) +
         (is_ftp ? "-ftp" : "-web") + ".lock";
}

RunLockAttempt RunLock::Acquire(const std::string& db_dir,
                                const std::string& server, bool is_ftp,
                                double wait_seconds) {
  RunLockAttempt attempt;
  std::string path = PathOf(db_dir, server, is_ftp);
  const std::optional<Anchor> anchor = AnchorOf(db_dir, server, is_ftp);
  if (!anchor) {
    attempt.detail =
        "the folder cannot be read: " + std::string(std::strerror(errno));
    return attempt;
  }
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::duration<double>(wait_seconds);
  for (;;) {
    Tried tried = TryOnce(path, *anchor);
    if (tried.result == Try::kTaken) {
      WriteHolder(tried.fd);
      attempt.status = Status::kTaken;
      attempt.lock.emplace(
          RunLock(tried.fd, tried.anchor, std::move(path), tried.made));
      return attempt;
    }
    attempt.detail = std::move(tried.detail);
    attempt.file_refused = tried.file_refused;
    if (tried.result == Try::kUnusable) return attempt;
    if (interrupt::Interrupted()) {
      attempt.status = Status::kCancelled;
      return attempt;
    }
    // A file replaced under the try is tried again at once, but only
    // within the wait: one replaced over and over cannot hold the run.
    if (std::chrono::steady_clock::now() >= deadline) {
      attempt.status = Status::kHeld;
      return attempt;
    }
    if (tried.result == Try::kReplaced) continue;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

bool RunLock::IsHeld(const std::string& db_dir, const std::string& server,
                     bool is_ftp) {
  int fd = ::open(PathOf(db_dir, server, is_ftp).c_str(),
                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    // A shared lock is refused while a run holds the exclusive one; taken,
    // it is dropped at once with the file.
    const bool held =
        ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    if (held) return true;
  }
  // The holder listens on the anchor: a connection is accepted into its
  // backlog (or refused as full) while it lives.
  const std::optional<Anchor> anchor = AnchorOf(db_dir, server, is_ftp);
  if (!anchor) return false;
  int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool answered =
      ::connect(probe, reinterpret_cast<const sockaddr*>(&anchor->address),
                anchor->length) == 0 ||
      errno == EAGAIN;
  ::close(probe);
  return answered;
}

RunLock::RunLock(RunLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      anchor_(std::exchange(other.anchor_, -1)),
      path_(std::move(other.path_)),
      made_(std::exchange(other.made_, false)) {}

void RunLock::RemoveFileIfMade() {
  struct stat held {};
  struct stat named {};
  if (made_ && ::fstat(fd_, &held) == 0 &&
      ::lstat(path_.c_str(), &named) == 0 && SameFile(held, named)) {
    ::unlink(path_.c_str());
  }
  made_ = false;
}

RunLock::~RunLock() {
  if (anchor_ >= 0) ::close(anchor_);
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace velnor::reportdb
