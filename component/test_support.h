// Test fixture for whole collection runs: a temporary folder with a share
// root laid out like servers' administrative shares, report databases made
// as `velnor init-db` makes them, an error log, and plain-SQL reading of
// the results.
#ifndef VELNOR_COMPONENT_TEST_SUPPORT_H_
#define VELNOR_COMPONENT_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "component/velnor.h"
#include "platform/forms/streaming_grid.h"
#include "testing/test_support.h"

namespace velnor::testing {

// One W3C record: date, time, URI stem, status, client IP, method.
struct LogRecord {
  std::string date;  // yyyy-mm-dd
  std::string time;  // hh:mm:ss
  std::string url;
  int status = 200;
  std::string client_ip = "10.0.0.1";
  std::string method = "GET";
};

// A web log file in IIS's W3C extended format holding `records`.
std::string WebLog(const std::vector<LogRecord>& records);

// What a raw-mode run streamed: the rows, header first, and the layout the
// grid was given; `ended` once the grid was finished.
struct Listing {
  Rows rows;
  forms::GridLayout layout;
  bool ended = false;
};

// The grid a host hands to a raw-mode run, `width` twips wide, streaming
// into `listing`, which must outlive it.
std::shared_ptr<forms::StreamingGrid> ListingGrid(float width,
                                                  Listing& listing);

class RunFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  // What a run of these tests is set up with: the shares read through
  // share_root_, the progress window headless.
  RunSettings Settings() const;

  // Writes `content` to `relative` under the share root
  // (e.g. "SRV1/D$/Logs/W3SVC1/ex240602.log").
  void WriteShareFile(const std::string& relative, const std::string& content) {
    WriteFile(share_root_ / relative, content);
  }
  // Makes the report databases of the server SRV1.
  void MakeDatabases(bool ftp);
  std::filesystem::path DbFile(const std::string& prefix) const {
    return db_dir_ / (prefix + "SRV1.mdb");
  }
  // Runs `sql` on a database file with plain SQLite; NULL reads as "NULL".
  Rows Query(const std::string& prefix, const std::string& sql) const {
    return QueryRows(DbFile(prefix), sql);
  }
  void Execute(const std::string& prefix, const std::string& sql) const {
    ExecSql(DbFile(prefix), sql);
  }
  std::string ErrorLog() const { return ReadFile(error_log_); }

  TempDir tmp_{"velnor_run"};
  const std::filesystem::path root_ = tmp_.path();
  const std::filesystem::path share_root_ = root_ / "shares";
  const std::filesystem::path db_dir_ = root_ / "db";
  const std::filesystem::path error_log_ = root_ / "errors.log";
};

}  // namespace velnor::testing

#endif  // VELNOR_COMPONENT_TEST_SUPPORT_H_
