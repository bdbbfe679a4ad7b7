// Local file access with POSIX calls: open(2)/read(2) so that files stream
// however large they are, opendir(3) so that names come in the file system's
// own order, openat(2) one name at a time with O_NOFOLLOW where no link may
// be followed (the kernel then checks each name as it opens it, so a link
// swapped in after a check is refused all the same).
#include "platform/unc/local_fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <span>
#include <utility>

#include "platform/automation/error_state.h"
#include "platform/unc/file_kind.h"

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
  std::string kind = SpecialFileKindName(mode);
  return kind.empty() ? "a special file" : kind;
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

// The entry as stat(2) sees it, a link followed when `follow_links`, else
// the link itself; an entry that vanished meanwhile keeps its name with no
// size.
DirEntry EntryOf(DIR* dir, const dirent& entry, bool follow_links) {
  DirEntry result{entry.d_name, entry.d_type == DT_DIR};
  struct stat st;
  if (::fstatat(::dirfd(dir), entry.d_name, &st,
                follow_links ? 0 : AT_SYMLINK_NOFOLLOW) == 0) {
    result.is_directory = S_ISDIR(st.st_mode);
    result.is_file = S_ISREG(st.st_mode);
    result.size = result.is_file ? static_cast<uint64_t>(st.st_size) : 0;
    result.modified_time = st.st_mtim.tv_sec;
  }
  return result;
}

// Lists `opened`, taking it over.
std::vector<DirEntry> ListOpenDirectory(DIR* opened, const std::string& local,
                                        std::string_view asked,
                                        bool follow_links) {
  std::unique_ptr<DIR, DirCloser> dir(opened);
  if (!dir) RaiseLocalError(errno, "list", local, asked, true);
  std::vector<DirEntry> entries;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) break;
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    entries.push_back(EntryOf(dir.get(), *entry, follow_links));
  }
  if (errno != 0) RaiseLocalError(errno, "list", local, asked, true);
  return entries;
}

// A descriptor closed on every way out, raises included.
class OwnedFd {
 public:
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  OwnedFd& operator=(OwnedFd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }

  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Raises 75 when `name` in the folder `dir` is a symbolic link: called when
// opening it without following links failed, to tell that refusal from a
// missing or unreadable entry.
void RefuseLink(int dir, const std::string& name, std::string_view action,
                const std::string& local, std::string_view asked) {
  struct stat st;
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISLNK(st.st_mode)) {
    return;
  }
  Raise(75, DescriptionOf(75) + ": cannot " + std::string(action) + " " +
                std::string(asked) + ": " + local +
                " is a symbolic link, and no link inside a share is "
                "followed, so that whoever may write to the share cannot "
                "make velnor read what lies elsewhere. Put the file or "
                "folder itself in the link's place.");
}

// The folder `top`, then each of `names` in turn inside it, not through a
// link: a descriptor for path resolution only (O_PATH). Failures name
// `tried`, the whole local path the caller is after, and a link the path
// reached.
OwnedFd OpenFolderBeneath(const std::string& top,
                          std::span<const std::string> names,
                          std::string_view action, std::string_view asked,
                          const std::string& tried) {
  OwnedFd dir(::open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) RaiseLocalError(errno, action, tried, asked, true);
  std::string reached = top;
  for (const std::string& name : names) {
    reached += "/" + name;
    OwnedFd next(::openat(dir.get(), name.c_str(),
                          O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.get() < 0) {
      const int error = errno;
      RefuseLink(dir.get(), name, action, reached, asked);
      RaiseLocalError(error, action, tried, asked, true);
    }
    dir = std::move(next);
  }
  return dir;
}

// `fd`, just opened for `local`, as an input file when it is a regular file;
// else it is closed and refused.
std::unique_ptr<InputFile> RegularFileOf(int opened, const std::string& local,
                                         std::string_view asked) {
  OwnedFd fd(opened);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    RaiseLocalError(errno, "open", local, asked, false);
  }
  if (!S_ISREG(st.st_mode)) {
    if (S_ISDIR(st.st_mode)) {
      RaiseLocalError(EISDIR, "open", local, asked, false);
    }
    Raise(75, DescriptionOf(75) + ": cannot open " + Where(local, asked) +
                  ": it is " + KindOf(st.st_mode) +
                  ", not a regular file, and is not read. Remove it, or "
                  "put the log file itself in its place.");
  }
  return std::make_unique<FdInputFile>(fd.release(), Where(local, asked));
}

// O_NONBLOCK: opening a FIFO no one writes would wait for ever, and a
// device opens at once too; neither is read, only regular files are.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;

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

std::string JoinedPath(std::string top, std::span<const std::string> names) {
  for (const std::string& name : names) top += "/" + name;
  return top;
}

std::unique_ptr<InputFile> OpenLocalFile(const std::string& local,
                                         std::string_view asked) {
  int fd = ::open(local.c_str(), kOpenFlags);
  if (fd < 0) RaiseLocalError(errno, "open", local, asked, false);
  return RegularFileOf(fd, local, asked);
}

std::vector<DirEntry> ListLocalDirectory(const std::string& local,
                                         std::string_view asked) {
  return ListOpenDirectory(::opendir(local.c_str()), local, asked, true);
}

std::unique_ptr<InputFile> OpenFileBeneath(
    const std::string& top, const std::vector<std::string>& below,
    std::string_view asked) {
  if (below.empty()) RaiseLocalError(EISDIR, "open", top, asked, false);
  const std::string local = JoinedPath(top, below);
  OwnedFd dir = OpenFolderBeneath(top, std::span(below).first(below.size() - 1),
                                  "open", asked, local);
  int fd = ::openat(dir.get(), below.back().c_str(), kOpenFlags | O_NOFOLLOW);
  if (fd < 0) {
    const int error = errno;
    RefuseLink(dir.get(), below.back(), "open", local, asked);
    RaiseLocalError(error, "open", local, asked, false);
  }
  return RegularFileOf(fd, local, asked);
}

std::vector<DirEntry> ListDirectoryBeneath(
    const std::string& top, const std::vector<std::string>& below,
    std::string_view asked) {
  const std::string local = JoinedPath(top, below);
  OwnedFd dir = OpenFolderBeneath(top, below, "list", asked, local);
  OwnedFd readable(
      ::openat(dir.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (readable.get() < 0) RaiseLocalError(errno, "list", local, asked, true);
  DIR* opened = ::fdopendir(readable.get());
  if (opened != nullptr) readable.release();
  return ListOpenDirectory(opened, local, asked, false);
}

}  // namespace velnor::unc
