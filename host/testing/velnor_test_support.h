// Test support for tests that run the built velnor command as a user does
// (no terminal, no shell) and read back what it leaves with plain SQLite,
// independent of the code under test.
#ifndef VELNOR_HOST_TESTING_VELNOR_TEST_SUPPORT_H_
#define VELNOR_HOST_TESTING_VELNOR_TEST_SUPPORT_H_

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace velnor::testing {

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
// `text` split at blanks.
std::vector<std::string> Words(const std::string& text);

// A web log (#Fields date time c-ip cs-method cs-uri-stem sc-status) of
// `records` records on `day` (YYYY-MM-DD), one a second from midnight.
std::string WebLog(long records, const std::string& day);

// Polls `done` every 10 ms until it holds (true) or `limit` has passed
// (false).
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit);

struct VelnorRun {
  int status = -1;  // the exit status; -1 when killed by a signal
  std::string out, err;
};

// Starts velnor with `args` in the folder `dir`: standard input /dev/null,
// standard output and error to `dir`/stdout and `dir`/stderr. The process
// dies with the test process.
pid_t StartVelnor(const std::vector<std::string>& args,
                  const std::filesystem::path& dir);
// Waits for `pid` from StartVelnor in `dir`, killing it after two minutes.
VelnorRun FinishVelnor(pid_t pid, const std::filesystem::path& dir);
VelnorRun RunVelnor(const std::vector<std::string>& args,
                    const std::filesystem::path& dir);

// The rows of `sql` on the SQLite database `file`, values as text, NULL as
// "NULL". A database or statement that fails is a test failure.
Rows QueryRows(const std::filesystem::path& file, const std::string& sql);
// Runs the statements `sql` on `file`; a failure is a test failure.
void ExecSql(const std::filesystem::path& file, const std::string& sql);

}  // namespace velnor::testing

#endif  // VELNOR_HOST_TESTING_VELNOR_TEST_SUPPORT_H_
