// What the velnor subcommands share: the usage-mistake message, the checks
// of a server name and a database folder, and the run summary line.
#ifndef VELNOR_HOST_COMMON_COMMAND_SUPPORT_H_
#define VELNOR_HOST_COMMON_COMMAND_SUPPORT_H_

#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "component/velnor.h"
#include "reportdb/report_location.h"

namespace velnor::host {

// Prints "velnor: error: <problem>" and "  help: <help>" to standard error
// and returns false, so a check reads `return Usage(...)`.
bool Usage(const std::string& problem, const std::string& help);

// True for a valid host name: 1 to 253 characters, labels of 1 to 63
// letters, digits and hyphens separated by dots, no label starting or
// ending with a hyphen. Prints the usage mistake otherwise.
bool IsValidHostName(std::string_view name);
bool CheckServerName(const std::string& server);

// Why `dir` cannot be the folder of the report databases, as a problem
// (nothing there, a file, or a path through a planted link, see
// PlantedLinkProblem) and its help; both empty for a folder.
std::pair<std::string, std::string> DbDirProblem(const std::string& dir);

// True when `dir` is an existing folder; prints DbDirProblem otherwise.
bool CheckDbDir(const std::string& dir);

// True when a symbolic link stands at `path` (its last component).
bool IsSymbolicLink(const std::string& path);

// Why `path`, named as `what` ("--db-dir"), is not followed, as a problem
// and its help; both empty when it may be. Refused: a path through a
// symbolic link (the last component included) that another user made in a
// folder anyone may write to with the sticky bit set, such as /tmp, when
// that user does not own the folder too. Such a link could lead a run
// started as root by cron into any folder; the rule is the one the kernel
// applies when fs.protected_symlinks is set, which not every system sets.
std::pair<std::string, std::string> PlantedLinkProblem(const std::string& path,
                                                       const std::string& what);

// The help of a refused link.
inline constexpr char kNoLinkHelp[] =
    "velnor never writes through a symbolic link, which could point at any "
    "file; remove the link, or name the file itself";

// The help of the central store at `url` that could not be reached or
// asked, naming the password file libpq reads for it.
std::string StoreUnreachableHelp(const std::string& url);

// After reading the collection ledger `path` of `location`
// (ReportLocation::LedgerPath) failed: when another tool renamed or dropped
// one of its tables, the problem and help that say so, else both empty.
// Asks the ledger anew, in a session of its own (waiting `lock_wait_ms`
// for it), so it costs nothing on the way of a ledger that reads.
// `collecting`: for velnor collect, whose help says nothing was collected
// and names its own option.
std::pair<std::string, std::string> LedgerLacksTable(
    const reportdb::ReportLocation& location, const std::string& path,
    int lock_wait_ms, bool collecting);

// True when `path` is not a symbolic link (a path with nothing there is
// fine), its folders have no planted link (PlantedLinkProblem), and, in a
// folder anyone may write to with the sticky bit set, it is no regular file
// that another user (not the folder's owner) made or that has more than one
// name; prints the usage mistake naming it as `what` ("the error log")
// otherwise. A file velnor writes never follows a link: planted in a folder
// velnor writes, a link would let whoever can write there choose which file
// is overwritten, with velnor's rights. A hard link does the same where the
// kernel lets anyone link any file (fs.protected_hardlinks off).
bool CheckNotLink(const std::string& path, const std::string& what);

// Writes `text` to `out`, the command's standard output, and flushes it;
// false, with the problem told on `err`, when it could not be written
// whole (a full disk under a redirection, a closed pipe): a cron job that
// writes a report into a file must not end with status 0 and half of it.
bool WriteWhole(std::ostream& out, std::string_view text,
                const std::string& what, std::ostream& err);

// True when the file at `path` (not through a link) is an SQLite
// database: a report database, a ledger or a statistics database of any
// server, or another program's. A listing, a report or an error log
// written there would destroy it, and one output's name is easily
// completed by the shell into the database folder's files.
bool IsDatabaseFile(const std::string& path);

// True when `path` is a regular file or nothing (a database to make);
// prints the usage mistake naming it as `what` ("the report database")
// otherwise: a symbolic link, a folder, a named pipe or a device at a
// database's name is no database, and the engine's "could not find" for
// it would send the administrator looking for a file that is there.
bool CheckDatabaseFile(const std::string& path, const std::string& what);

// What is at `path` when it is neither a regular file, nor a folder, nor a
// symbolic link (itself, not what it names): "a named pipe", "a character
// device", "a block device" or "a socket"; "" otherwise, and when nothing
// is there. velnor writes only regular files: a pipe no one reads would
// keep it waiting, and a device or socket is no place for its output.
std::string SpecialFileKind(const std::string& path);

// What stands at `path`, or at the end of a symbolic link there, when it
// is no regular file: "a folder" or one of SpecialFileKind's kinds, which
// no engine can read as a database; "" for a regular file or nothing.
std::string NotAFileKind(const std::string& path);

// A listing's file opened by OpenOutputFile: the stream writes into it from
// its start. The opening leaves what the file held as it was, so that a run
// refused before its listing begins keeps a user's earlier listing there.
class OutputFile : public std::ostream {
 public:
  OutputFile(int fd, std::string path, bool made);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Empties the file: once the run has started, before the listing's first
  // byte. False, with `error` set to the reason, when it could not be; then
  // nothing may be written, or the end of the old content would follow the
  // listing.
  bool Empty(std::string& error);

