// Test support for tests that run the built velnor command as a user does
// (no terminal, no shell), and the logs they give it.
#ifndef VELNOR_HOST_TESTING_VELNOR_TEST_SUPPORT_H_
#define VELNOR_HOST_TESTING_VELNOR_TEST_SUPPORT_H_

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "testing/test_support.h"

namespace velnor::host {

// A web log (#Fields date time c-ip cs-method cs-uri-stem sc-status) of
// `records` records on `day` (YYYY-MM-DD), one a second from midnight.
std::string WebLog(long records, const std::string& day);

// The directives IIS 10 starts its web logs with: #Software, then #Fields
// date time s-ip cs-method cs-uri-stem s-port c-ip sc-status.
extern const char kIisHeader[];
// `count` records of that layout on `day`, numbered from `first` on, seven
// seconds apart, spread over `urls` pages and statuses of every class;
// CRLF line ends, as IIS writes them.
std::string IisRecords(const std::string& day, int count, int first = 0,
                       int urls = 13);
// kIisHeader and `count` records of `day` over `urls` pages.
std::string IisLog(const std::string& day, int count, int urls = 13);

// The arguments of velnor collect of `server` from 3 to 5 June 2024 (the
// days of the example logs) into `db_dir`, then `more`.
std::vector<std::string> CollectArgs(const std::string& server,
                                     const std::string& db_dir,
                                     std::vector<std::string> more = {});

// The site totals of web server `server` in `db_dir`: identifier and hits,
// in the order written.
testing::Rows SiteTotalRows(const std::filesystem::path& db_dir,
                            const std::string& server);
// The hits of every record the web databases of `server` in `db_dir` hold
// (of the hits-by-hour database).
long HitsCounted(const std::filesystem::path& db_dir,
                 const std::string& server);

using VelnorRun = testing::ProgramRun;

// StartProgram, FinishProgram and both for the built velnor.
pid_t StartVelnor(const std::vector<std::string>& args,
                  const std::filesystem::path& dir,
                  const std::function<void()>& in_child = {});
inline VelnorRun FinishVelnor(pid_t pid, const std::filesystem::path& dir) {
  return testing::FinishProgram(pid, dir);
}
VelnorRun RunVelnor(const std::vector<std::string>& args,
                    const std::filesystem::path& dir);

// strace, which RunVelnorSignalledAt needs.
inline constexpr char kStrace[] = "/usr/bin/strace";

// RunVelnor under strace, which sends the run `signal` ("TERM", "INT") as
// it enters the `nth` call (from 1) of any of the system calls `calls`
// ("fsync"; "?rename,renameat2": "?" for one this machine may lack): a
// kill at an exact point of the run, without timing. The run's status is
// -1 when the signal ended it.
VelnorRun RunVelnorSignalledAt(const std::string& calls, int nth,
                               const std::string& signal,
                               const std::vector<std::string>& args,
                               const std::filesystem::path& dir);

// Waits up to 30 s until the run `pid` holds the run lock `lock_file` (the
// file names it as its holder), then stops it (SIGSTOP) and lets it go on
// in steps of 5 ms until `also`, asked only while it is stopped, holds
// (up to 120 s), so that it is sure to be inside its run while the test
// goes on; the test continues it (SIGCONT). False when a wait ran out or
// the run no longer holds the lock; it is stopped all the same.
bool StopOnceHoldingLock(pid_t pid, const std::filesystem::path& lock_file,
                         const std::function<bool()>& also = {});

// Waits up to `limit` until the standard error of the run started in `dir`
// holds `text`.
bool WaitForStderr(const std::filesystem::path& dir, const std::string& text,
                   std::chrono::milliseconds limit);

// Keeps the process `pid` stopped (SIGSTOP) but for `running` in every 100
// ms while it lives, so that a run over a log of some size lasts a while
// however fast the build: at 1 ms, a run of 160,000 records, which needs
// about 45 ms of CPU with its start in a Release build, lasts about four
// seconds. A sanitizer build needs many times that CPU: a test that waits
// for the end of a throttled run ends the throttle once it has seen what
// it needs. Destroying it lets the process go on (SIGCONT) at full speed;
// a signal sent to it meanwhile is handled as it goes on.
class Throttle {
 public:
  explicit Throttle(pid_t pid, std::chrono::milliseconds running =
                                   std::chrono::milliseconds(1));
  ~Throttle();
  Throttle(const Throttle&) = delete;
  Throttle& operator=(const Throttle&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace velnor::host

#endif  // VELNOR_HOST_TESTING_VELNOR_TEST_SUPPORT_H_
