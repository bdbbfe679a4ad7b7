// The holder's description is written into the file after the lock is
// taken, so a waiting run reads who holds it; a run that finds the lock
// free rewrites the description.
#include "host/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>
#include <utility>

#include "platform/automation/text.h"

namespace velnor::host {
namespace {

std::string LockPath(const std::string& db_dir, const std::string& server,
                     bool is_ftp) {
  return db_dir + "/.velnor-" + automation::AsciiLowered(server) +
         (is_ftp ? "-ftp" : "-web") + ".lock";
}

std::string ReadHolder(int fd) {
  char buffer[512];
  ssize_t size = ::pread(fd, buffer, sizeof buffer - 1, 0);
  if (size <= 0) return "another velnor run";
  std::string text(buffer, static_cast<size_t>(size));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) {
    text.pop_back();
  }
  return text.empty() ? "another velnor run" : text;
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

}  // namespace

RunLockAttempt RunLock::Acquire(const std::string& db_dir,
                                const std::string& server, bool is_ftp,
                                double wait_seconds) {
  RunLockAttempt attempt;
  std::string path = LockPath(db_dir, server, is_ftp);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    attempt.detail =
        "the lock file " + path + " cannot be made: " + std::strerror(errno);
    return attempt;
  }
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::duration<double>(wait_seconds);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      attempt.detail = "the lock file " + path +
                       " cannot be locked: " + std::strerror(errno);
      ::close(fd);
      return attempt;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      attempt.status = Status::kHeld;
      attempt.detail = ReadHolder(fd);
      ::close(fd);
      return attempt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  WriteHolder(fd);
  attempt.status = Status::kTaken;
  attempt.lock.emplace(RunLock(fd, std::move(path)));
  return attempt;
}

bool RunLock::IsHeld(const std::string& db_dir, const std::string& server,
                     bool is_ftp) {
  int fd =
      ::open(LockPath(db_dir, server, is_ftp).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // A shared lock is refused while a run holds the exclusive one; taken, it
  // is dropped at once with the file.
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

RunLock::RunLock(RunLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

RunLock::~RunLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace velnor::host
