// Local file access with POSIX calls: open(2)/read(2) so that files stream
// however large they are, opendir(3) so that names come in the file system's
// own order.
#include "platform/unc/local_fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/automation/error_state.h"

namespace velnor::unc {
namespace {

using automation::DescriptionOf;
using automation::Raise;

std::string Where(std::string_view tried, std::string_view asked) {
  if (asked == tried) return std::string(tried);
  return std::string(asked) + " (tried " + std::string(tried) + ")";
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// What a file that is neither a regular file nor a folder is, for messages.
std::string KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

constexpr char kLocalDeniedAdvice[] =
    "Give this process's user read access to it.";

// A file whose folder exists is missing itself; anything else means the path
// leading to it is wrong.
[[noreturn]] void RaiseLocalError(int error, std::string_view action,
                                  const std::string& local,
                                  std::string_view asked, bool is_directory) {
  RaiseAccessError(error, action, local, asked,
                   is_directory || !IsDirectory(ParentOf(local)),
                   kLocalDeniedAdvice);
}

class FdInputFile : public InputFile {
 public:
  FdInputFile(int fd, std::string where) : fd_(fd), where_(std::move(where)) {}
  ~FdInputFile() override { ::close(fd_); }
  FdInputFile(const FdInputFile&) = delete;
  FdInputFile& operator=(const FdInputFile&) = delete;

  size_t Read(char* buffer, size_t size) override {
    for (;;) {
      ssize_t got = ::read(fd_, buffer, size);
      if (got >= 0) return static_cast<size_t>(got);
      if (errno == EINTR) continue;
      Raise(57, "Device I/O error: cannot read " + where_ + ": " +
                    std::strerror(errno) +
                    ". Check the connection to the file's location.");
    }
  }

 private:
  int fd_;
  std::string where_;
};

// Closes the directory stream on every way out, raises included.
struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// The entry as stat(2) sees it, links followed; an entry that vanished
// meanwhile keeps its name with no size.
DirEntry EntryOf(DIR* dir, const dirent& entry) {
  DirEntry result{entry.d_name, entry.d_type == DT_DIR};
  struct stat st;
  if (::fstatat(::dirfd(dir), entry.d_name, &st, 0) == 0) {
    result.is_directory = S_ISDIR(st.st_mode);
    result.size = result.is_directory ? 0 : static_cast<uint64_t>(st.st_size);
    result.modified_time = st.st_mtim.tv_sec;
  }
  return result;
}

}  // namespace

void RaiseAccessError(int error, std::string_view action,
                      std::string_view tried, std::string_view asked,
                      bool missing_is_path, std::string_view denied_advice) {
  int32_t number = 75;  // Path/File access error
  std::string advice = "Check the path and its location.";
  if (error == ENOENT || error == ENOTDIR) {
    number = missing_is_path ? automation::kErrPathNotFound
                             : automation::kErrFileNotFound;
    advice = "Check that the path exists.";
  } else if (error == EACCES || error == EPERM) {
    number = automation::kErrPermissionDenied;
    advice = denied_advice;
  } else if (error == EISDIR) {
    advice = "It is a directory; give the path of a file.";
  }
  Raise(number, DescriptionOf(number) + ": cannot " + std::string(action) +
                    " " + Where(tried, asked) + ": " + std::strerror(error) +
                    ". " + advice);
}

std::unique_ptr<InputFile> OpenLocalFile(const std::string& local,
                                         std::string_view asked) {
  // O_NONBLOCK: opening a FIFO no one writes would wait for ever, and a
  // device opens at once too; neither is read, only regular files are.
  int fd = ::open(local.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) RaiseLocalError(errno, "open", local, asked, false);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    RaiseLocalError(error, "open", local, asked, false);
  }
  if (!S_ISREG(st.st_mode)) {
    const bool directory = S_ISDIR(st.st_mode);
    ::close(fd);
    if (directory) RaiseLocalError(EISDIR, "open", local, asked, false);
    Raise(75, DescriptionOf(75) + ": cannot open " + Where(local, asked) +
                  ": it is " + KindOf(st.st_mode) +
                  ", not a regular file, and is not read. Remove it, or "
                  "put the log file itself in its place.");
  }
  return std::make_unique<FdInputFile>(fd, Where(local, asked));
}

std::vector<DirEntry> ListLocalDirectory(const std::string& local,
                                         std::string_view asked) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(local.c_str()));
  if (!dir) RaiseLocalError(errno, "list", local, asked, true);
  std::vector<DirEntry> entries;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) break;
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    entries.push_back(EntryOf(dir.get(), *entry));
  }
  if (errno != 0) RaiseLocalError(errno, "list", local, asked, true);
  return entries;
}

}  // namespace velnor::unc
