// Look-up plus update pairs on a report database, issued the way the report
// store issues them for each key it writes (and, counting record by record,
// for each record): prepared statements with the values bound, the count
// raised with an update (or a new row appended when the key is new), on a
// tblGeneral of a few thousand URLs by 24 hours.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "dbsupport/db_support.h"
#include "platform/automation/variant.h"
#include "reportdb/schema.h"

namespace velnor {
namespace {

constexpr int kUrls = 3000;
constexpr int kHours = 24;

std::string Url(int i) { return "/site/page" + std::to_string(i) + ".htm"; }

void AppendRow(ado::Recordset& rs, const std::string& url, int hour) {
  rs.AddNew();
  rs.Fields("Server name").SetValue("SRV1");
  rs.Fields("Identifier").SetValue("1");
  rs.Fields("Web Site Name").SetValue("Default Web Site");
  rs.Fields("URL").SetValue(url);
  rs.Fields("No of Hits").SetValue(int32_t{1});
  rs.Fields("Hours").SetValue(int32_t{hour});
  rs.Update();
}

void BM_LookUpAndUpdatePairs(benchmark::State& state) {
  ado::RegisterClasses();
  char templ[] = "/tmp/ado_bench-XXXXXX";
  std::string dir = mkdtemp(templ);
  reportdb::CreateReportDatabases(dir, "SRV1", false);
  auto cn = std::make_shared<ado::Connection>();
  OpenConnection(cn, dir + "/" +
                         reportdb::ReportDatabaseFileName(
                             reportdb::ReportKind::kHitsByHour, "SRV1", false));
  std::shared_ptr<ado::Recordset> table;
  OpenRecordSetEx(table, "select * from tblGeneral", cn, 2, 2, 2);
  for (int url = 0; url < kUrls; ++url) {
    for (int hour = 0; hour < kHours; ++hour) AppendRow(*table, Url(url), hour);
  }

  ado::Command lookup(cn,
                      "select [No of Hits] from tblGeneral where "
                      "[Identifier]='1' And URL = ? And Hours = ?");
  ado::Command update(cn,
                      "Update tblgeneral set [No of Hits]= ? where "
                      "[Identifier]='1' And URL=? And Hours = ?");
  int64_t record = 0;
  for (auto _ : state) {
    // A tenth of the keys are not in the table yet and become new rows.
    int url_index = static_cast<int>((record * 7919) % (kUrls + kUrls / 10));
    int hour = static_cast<int>(record % kHours);
    ++record;
    const std::string url = Url(url_index);
    lookup.SetParameter(1, automation::Variant(url));
    lookup.SetParameter(2, automation::Variant(hour));
    lookup.Execute();
    int32_t hits = lookup.Eof() ? 0 : automation::CLng(lookup.Value(0));
    lookup.Close();
    if (hits == 0) {
      AppendRow(*table, url, hour);
    } else {
      update.SetParameter(1, automation::Variant(hits + 1));
      update.SetParameter(2, automation::Variant(url));
      update.SetParameter(3, automation::Variant(hour));
      update.Execute();
    }
  }
  state.SetItemsProcessed(state.iterations());
  CloseRecordSet(table, true);
  CloseConnection(cn);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LookUpAndUpdatePairs)
    ->Iterations(100000)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace
}  // namespace velnor
