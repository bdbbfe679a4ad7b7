// Temporary folders, files, plain-SQLite reading, ports and processes for
// tests. Programs are forked rather than spawned so that they can ask to
// die with the test: a hung program must never outlive a failed test.
#include "testing/test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace velnor::testing {

namespace fs = std::filesystem;

bool TestToolsRequired() {
  const char* value = std::getenv("VELNOR_REQUIRE_TEST_TOOLS");
  return value != nullptr && *value != '\0' && std::string(value) != "0";
}

TempDir::TempDir(const std::string& prefix) {
  std::string pattern = fs::temp_directory_path() / (prefix + "-XXXXXX");
  EXPECT_NE(::mkdtemp(pattern.data()), nullptr) << pattern;
  path_ = pattern;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

void ExpectMatchesFile(const std::string& actual, const fs::path& file) {
  if (getenv("VELNOR_UPDATE_EXPECTED") != nullptr) {
    std::ofstream(file, std::ios::binary) << actual;
  }
  EXPECT_EQ(actual, ReadFile(file)) << "differs from " << file;
}

uint16_t FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  (void)::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
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

bool HasEnded(pid_t pid) {
  siginfo_t info{};
  ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT);
  return info.si_pid == pid;
}

bool EndsWithin(pid_t pid, std::chrono::milliseconds limit) {
  if (WaitFor([pid] { return HasEnded(pid); }, limit)) return true;
  ::kill(pid, SIGKILL);
  return false;
}

bool Catches(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("SigCgt:")) {
      return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    }
  }
  return false;
}

pid_t StartProgram(const std::string& exe, const std::vector<std::string>& args,
                   const fs::path& dir, const std::function<void()>& in_child) {
  // The output files are emptied before the fork, not in the child, so that
  // once this returns they hold nothing of an earlier program in `dir`: a
  // test that watches them as they grow must never see the last run's lines.
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
  const int out = ::open((dir / "stdout").c_str(), flags, 0600);
  const int err = ::open((dir / "stderr").c_str(), flags, 0600);
  EXPECT_TRUE(out >= 0 && err >= 0)
      << "cannot make the output files in " << dir;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::dup2(::open("/dev/null", O_RDONLY), 0) < 0 || ::dup2(out, 1) < 0 ||
        ::dup2(err, 2) < 0 || ::chdir(dir.c_str()) != 0) {
      ::_exit(125);
    }
    if (in_child) in_child();
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const std::string& arg : args)
      argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out);
  ::close(err);
  EXPECT_GT(pid, 0) << "cannot fork to run " << exe;
  return pid;
}

ProgramRun FinishProgram(pid_t pid, const fs::path& dir) {
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "program killed after 2 minutes";
      ::kill(pid, SIGKILL);
      deadline = std::chrono::steady_clock::time_point::max();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          ReadFile(dir / "stdout"), ReadFile(dir / "stderr")};
}

ProgramRun Shell(const std::string& command) {
  ProgramRun run;
  FILE* pipe = ::popen(("exec 2>&1; " + command).c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    run.out.append(buffer, n);
  }
  int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

Rows QueryRows(const fs::path& file, const std::string& sql) {
  Rows rows;
  sqlite3* db = nullptr;
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  }
  while (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    std::vector<std::string>& row = rows.emplace_back();
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      const unsigned char* text = sqlite3_column_text(stmt, c);
      row.emplace_back(text ? reinterpret_cast<const char*>(text) : "NULL");
    }
    rc = SQLITE_OK;
  }
  EXPECT_EQ(rc, SQLITE_DONE)
      << sql << " on " << file << ": " << sqlite3_errmsg(db);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

HeldWriteLock::HeldWriteLock(const fs::path& file) {
  EXPECT_EQ(sqlite3_open(file.c_str(), &db_), SQLITE_OK) << file;
  EXPECT_EQ(sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr),
            SQLITE_OK)
      << file << ": " << sqlite3_errmsg(db_);
}

HeldWriteLock::~HeldWriteLock() {
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db_);
}

void ExecSql(const fs::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  }
  EXPECT_EQ(rc, SQLITE_OK) << sql << " on " << file << ": "
                           << sqlite3_errmsg(db);
  sqlite3_close(db);
}

int RunUnprivileged(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(255);
    }
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace velnor::testing
