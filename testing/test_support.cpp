// Temporary folders, files and plain-SQLite reading for tests.
#include "testing/test_support.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

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
