// Cost of reaching a site's log folder through the share root: a listing
// with the exact case (one stat per component), the same with every
// component in the wrong case (a folder scan per component, the price of
// not caching listings), and a streamed read of a log file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/unc/unc.h"

namespace velnor::unc {
namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 2000;

struct Tree {
  Tree() {
    std::string pattern = fs::temp_directory_path() / "unc_bench_XXXXXX";
    root = ::mkdtemp(pattern.data());
    fs::path site = root / "SRV1/C$/WINDOWS/system32/LogFiles/W3SVC1";
    fs::create_directories(site);
    for (int i = 0; i < kFiles; ++i) {
      std::ofstream(site / ("ex07" + std::to_string(100000 + i) + ".log"));
    }
    std::ofstream(site / "big.log") << std::string(8 << 20, 'x');
    access.share_root = root.string();
  }
  ~Tree() { fs::remove_all(root); }
  fs::path root;
  ShareAccess access;
};

Tree& TheTree() {
  static Tree tree;
  return tree;
}

void BM_ListExactCase(benchmark::State& state) {
  const ShareAccess& access = TheTree().access;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ListDirectory(
        access, "\\\\SRV1\\C$\\WINDOWS\\system32\\LogFiles\\W3SVC1"));
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_ListExactCase);

void BM_ListFoldedCase(benchmark::State& state) {
  const ShareAccess& access = TheTree().access;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ListDirectory(
        access, "\\\\srv1\\c$\\windows\\SYSTEM32\\logfiles\\w3svc1"));
  }
  state.SetItemsProcessed(state.iterations() * kFiles);
}
BENCHMARK(BM_ListFoldedCase);

void BM_ReadLogFile(benchmark::State& state) {
  const ShareAccess& access = TheTree().access;
  std::string buffer(64 << 10, '\0');
  for (auto _ : state) {
    auto file = OpenForReading(
        access, "\\\\SRV1\\C$\\WINDOWS\\system32\\LogFiles\\W3SVC1\\big.log");
    while (size_t got = file->Read(buffer.data(), buffer.size())) {
      benchmark::DoNotOptimize(got);
    }
  }
  state.SetBytesProcessed(state.iterations() * (8 << 20));
}
BENCHMARK(BM_ReadLogFile);

}  // namespace
}  // namespace velnor::unc