  // Removes the file when its opening made it and its name still names it
  // (not another file put there since), for a run refused before it wrote.
  void RemoveIfMade();

 private:
  std::unique_ptr<std::streambuf> buffer_;  // owns `fd_`
  int fd_;
  std::string path_;
  bool made_;  // the opening made the file (O_EXCL)
};

// `path` opened for writing from its start (made when missing, its bytes
// kept until OutputFile::Empty when not), never through a symbolic link at
// its name, and only when it is a regular file: a named pipe or a device is
// refused without waiting for a reader; nothing, with `error` set to the
// reason, when it cannot be. The file opened is judged as CheckNotLink
// judges one (a second name or another user's file in a public folder is
// refused), so that one put at the name since the checks keeps its bytes.
std::unique_ptr<OutputFile> OpenOutputFile(const std::string& path,
                                           std::string& error);

// A file to put in place: where, and what it holds.
struct FileText {
  std::string path;
  std::string_view text;
};

// Puts `files` in place whole or not at all, as a set: each is written into
// a new file beside its path and made to last (fsync), and only once all
// are written are they renamed over their paths, so that a full disk or a
// kill leaves the files that were there (a report a web server serves, the
// pages the overview links) rather than half of a new one or some pages
// new and some old. SIGINT, SIGTERM and SIGHUP wait from the first new file
// to the last rename and then end the process as they would have: a kill
// leaves no new file beside its path. A new file takes the read and write
// bits of the one it replaces (never its execute or set-id bits: it is
// velnor's user's). A symbolic link or anything but a regular file at a path
// is refused before any file is made. False, with `failed` set to the path
// that could not be put in place and `error` to the reason, when one could
// not; no new file is left behind, and only a rename failing after others
// (which no full disk or kill causes) leaves part of the set replaced.
bool ReplaceFiles(const std::vector<FileText>& files, std::string& failed,
                  std::string& error);

// The user's `text` as a message may show it: valid UTF-8 without control
// characters, cut to 80 characters.
std::string Shown(std::string_view text);

// Why `text`, written as YYYY-MM-DD, names no day velnor can count:
// "there is no month 13", "June 2024 has 30 days", or a year outside 100
// to 9999; "" when it is not written so or names such a day. A date
// option's message adds it, as "write it as YYYY-MM-DD" alone would not
// say what is wrong with a date written that way.
std::string NoSuchDayReason(std::string_view text);

// `text` as one word of a command a message suggests, which a POSIX shell
// reads back as `text`: as it is when it holds only letters, digits and
// "@%+=:,./_-", else in single quotes (a quote of its own as '\'').
std::string ShellWord(std::string_view text);

// "collected 2 sites of SRV1 (web): 1234 records in 0.52 s (2373
// records/s)", "listed ..." for a raw listing, which stores nothing, or
// "cancelled after ..." after a confirmed cancel.
std::string SummaryLine(const RunSummary& summary, const std::string& server,
                        bool ftp, double seconds, bool listed);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COMMON_COMMAND_SUPPORT_H_
