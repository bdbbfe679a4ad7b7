// Whole collection runs over a generated log: records per second and MB per
// second through CollectIISLogData with the headless window, in aggregate
// mode (four tallies per record into fresh report databases) and in raw mode
// (one grid row per record, streamed as the velnor command streams it).
//
//   build/bench/collector_bench --benchmark_filter=Aggregate
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "component/velnor.h"
#include "platform/automation/ole_date.h"
#include "platform/forms/forms.h"
#include "platform/forms/streaming_grid.h"
#include "platform/unc/unc.h"
#include "reportdb/schema.h"

namespace velnor {
namespace {

namespace fs = std::filesystem;

// Counts the rows a raw-mode run streams.
class RowCounter : public forms::GridWriter {
 public:
  explicit RowCounter(int64_t& rows) : rows_(rows) {}
  void Row(const std::vector<std::string>&) override { ++rows_; }
  void End(const forms::GridLayout&) override {}

 private:
  int64_t& rows_;
};

// A log of `records` typical web records spread over a year: a few
// thousand URLs, every hour, weekday and month, ten status codes.
uintmax_t WriteLog(const fs::path& file, int64_t records) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << "#Software: Microsoft Internet Information Services 10.0\r\n"
         "#Version: 1.0\r\n#Date: 2024-01-01 00:00:00\r\n"
         "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query s-port "
         "cs-username c-ip cs(User-Agent) sc-status sc-substatus "
         "sc-win32-status time-taken\r\n";
  std::mt19937 engine(42);
  auto rng = [&engine] { return static_cast<unsigned>(engine()); };
  const int statuses[] = {200, 200, 200, 200, 304, 404, 500, 401, 302, 403};
  for (int64_t i = 0; i < records; ++i) {
    int day_of_year = static_cast<int>(i * 365 / records);
    auto parts =
        automation::PartsOf(automation::DateSerial(2024, 1, 1) + day_of_year);
    // The values are drawn in the order of the line, as the arguments
    // below are evaluated in an unspecified order.
    unsigned hour = rng() % 24, minute = rng() % 60, second = rng() % 60;
    unsigned section = rng() % 30, page = rng() % 100, query = rng() % 1000;
    unsigned net = rng() % 255, host = rng() % 255;
    int status = statuses[rng() % 10];
    unsigned taken = rng() % 2000;
    out << fmt::format(
        "{:04}-{:02}-{:02} {:02}:{:02}:{:02} 10.0.0.5 GET "
        "/site/section{}/page{}.htm q={} 80 - 192.168.{}.{} "
        "Mozilla/5.0+(Windows+NT+10.0;+Win64;+x64) {} 0 0 {}\r\n",
        parts.year, parts.month, parts.day, hour, minute, second, section, page,
        query, net, host, status, taken);
  }
  out.close();
  return fs::file_size(file);
}

void Collect(benchmark::State& state, bool raw) {
  const int64_t records = state.range(0);
  const fs::path root = fs::temp_directory_path() / "velnor_collector_bench";
  fs::remove_all(root);
  const uintmax_t bytes =
      WriteLog(root / "shares/SRV1/D$/Logs/W3SVC1/ex2024.log", records);
  unc::SetShareRoot((root / "shares").string());
  forms::SetBackendPreference(forms::BackendPreference::kHeadless);
  auto sites = std::make_shared<automation::Collection>(
      std::vector<std::string>{"Bench Site,D:\\Logs,1"});
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(root / "db");
    fs::create_directories(root / "db");
    reportdb::CreateReportDatabases((root / "db").string(), "SRV1", false);
    int64_t rows = 0;
    auto grid = std::make_shared<forms::StreamingGrid>(
        14330, std::make_unique<RowCounter>(rows));
    auto parser = CreateLogParser();
    parser->SetErrorLogPath((root / "errors.log").string());
    state.ResumeTiming();
    parser->CollectIISLogData("SRV1", false, automation::DateSerial(2024, 1, 1),
                              automation::DateSerial(2024, 12, 31),
                              (root / "db").string(), raw, raw ? grid : nullptr,
                              sites);
    if (raw) grid->Finish();
    if (LastRunSummary(*parser).records != records ||
        (raw && rows != records + 1)) {
      state.SkipWithError("not every record was counted or listed");
    }
  }
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(records),
                         benchmark::Counter::kIsIterationInvariantRate);
  state.counters["MB/s"] =
      benchmark::Counter(static_cast<double>(bytes) / 1e6,
                         benchmark::Counter::kIsIterationInvariantRate);
  fs::remove_all(root);
}

void BM_AggregateRun(benchmark::State& state) { Collect(state, false); }
void BM_RawRun(benchmark::State& state) { Collect(state, true); }

BENCHMARK(BM_AggregateRun)
    ->Arg(20'000)
    ->Arg(1'000'000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_RawRun)
    ->Arg(20'000)
    ->Arg(1'000'000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace velnor
