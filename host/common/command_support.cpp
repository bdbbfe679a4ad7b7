// Shared pieces of the velnor subcommands.
#include "host/common/command_support.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ext/stdio_filebuf.h>
#include <filesystem>
#include <iostream>

#include "host/render/text_format.h"
#include "ledger/ledger_store.h"
#include "platform/ado/engine.h"
#include "platform/ado/pg_connection.h"
#include "platform/ado/session.h"
#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"
#include "platform/unc/file_kind.h"
#include "platform/unc/planted_link.h"

namespace velnor::host {

bool Usage(const std::string& problem, const std::string& help) {
  std::cerr << "velnor: error: " << problem << "\n  help: " << help << "\n";
  return false;
}

std::string StoreUnreachableHelp(const std::string& url) {
  return "check the URL, that the server runs, and the password in " +
         ado::pg::PasswordFile(url);
}

std::pair<std::string, std::string> LedgerLacksTable(
    const reportdb::ReportLocation& location, const std::string& path,
    int lock_wait_ms, bool collecting) {
  std::string table;
  automation::ResumeNext([&] {
    auto session =
        ado::Session::BeginReading(lock_wait_ms, location.MakeEngine());
    table = ledger::LedgerStore(*session, session->Attach(path)).MissingTable();
    session->Commit();
  });
  automation::Err().Clear();
  if (table.empty()) return {};
  // A renamed table comes back with its rows; a new ledger starts without
  // the record of what was counted, which only the user can choose.
  const bool central = location.IsPostgres();
  const std::string ledger =
      CleanUtf8(central ? ado::PostgresSchemaOf(path) : path, true);
  return {
      "the collection ledger " + std::string(central ? "schema " : "") +
          CleanUtf8(location.Shown(path), true) + " lacks its table " + table +
          " (another tool renamed or dropped it), so what earlier runs "
          "counted cannot be told",
      std::string(collecting ? "nothing was collected; " : "") +
          "rename the table back (ALTER TABLE ... RENAME TO " + table +
          ") or restore the ledger from a backup, then run the same "
          "command again; or, giving up its record of earlier runs, "
          "move " +
          (central
               ? "the schema aside (ALTER SCHEMA " + ledger + " RENAME TO ...)"
               : ledger + " aside") +
          " and give " + (collecting ? "" : "velnor collect ") +
          "--start-ledger DAY to start a new one that takes the days "
          "before DAY as counted"};
}

bool IsValidHostName(std::string_view name) {
  if (name.empty() || name.size() > 253) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t dot = name.find('.', start);
    std::string_view label = name.substr(start, dot - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' ||
        label.back() == '-') {
      return false;
    }
    for (char c : label) {
      bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                (c >= '0' && c <= '9') || c == '-';
      if (!ok) return false;
    }
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return true;
}

bool CheckServerName(const std::string& server) {
  if (IsValidHostName(server)) return true;
  // Appended, not added up: GCC 12 warns wrongly about "..." + a temporary.
  std::string problem = "\"";
  problem += Shown(server);
  problem += "\" is not a valid server name";
  return Usage(problem,
               "give the server's host name: letters, digits and hyphens, "
               "labels separated by dots (for example SRV1 or "
               "web01.example.com)");
}

namespace {

// True for a folder anyone may write to with the sticky bit set, such as
// /tmp: each user may put names there, and remove only their own.
bool OpenToAll(const struct stat& folder) {
  return (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
}

// The first component of `path` that is a symbolic link PlantedLinkProblem
// refuses, with the folder it stands in; empty when there is none.
std::pair<std::string, std::string> FirstPlantedLink(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) return {};
  std::filesystem::path prefix;
  for (const std::filesystem::path& part : absolute) {
    const std::filesystem::path folder = prefix;
    prefix /= part;
    struct stat link {};
    struct stat in {};
    if (folder.empty() || ::lstat(prefix.c_str(), &link) != 0 ||
        !S_ISLNK(link.st_mode) || ::stat(folder.c_str(), &in) != 0) {
      continue;
    }
    if (OpenToAll(in) && link.st_uid != ::geteuid() &&
        link.st_uid != in.st_uid) {
      return {prefix.string(), folder.string()};
    }
  }
  return {};
}

}  // namespace

std::pair<std::string, std::string> PlantedLinkProblem(
    const std::string& path, const std::string& what) {
  const auto [link, folder] = FirstPlantedLink(path);
  if (link.empty()) return {};
  return {what + " " + Shown(path) + " goes through " + Shown(link) +
              ", a symbolic link another user made in " + Shown(folder) +
              ", a folder anyone may write to",
          "velnor does not follow such a link, which could lead anywhere; "
          "name the folder it points at if you trust it, or use a folder of "
          "your own"};
}

std::pair<std::string, std::string> DbDirProblem(const std::string& dir) {
  if (auto planted = PlantedLinkProblem(dir, "--db-dir");
      !planted.first.empty()) {
    return planted;
  }
  std::error_code error;
  if (std::filesystem::is_directory(dir, error)) return {};
  if (std::filesystem::exists(dir, error)) {
    const std::string parent =
        std::filesystem::path(dir).parent_path().string();
    return {"--db-dir " + Shown(dir) + " is a file, not a folder",
            "give the folder that holds the report databases (" +
                (parent.empty() ? std::string(".") : Shown(parent)) +
                ", if this file is one of them)"};
  }
  return {
      "the database folder " + Shown(dir) + " does not exist",
      "create it first (mkdir -p " + Shown(dir) + ") or give another --db-dir"};
}

bool CheckDbDir(const std::string& dir) {
  const auto [problem, help] = DbDirProblem(dir);
  return problem.empty() || Usage(problem, help);
}

bool IsSymbolicLink(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

namespace {

// Why velnor does not write into the regular file `file` (as stat gives it
// for `path`), as what follows its name ("has 2 names ..."); empty when it
// may. Refused: a second name another user may have made
// (unc::IsPlantedHardLink), and in a folder anyone may write to with the
// sticky bit set, a file another user made (one who does not own the
// folder), which is theirs to read and to swap.
std::string PlantedFileReason(const struct stat& file,
                              const std::string& path) {
  if (unc::IsPlantedHardLink(file, path)) {
    return "has " + std::to_string(file.st_nlink) +
           " names (a hard link, which could be any file), and another user "
           "may have made the second one";
  }
  std::error_code error;
  const std::filesystem::path folder =
      std::filesystem::absolute(path, error).parent_path();
  struct stat in {};
  if (!error && ::stat(folder.c_str(), &in) == 0 && OpenToAll(in) &&
      file.st_uid != ::geteuid() && file.st_uid != in.st_uid) {
    return "is a file another user made, in " + Shown(folder.string()) +
           ", a folder anyone may write to";
  }
  return "";
}

// PlantedFileReason of the regular file at `path`, named as `what`, as a
// problem; empty when it may be written or is no regular file.
std::string PlantedFileProblem(const std::string& path,
                               const std::string& what) {
  struct stat file {};
  if (::lstat(path.c_str(), &file) != 0 || !S_ISREG(file.st_mode)) return "";
  const std::string reason = PlantedFileReason(file, path);
  return reason.empty() ? "" : what + " " + Shown(path) + " " + reason;
}

}  // namespace

bool CheckNotLink(const std::string& path, const std::string& what) {
  if (IsSymbolicLink(path)) {
    return Usage(what + " " + Shown(path) + " is a symbolic link", kNoLinkHelp);
  }
  if (const auto [problem, help] = PlantedLinkProblem(path, what);
      !problem.empty()) {
    return Usage(problem, help);
  }
  const std::string planted = PlantedFileProblem(path, what);
  return planted.empty() ||
         Usage(planted,
               "velnor does not write into such a file, which another user "
               "may have put there; remove it, or name a file in a folder of "
               "your own");
}

bool IsDatabaseFile(const std::string& path) {
  // Never waiting on a FIFO at the name; special files are told apart by
  // SpecialFileKind before this is asked.
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  constexpr std::string_view kHeader("SQLite format 3\0", 16);
  char head[16];
  const ssize_t read = ::pread(fd, head, sizeof head, 0);
  ::close(fd);
  return read == static_cast<ssize_t>(sizeof head) &&
         std::string_view(head, sizeof head) == kHeader;
}

bool WriteWhole(std::ostream& out, std::string_view text,
                const std::string& what, std::ostream& err) {
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.flush();
  if (out) return true;
  err << "velnor: error: " << what
      << " could not be written whole to standard output\n  help: check the "
         "free space and the file or program it goes to, then run the same "
         "command again\n";
  return false;
}

bool CheckDatabaseFile(const std::string& path, const std::string& what) {
  if (!CheckNotLink(path, what)) return false;
  const std::string kind = NotAFileKind(path);
  if (kind.empty()) return true;
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return Usage(what + " " + Shown(path) + " is " + kind + ", not a file",
               "velnor keeps its databases in regular files; move it out of " +
                   (folder.empty() ? std::string(".") : Shown(folder)) +
                   " and run the same command again");
}

std::string SpecialFileKind(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return "";
  return unc::SpecialFileKindName(info.st_mode);
}

std::string NotAFileKind(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "";
  return S_ISDIR(info.st_mode) ? "a folder"
                               : unc::SpecialFileKindName(info.st_mode);
}

OutputFile::OutputFile(int fd, std::string path, bool made)
    : std::ostream(nullptr),
      buffer_(std::make_unique<__gnu_cxx::stdio_filebuf<char>>(
          fd, std::ios::out | std::ios::binary)),
      fd_(fd),
      path_(std::move(path)),
      made_(made) {
  rdbuf(buffer_.get());
}

bool OutputFile::Empty(std::string& error) {
  if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) {
    error = std::strerror(errno);
    setstate(std::ios::badbit);
    return false;
  }
  return true;
}

void OutputFile::RemoveIfMade() {
  // In a folder anyone may write to only its owner can rename or remove
  // the file, so the name that names it now still does at the unlink.
  struct stat held {};
  struct stat named {};
  if (made_ && ::fstat(fd_, &held) == 0 &&
      ::lstat(path_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
      held.st_ino == named.st_ino) {
    ::unlink(path_.c_str());
  }
  made_ = false;
  setstate(std::ios::badbit);
}

namespace {

// `path` opened write-only; `made` tells whether this open made it, which
// O_EXCL knows for sure where a look before the open could be outdated.
int OpenOrMake(const std::string& path, bool& made) {
  // O_NONBLOCK: a named pipe put there since the checks fails or opens at
  // once instead of waiting for a reader; a regular file ignores it.
  constexpr int kFlags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
    made = fd >= 0;
    if (made || errno != EEXIST) return fd;
    fd = ::open(path.c_str(), kFlags);
    // Removed between the two opens: made anew by the next attempt.
    if (fd >= 0 || errno != ENOENT) return fd;
  }
  return -1;
}

}  // namespace

std::unique_ptr<OutputFile> OpenOutputFile(const std::string& path,
                                           std::string& error) {
  // No O_TRUNC: the file's bytes stay until the run's listing begins.
  bool made = false;
  int fd = OpenOrMake(path, made);
  if (fd < 0) {
    error = errno == ELOOP ? "it is a symbolic link, which velnor never "
                             "writes through"
            : errno == ENXIO
                ? "it is a named pipe, and velnor writes only regular files"
                : std::strerror(errno);
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "it is not a regular file, and velnor writes only regular files";
    ::close(fd);
    return nullptr;
  }
  if (std::string reason = PlantedFileReason(info, path); !reason.empty()) {
    error = "it " + reason;
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<OutputFile>(fd, path, made);
}

namespace {

// Writes all of `text` to `fd`; false, with errno set, when it could not.
bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// The mode a file velnor makes gets: 0644 less the process's umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0644 & ~mask;
}

// The mode of the new file for `path`: the read and write bits of the file
// it replaces, or the user's default for a new one; false, with `error`
// set, when `path` holds something velnor does not replace.
bool NewFileModeFor(const std::string& path, mode_t& mode, std::string& error) {
  struct stat old {};
  if (::lstat(path.c_str(), &old) != 0) {
    mode = NewFileMode();
    return true;
  }
  if (S_ISLNK(old.st_mode)) {
    error = "it is a symbolic link, which velnor never writes through";
    return false;
  }
  if (!S_ISREG(old.st_mode)) {
    error = "it is not a regular file, and velnor writes only regular files";
    return false;
  }
  mode = old.st_mode & 0666;
  return true;
}

// A new file beside `path` (".NAME.XXXXXX") holding `text` with `mode`,
// made to last; its name, or "" with `error` set and nothing left behind.
std::string WriteBeside(const std::string& path, std::string_view text,
                        mode_t mode, std::string& error) {
  const std::filesystem::path target(path);
  std::string temporary = target.parent_path().string();
  if (!temporary.empty()) temporary += '/';
  temporary += '.';
  temporary += target.filename().string();
  temporary += ".XXXXXX";
  // mkostemp makes the file with O_EXCL: nothing planted at its name, a
  // link included, is opened.
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    error = std::string("no new file can be made beside it: ") +
            std::strerror(errno);
    return "";
  }
  const bool written =
      ::fchmod(fd, mode) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
  const int write_error = errno;
  if (::close(fd) != 0 || !written) {
    error = std::strerror(written ? errno : write_error);
    ::unlink(temporary.c_str());
    return "";
  }
  return temporary;
}

// Holds SIGINT, SIGTERM and SIGHUP back from the calling thread while it
// lives; one that came meanwhile is handled (by default: the process ends)
// as it ends.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal);
    ::pthread_sigmask(SIG_BLOCK, &held, &before_);
  }
  ~EndingSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

 private:
  sigset_t before_;
};

}  // namespace

