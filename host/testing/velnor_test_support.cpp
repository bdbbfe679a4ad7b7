// The child is forked rather than spawned so that it can ask to die with
// the test: a hung velnor must never outlive a failed test.
#include "host/testing/velnor_test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace velnor::testing {

namespace fs = std::filesystem;

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

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

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

pid_t StartVelnor(const std::vector<std::string>& args, const fs::path& dir) {
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

}  // namespace velnor::testing
