// The whole-run fixture.
#include "component/test_support.h"

#include <fstream>

#include "platform/forms/forms.h"
#include "platform/unc/unc.h"
#include "reportdb/schema.h"
#include "testing/test_support.h"

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
  reportdb::CreateReportDatabases(db_dir_.string(), "SRV1", ftp);
}

std::filesystem::path RunFixture::DbFile(const std::string& prefix) const {
  return db_dir_ / (prefix + "SRV1.mdb");
}

Rows RunFixture::Query(const std::string& prefix,
                       const std::string& sql) const {
  return QueryRows(DbFile(prefix), sql);
}

void RunFixture::Execute(const std::string& prefix,
                         const std::string& sql) const {
  ExecSql(DbFile(prefix), sql);
}

std::string RunFixture::ErrorLog() const { return ReadFile(error_log_); }

}  // namespace velnor::testing