bool ReplaceFiles(const std::vector<FileText>& files, std::string& failed,
                  std::string& error) {
  failed.clear();
  std::vector<mode_t> modes(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    if (!NewFileModeFor(files[i].path, modes[i], error)) {
      failed = files[i].path;
      return false;
    }
  }
  const EndingSignalsHeld held;
  std::vector<std::string> temporaries;
  for (size_t i = 0; i < files.size() && failed.empty(); ++i) {
    temporaries.push_back(
        WriteBeside(files[i].path, files[i].text, modes[i], error));
    if (temporaries.back().empty()) failed = files[i].path;
  }
  for (size_t i = 0; i < temporaries.size() && failed.empty(); ++i) {
    if (::rename(temporaries[i].c_str(), files[i].path.c_str()) != 0) {
      error = std::strerror(errno);
      failed = files[i].path;
    } else {
      temporaries[i].clear();
    }
  }
  for (const std::string& temporary : temporaries) {
    if (!temporary.empty()) ::unlink(temporary.c_str());
  }
  return failed.empty();
}

std::string Shown(std::string_view text) { return CutText(text, 80); }

std::string NoSuchDayReason(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return "";
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return "";
  }
  const auto number = [&](size_t from, size_t length) {
    return std::stoi(std::string(text.substr(from, length)));
  };
  const int year = number(0, 4);
  const int month = number(5, 2);
  if (year < 100) return "velnor counts the years from 100 to 9999";
  if (month < 1 || month > 12) {
    return "there is no month " + std::to_string(month);
  }
  const std::chrono::year_month_day_last last{
      std::chrono::year{year}, std::chrono::month_day_last{std::chrono::month{
                                   static_cast<unsigned>(month)}}};
  const unsigned days = static_cast<unsigned>(last.day());
  const int day = number(8, 2);
  if (day >= 1 && static_cast<unsigned>(day) <= days) return "";
  return automation::MonthName(month) + " " + std::to_string(year) + " has " +
         std::to_string(days) + " days";
}

