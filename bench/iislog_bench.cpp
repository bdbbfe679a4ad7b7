// Throughput of the IIS log reader over a generated web log of typical
// records (the default 15 IIS fields, about 250 bytes a line): each record
// is read and its five properties the record loop uses are fetched. Reports
// records/s and bytes/s, and the growth of the peak resident set while
// reading, which stays flat because the file streams through one buffer.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "benchmark/benchmark.h"
#include "platform/iislog/iis_log.h"

namespace velnor::iislog {
namespace {

namespace fs = std::filesystem;

// Writes `records` records under one header block; returns the path.
std::string WriteLog(int64_t records, bool gzip) {
  fs::path path = fs::temp_directory_path() /
                  ("iislog_bench_" + std::to_string(::getpid()) + "_" +
                   std::to_string(records) + ".log");
  std::ofstream out(path, std::ios::binary);
  out << "#Software: Microsoft Internet Information Services 10.0\n"
         "#Version: 1.0\n#Date: 2024-05-06 00:00:00\n"
         "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query s-port "
         "cs-username c-ip cs(User-Agent) cs(Referer) sc-status sc-substatus "
         "sc-win32-status time-taken\n";
  static const char* kStems[] = {"/", "/default.aspx", "/images/logo.png",
                                 "/css/site.css", "/products/item.aspx"};
  static const int kStatus[] = {200, 200, 304, 404, 500};
  char line[512];
  for (int64_t i = 0; i < records; ++i) {
    int seconds = static_cast<int>(i % 86400);
    int n = std::snprintf(
        line, sizeof line,
        "2024-05-06 %02d:%02d:%02d 10.0.0.%d GET %s id=%lld&ref=home 443 - "
        "192.168.%d.%d "
        "Mozilla/5.0+(Windows+NT+10.0;+Win64;+x64)+AppleWebKit/537.36+"
        "(KHTML,+like+Gecko)+Chrome/124.0.0.0+Safari/537.36 "
        "https://www.example.com/index.html %d 0 0 %d\n",
        seconds / 3600, seconds / 60 % 60, seconds % 60,
        static_cast<int>(i % 4) + 1, kStems[i % 5], static_cast<long long>(i),
        static_cast<int>(i / 256 % 256), static_cast<int>(i % 256),
        kStatus[i % 5], static_cast<int>(i % 900));
    out.write(line, n);
  }
  out.close();
  if (!gzip) return path.string();
  std::string packed = path.string() + ".gz";
  std::string command = "gzip -c -1 '" + path.string() + "' > '" + packed + "'";
  if (std::system(command.c_str()) != 0) return path.string();
  fs::remove(path);
  return packed;
}

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void ReadLog(benchmark::State& state, bool gzip) {
  const int64_t records = state.range(0);
  std::string path = WriteLog(records, gzip);
  int64_t bytes = static_cast<int64_t>(fs::file_size(path));
  long rss_before = PeakRssKiB();
  IISLog log;
  for (auto _ : state) {
    log.OpenLogFile(path, 1, "W3SVC", "1", "W3C Extended Log File Format");
    int64_t read = 0;
    for (log.ReadLogRecord(); !log.AtEndOfLog(); log.ReadLogRecord()) {
      benchmark::DoNotOptimize(log.DateTime());
      benchmark::DoNotOptimize(log.URIStem());
      benchmark::DoNotOptimize(log.ProtocolStatus());
      benchmark::DoNotOptimize(log.ClientIp());
      benchmark::DoNotOptimize(log.Method());
      ++read;
    }
    log.CloseLogFiles(1);
    if (read != records) state.SkipWithError("record count differs");
  }
  state.SetItemsProcessed(state.iterations() * records);
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
  state.counters["rss_growth_MB"] =
      static_cast<double>(PeakRssKiB() - rss_before) / 1024.0;
  fs::remove(path);
}

void BM_ReadPlainLog(benchmark::State& state) { ReadLog(state, false); }
void BM_ReadGzipLog(benchmark::State& state) { ReadLog(state, true); }

BENCHMARK(BM_ReadPlainLog)
    ->Arg(1'000'000)
    ->Arg(2'000'000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_ReadGzipLog)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace
}  // namespace velnor::iislog
