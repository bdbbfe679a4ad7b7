// Test support shared by every folder's tests: temporary folders, files,
// plain-SQLite reading of databases, free ports, waiting, and running
// programs and shell commands, independent of the code under test.
#ifndef VELNOR_TESTING_TEST_SUPPORT_H_
#define VELNOR_TESTING_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Ends the current test, or the SetUp it is called in, because a tool the
// test needs is missing here, as `why` says. On a developer's partial
// machine that is a skip; when TestToolsRequired() it is a failure, so that
// a machine without the tool cannot pass the test command.
#define VELNOR_SKIP_WITHOUT_TOOL(why)                                       \
  do {                                                                      \
    if (::velnor::testing::TestToolsRequired()) {                           \
      GTEST_FAIL() << (why) << " (VELNOR_REQUIRE_TEST_TOOLS is set: every " \
                   << "tool the tests use must be here)";                   \
    }                                                                       \
    GTEST_SKIP() << (why);                                                  \
  } while (false)

struct sqlite3;

namespace velnor::testing {

// True when VELNOR_REQUIRE_TEST_TOOLS is set to anything but "" or "0"
// (scripts/test.sh sets it).
bool TestToolsRequired();

using Rows = std::vector<std::vector<std::string>>;

// A new folder `prefix`-XXXXXX in the temporary folder, removed with its
// contents on destruction.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix);
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The bytes of `path`; "" when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
// Writes `text` to `path`, making its parent folders.
void WriteFile(const std::filesystem::path& path, const std::string& text);
// The lines of `path` split at "\n" (a "\r" before it stays); none when it
// cannot be read.
std::vector<std::string> ReadLines(const std::filesystem::path& path);
// `text` split at blanks.
std::vector<std::string> Words(const std::string& text);
// `text` split into lines, without their line ends.
std::vector<std::string> Lines(const std::string& text);
// True when `part` occurs in `text`.
bool Contains(const std::string& text, const std::string& part);
// Compares `actual` with the expected-output file `file`; with
// VELNOR_UPDATE_EXPECTED set in the environment, first rewrites the file
// (read the diff before committing it).
void ExpectMatchesFile(const std::string& actual,
                       const std::filesystem::path& file);

// A TCP port on 127.0.0.1 that nothing listened on a moment ago.
uint16_t FreePort();

// Polls `done` every 10 ms until it holds (true) or `limit` has passed
// (false).
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit);

// True once the child process `pid` has ended; it is left to be reaped.
bool HasEnded(pid_t pid);
// Waits up to `limit` for the child process `pid` to end. One still
// running then is killed (SIGKILL), so that reaping it cannot hang the
// test; true only when it ended by itself.
bool EndsWithin(pid_t pid, std::chrono::milliseconds limit);
// True when process `pid` catches `signal` (its handler is installed), so
// that a test's signal meets the program rather than ending it unhandled.
bool Catches(pid_t pid, int signal);

struct ProgramRun {
  int status = -1;  // the exit status; -1 when killed by a signal
  std::string out, err;
};

// Starts the program `exe` with `args` in the folder `dir`: standard input
// /dev/null, standard output and error to `dir`/stdout and `dir`/stderr.
// The process dies with the test process. `in_child`, when given, runs in
// the new process just before the program replaces it (to set a limit).
pid_t StartProgram(const std::string& exe, const std::vector<std::string>& args,
                   const std::filesystem::path& dir,
                   const std::function<void()>& in_child = {});
// Waits for `pid` from StartProgram in `dir`, killing it after two minutes.
ProgramRun FinishProgram(pid_t pid, const std::filesystem::path& dir);

// Runs `command` with /bin/sh; standard output and error together.
ProgramRun Shell(const std::string& command);
// `text` quoted for the shell.
std::string ShellQuoted(const std::string& text);

// The rows of `sql` on the SQLite database `file`, values as text, NULL as
// "NULL". A database or statement that fails is a test failure.
Rows QueryRows(const std::filesystem::path& file, const std::string& sql);
// Runs the statements `sql` on `file`; a failure is a test failure.
void ExecSql(const std::filesystem::path& file, const std::string& sql);

// Holds the write lock of the SQLite database `file` from construction to
// destruction, as another program in the middle of a write would; failing
// to take it is a test failure.
class HeldWriteLock {
 public:
  explicit HeldWriteLock(const std::filesystem::path& file);
  ~HeldWriteLock();
  HeldWriteLock(const HeldWriteLock&) = delete;
  HeldWriteLock& operator=(const HeldWriteLock&) = delete;

 private:
  sqlite3* db_ = nullptr;
};

// Runs `body` in a child process and returns its result (0 to 254), or -1
// when the child did not exit. As root, which reads every folder, the child
// first becomes the unprivileged user "nobody" (255 when it cannot).
int RunUnprivileged(const std::function<int()>& body);

}  // namespace velnor::testing

#endif  // VELNOR_TESTING_TEST_SUPPORT_H_
