// The whole-run fixture.
#include "collector/test_support.h"

#include <sqlite3.h>

#include <fstream>
#include <sstream>

#include "host/report_schema.h"
#include "platform/forms/forms.h"
#include "platform/unc/unc.h"

namespace velnor::testing {

std::string WebLog(const std::vector<LogRecord>& records) {
  std::string text =
      "#Software: Microsoft Internet Information Services 6.0\r\n"
      "#Version: 1.0\r\n"
      "#Date: 2024-06-01 00:00:00\r\n"
      "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query s-port "
      "cs-username c-ip cs(User-Agent) sc-status sc-substatus "
      "sc-win32-status\r\n";
  for (const LogRecord& r : records) {
    text += r.date + " " + r.time + " 10.0.0.2 " + r.method + " " + r.url +
            " - 80 - " + r.client_ip + " Mozilla/5.0 " +
            std::to_string(r.status) + " 0 0\r\n";
  }
  return text;
}

void RunFixture::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  root_ = std::filesystem::temp_directory_path() /
          (std::string("velnor_run_") + info->test_suite_name() + "_" +
           info->name());
  std::filesystem::remove_all(root_);
  share_root_ = root_ / "shares";
  db_dir_ = root_ / "db";
  error_log_ = root_ / "errors.log";
  std::filesystem::create_directories(share_root_);
  std::filesystem::create_directories(db_dir_);
  unc::SetShareRoot(share_root_.string());
  forms::SetBackendPreference(forms::BackendPreference::kHeadless);
}

void RunFixture::TearDown() { std::filesystem::remove_all(root_); }

void RunFixture::WriteShareFile(const std::string& relative,
                                const std::string& content) {
  std::filesystem::path path = share_root_ / relative;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

void RunFixture::MakeShareDir(const std::string& relative) {
  std::filesystem::create_directories(share_root_ / relative);
}

void RunFixture::MakeDatabases(bool ftp) {
  host::CreateReportDatabases(db_dir_.string(), "SRV1", ftp);
}

std::filesystem::path RunFixture::DbFile(const std::string& prefix) const {
  return db_dir_ / (prefix + "SRV1.mdb");
}

Rows RunFixture::Query(const std::string& prefix,
                       const std::string& sql) const {
  sqlite3* db = nullptr;
  Rows rows;
  EXPECT_EQ(sqlite3_open_v2(DbFile(prefix).c_str(), &db, SQLITE_OPEN_READONLY,
                            nullptr),
            SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db) << " in " << sql;
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      const unsigned char* text = sqlite3_column_text(stmt, c);
      row.emplace_back(text ? reinterpret_cast<const char*>(text) : "NULL");
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

void RunFixture::Execute(const std::string& prefix,
                         const std::string& sql) const {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(DbFile(prefix).c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << (error ? error : "") << " in " << sql;
  sqlite3_free(error);
  sqlite3_close(db);
}

std::string RunFixture::ErrorLog() const {
  std::ifstream in(error_log_, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace velnor::testing
