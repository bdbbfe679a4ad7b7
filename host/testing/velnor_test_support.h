// Test support for tests that run the built velnor command as a user does
// (no terminal, no shell).
#ifndef VELNOR_HOST_TESTING_VELNOR_TEST_SUPPORT_H_
#define VELNOR_HOST_TESTING_VELNOR_TEST_SUPPORT_H_

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "testing/test_support.h"

namespace velnor::testing {

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
// dies with the test process. `in_child`, when given, runs in the new
// process just before velnor replaces it (to set a limit, say).
pid_t StartVelnor(const std::vector<std::string>& args,
                  const std::filesystem::path& dir,
                  const std::function<void()>& in_child = {});
// Waits for `pid` from StartVelnor in `dir`, killing it after two minutes.
VelnorRun FinishVelnor(pid_t pid, const std::filesystem::path& dir);
VelnorRun RunVelnor(const std::vector<std::string>& args,
                    const std::filesystem::path& dir);

}  // namespace velnor::testing

#endif  // VELNOR_HOST_TESTING_VELNOR_TEST_SUPPORT_H_
