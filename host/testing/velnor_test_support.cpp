// Running the built velnor. The child is forked rather than spawned so that
// it can ask to die with the test: a hung velnor must never outlive a
// failed test.
#include "host/testing/velnor_test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace velnor::testing {

namespace fs = std::filesystem;

std::string WebLog(long records, const std::string& day) {
  std::string log = "#Fields: date time c-ip cs-method cs-uri-stem sc-status\n";
  for (long i = 0; i < records; ++i) {
    char line[96];
    std::snprintf(line, sizeof line,
                  "%s %02ld:%02ld:%02ld 10.0.0.%ld GET /p%ld.htm 200\n",
                  day.c_str(), i / 3600 % 24, i / 60 % 60, i % 60, i % 250,
                  i % 50);
    log += line;
  }
  return log;
}

bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

pid_t StartVelnor(const std::vector<std::string>& args, const fs::path& dir,
                  const std::function<void()>& in_child) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    int flags = O_WRONLY | O_CREAT | O_TRUNC;
    if (::dup2(::open("/dev/null", O_RDONLY), 0) < 0 ||
        ::dup2(::open((dir / "stdout").c_str(), flags, 0600), 1) < 0 ||
        ::dup2(::open((dir / "stderr").c_str(), flags, 0600), 2) < 0 ||
        ::chdir(dir.c_str()) != 0) {
      ::_exit(125);
    }
    if (in_child) in_child();
    std::vector<char*> argv{const_cast<char*>(VELNOR_EXE)};
    for (const std::string& arg : args)
      argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(VELNOR_EXE, argv.data());
    ::_exit(127);
  }
  EXPECT_GT(pid, 0) << "cannot fork to run velnor";
  return pid;
}

VelnorRun FinishVelnor(pid_t pid, const fs::path& dir) {
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "velnor killed after 2 minutes";
      ::kill(pid, SIGKILL);
      deadline = std::chrono::steady_clock::time_point::max();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          ReadFile(dir / "stdout"), ReadFile(dir / "stderr")};
}

VelnorRun RunVelnor(const std::vector<std::string>& args, const fs::path& dir) {
  return FinishVelnor(StartVelnor(args, dir), dir);
}

}  // namespace velnor::testing