std::string ShellWord(std::string_view text) {
  const bool plain =
      !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               (c != '\0' && std::strchr("@%+=:,./_-", c) != nullptr);
      });
  if (plain) return std::string(text);
  std::string word = "'";
  for (char c : text) {
    if (c == '\'') {
      word += "'\\''";
    } else {
      word += c;
    }
  }
  return word + "'";
}

std::string SummaryLine(const RunSummary& summary, const std::string& server,
                        bool ftp, double seconds, bool listed) {
  char rate[64];
  std::snprintf(
      rate, sizeof rate, "%.2f s (%.0f records/s)", seconds,
      seconds > 0 ? static_cast<double>(summary.records) / seconds : 0.0);
  std::string line = summary.cancel_confirmed ? "cancelled after "
                     : listed                 ? "listed "
                                              : "collected ";
  line += std::to_string(summary.sites) + " site" +
          (summary.sites == 1 ? "" : "s") + " of " + server +
          (ftp ? " (ftp): " : " (web): ") + std::to_string(summary.records) +
          " record" + (summary.records == 1 ? "" : "s") + " in " + rate;
  if (summary.sites_at_once > 1) {
    line += ", " + std::to_string(summary.sites_at_once) + " sites at once";
  }
  return line;
}

}  // namespace velnor::host
