// Whole collection runs over a generated log: records per second and MB per
// second through CollectIISLogData with the headless window, in aggregate
// mode (four tallies per record into fresh report databases) and in raw mode
// (one grid row per record, streamed as the velnor command streams it); and
// beside them the log reader alone on the same file, reading the fields a
// run reads. At the end it prints the aggregate run's records/s as a share
// of the reader's: what counting costs on top of reading.
//
//   build/bench/collector_bench --benchmark_filter='Aggregate|Reader'
//   build/bench/collector_bench --benchmark_repetitions=3   # best of 3
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "component/velnor.h"
#include "platform/automation/ole_date.h"
#include "platform/forms/forms.h"
#include "platform/forms/streaming_grid.h"
#include "platform/iislog/iis_log.h"
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

const fs::path kRoot = fs::temp_directory_path() / "velnor_collector_bench";

// The log of `records` records, written once per process.
const fs::path& LogOf(int64_t records, uintmax_t* bytes) {
  static std::map<int64_t, std::pair<fs::path, uintmax_t>> logs;
  auto found = logs.find(records);
  if (found == logs.end()) {
    const fs::path share = kRoot / ("shares-" + std::to_string(records));
    const fs::path file = share / "SRV1/D$/Logs/W3SVC1/ex2024.log";
    fs::remove_all(share);
    found =
        logs.emplace(records, std::pair(file, WriteLog(file, records))).first;
  }
  *bytes = found->second.second;
  return found->second.first;
}

// The best records/s of each benchmark ("reader/1000000", ...), for the
// closing line.
std::map<std::string, double>& BestRates() {
  static std::map<std::string, double> rates;
  return rates;
}

void NoteRate(const std::string& name, int64_t records,
              std::chrono::steady_clock::duration took) {
  const double rate = static_cast<double>(records) /
                      std::chrono::duration<double>(took).count();
  double& best = BestRates()[name];
  best = std::max(best, rate);
}

void SetRates(benchmark::State& state, int64_t records, uintmax_t bytes) {
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(records),
                         benchmark::Counter::kIsIterationInvariantRate);
  state.counters["MB/s"] =
      benchmark::Counter(static_cast<double>(bytes) / 1e6,
                         benchmark::Counter::kIsIterationInvariantRate);
}

void Collect(benchmark::State& state, bool raw) {
  const int64_t records = state.range(0);
  uintmax_t bytes = 0;
  const fs::path& log = LogOf(records, &bytes);
  const fs::path shares =
      log.parent_path().parent_path().parent_path().parent_path().parent_path();
  RunSettings settings;
  settings.progress_window = forms::BackendPreference::kHeadless;
  settings.shares.share_root = shares.string();
  auto sites = std::make_shared<automation::Collection>(
      std::vector<std::string>{"Bench Site,D:\\Logs,1"});
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(kRoot / "db");
    fs::create_directories(kRoot / "db");
    reportdb::CreateReportDatabases((kRoot / "db").string(), "SRV1", false);
    int64_t rows = 0;
    auto grid = std::make_shared<forms::StreamingGrid>(
        14330, std::make_unique<RowCounter>(rows));
    auto parser = CreateLogParser({}, settings);
    parser->SetErrorLogPath((kRoot / "errors.log").string());
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    parser->CollectIISLogData("SRV1", false, automation::DateSerial(2024, 1, 1),
                              automation::DateSerial(2024, 12, 31),
                              (kRoot / "db").string(), raw,
                              raw ? grid : nullptr, sites);
    if (raw) grid->Finish();
    NoteRate((raw ? "raw/" : "aggregate/") + std::to_string(records), records,
             std::chrono::steady_clock::now() - start);
    if (LastRunSummary(*parser).records != records ||
        (raw && rows != records + 1)) {
      state.SkipWithError("not every record was counted or listed");
    }
  }
  SetRates(state, records, bytes);
}

// The reader alone on the log of the aggregate run: each record read, with
// the date-time, URL and status a run takes from it.
void BM_ReaderAlone(benchmark::State& state) {
  const int64_t records = state.range(0);
  uintmax_t bytes = 0;
  const std::string path = LogOf(records, &bytes).string();
  iislog::IISLog log;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    log.OpenLogFile(path, 1, "W3SVC", "1", "W3C Extended Log File Format");
    int64_t read = 0;
    for (log.ReadLogRecord(); !log.AtEndOfLog(); log.ReadLogRecord()) {
      benchmark::DoNotOptimize(log.RecordTime());
      benchmark::DoNotOptimize(log.FieldText(iislog::Field::kUriStem));
      benchmark::DoNotOptimize(log.FieldText(iislog::Field::kStatus));
      ++read;
    }
    log.CloseLogFiles(1);
    NoteRate("reader/" + std::to_string(records), records,
             std::chrono::steady_clock::now() - start);
    if (read != records) state.SkipWithError("record count differs");
  }
  SetRates(state, records, bytes);
}

void BM_AggregateRun(benchmark::State& state) { Collect(state, false); }
void BM_RawRun(benchmark::State& state) { Collect(state, true); }

BENCHMARK(BM_ReaderAlone)
    ->Arg(1'000'000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
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

// The aggregate run's best records/s against the reader's, when both ran.
void PrintShareOfReader() {
  const auto& rates = BestRates();
  auto reader = rates.find("reader/1000000");
  auto run = rates.find("aggregate/1000000");
  if (reader == rates.end() || run == rates.end()) return;
  std::printf(
      "aggregate run %.0f records/s, reader alone %.0f records/s: %.0f%% "
      "(target: at least 60%%)\n",
      run->second, reader->second, 100 * run->second / reader->second);
}

}  // namespace
}  // namespace velnor

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  velnor::PrintShareOfReader();
  std::filesystem::remove_all(velnor::kRoot);
  return 0;
}
