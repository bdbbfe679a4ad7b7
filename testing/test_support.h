// Test support shared by every folder's tests: temporary folders, files,
// and plain-SQLite reading of databases, independent of the code under
// test.
#ifndef VELNOR_TESTING_TEST_SUPPORT_H_
#define VELNOR_TESTING_TEST_SUPPORT_H_

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
// The lines of `path` split at "\n" (a "\r" before it stays); none when it
// cannot be read.
std::vector<std::string> ReadLines(const std::filesystem::path& path);
// `text` split at blanks.
std::vector<std::string> Words(const std::string& text);

// The rows of `sql` on the SQLite database `file`, values as text, NULL as
// "NULL". A database or statement that fails is a test failure.
Rows QueryRows(const std::filesystem::path& file, const std::string& sql);
// Runs the statements `sql` on `file`; a failure is a test failure.
void ExecSql(const std::filesystem::path& file, const std::string& sql);

// Runs `body` in a child process and returns its result (0 to 254), or -1
// when the child did not exit. As root, which reads every folder, the child
// first becomes the unprivileged user "nobody" (255 when it cannot).
int RunUnprivileged(const std::function<int()>& body);

}  // namespace velnor::testing

#endif  // VELNOR_TESTING_TEST_SUPPORT_H_
