// Tallied records per second: the four report-store calls a collection run
// makes for each counted record (three DumpDataIntoDB, one DumpStatusData),
// on one set of open web report databases, over a realistic mix of a few
// thousand URLs, 24 hours, 7 days, 12 months and 10 status codes. Every
// record goes through its look-up and its update or new row; the benchmark
// checks afterwards that each table's hits add up to the records counted.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dbsupport/db_support.h"
#include "dbsupport/error_log.h"
#include "platform/automation/error_state.h"
#include "platform/automation/ole_date.h"
#include "reportdb/schema.h"
#include "reportstore/report_store.h"

namespace velnor {
namespace {

constexpr int kUrlCount = 3000;
// Ten codes, weighted roughly as a web server sees them.
constexpr std::array<int32_t, 16> kStatuses = {200, 200, 200, 200, 200, 200,
                                               304, 304, 304, 404, 404, 206,
                                               301, 401, 403, 500};

std::string DbPath(const std::string& dir, reportdb::ReportKind kind) {
  return dir + "/" + reportdb::ReportDatabaseFileName(kind, "SRV1", false);
}

int64_t SumOfHits(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_stmt* stmt = nullptr;
  int64_t sum = -1;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "select sum([No of Hits]) from tblGeneral", -1,
                         &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    sum = sqlite3_column_int64(stmt, 0);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return sum;
}

void BM_TallyRecords(benchmark::State& state) {
  char dir_template[] = "/tmp/report_store_bench.XXXXXX";
  if (!mkdtemp(dir_template)) {
    state.SkipWithError("cannot make a temporary folder");
    return;
  }
  const std::string dir = dir_template;
  gstrErrorLogPath = dir + "/errors.log";
  ado::RegisterClasses();
  const std::string server = "SRV1";
  const bool is_ftp = false;
  ReportStore store(server, is_ftp);
  if (!automation::ResumeNext(
          [&] { reportdb::CreateReportDatabases(dir, server, is_ftp); })) {
    state.SkipWithError("cannot make the report databases");
    return;
  }
  std::array<std::shared_ptr<ado::Connection>, 4> cn;
  std::array<std::shared_ptr<ado::Recordset>, 4> rs;
  for (int r = 0; r < 4; ++r) {
    cn[r] = std::make_shared<ado::Connection>();
    if (!OpenConnection(cn[r], DbPath(dir, reportdb::kReportKinds[r])) ||
        !OpenRecordSetEx(rs[r], "select * from tblGeneral", cn[r], 2, 2, 2)) {
      state.SkipWithError("cannot open the report databases");
      return;
    }
  }
  std::vector<std::string> urls;
  for (int i = 0; i < kUrlCount; ++i) {
    urls.push_back("/products/section" + std::to_string(i % 37) + "/item" +
                   std::to_string(i) + ".htm");
  }
  const std::string site = "Default Web Site";
  const std::string id = "1";
  const std::string column = "Web Site Name";
  const std::string empty;
  std::vector<std::string> days;
  for (int day = 1; day <= 7; ++day) {
    days.push_back(automation::WeekdayName(day));
  }
  std::vector<std::string> months;
  for (int month = 1; month <= 12; ++month) {
    months.push_back(automation::MonthName(month));
  }
  const std::string day_kind = "Day of Week", month_kind = "Month",
                    hour_kind = "Hour";

  uint64_t rng = 0x9E3779B97F4A7C15u;
  for (auto _ : state) {
    rng = rng * 6364136223846793005u + 1442695040888963407u;
    const std::string& url = urls[(rng >> 33) % kUrlCount];
    const auto hour = static_cast<int32_t>((rng >> 20) % 24);
    const auto wday = static_cast<int32_t>((rng >> 12) % 7);
    const auto month = static_cast<int32_t>((rng >> 4) % 12);
    const int32_t status = kStatuses[(rng >> 27) % kStatuses.size()];
    store.DumpDataIntoDB(cn[0], rs[0], site, id, url, column, day_kind,
                         days[wday], wday + 1, 0, empty, 0);
    store.DumpDataIntoDB(cn[1], rs[1], site, id, url, column, month_kind, empty,
                         0, 0, months[month], month + 1);
    store.DumpDataIntoDB(cn[2], rs[2], site, id, url, column, hour_kind, empty,
                         0, hour, empty, 0);
    store.DumpStatusData(cn[3], rs[3], site, id, url, status, column);
  }
  state.counters["records_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);

  for (int r = 0; r < 4; ++r) CloseRecordSet(rs[r], true);
  for (int r = 0; r < 4; ++r) CloseConnection(cn[r]);
  for (reportdb::ReportKind kind : reportdb::kReportKinds) {
    if (SumOfHits(DbPath(dir, kind)) !=
        static_cast<int64_t>(state.iterations())) {
      state.SkipWithError("the hits stored do not add up to the records");
    }
  }
  if (std::filesystem::exists(gstrErrorLogPath)) {
    state.SkipWithError("the run wrote error-log lines");
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_TallyRecords)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

}  // namespace
}  // namespace velnor

BENCHMARK_MAIN();
