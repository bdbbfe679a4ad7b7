// Huge-page regions and their pool: alignment and size, which part is on
// huge pages, reuse of the regions given back, the bound on those kept, and
// leases taken and ended by several threads at once.
#include "platform/automation/huge_pages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace velnor::automation {
namespace {

constexpr size_t kRegionBytes = size_t{3} << 20;

TEST(HugePageRegionTest, IsAlignedWholeHugePagesOfZerosThatCanBeWritten) {
  HugePageRegion region(kRegionBytes);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(region.data()) % kHugePageBytes, 0u);
  EXPECT_EQ(region.size(), 2 * kHugePageBytes);
  EXPECT_EQ(region.data()[0], 0);
  EXPECT_EQ(region.data()[region.size() - 1], 0);
  std::memset(region.data(), 'x', region.size());
  EXPECT_EQ(region.data()[region.size() - 1], 'x');
  EXPECT_EQ(HugePageRegion(1).size(), kHugePageBytes);
}

// What /proc/self/smaps says of the mapping that holds `at`: its VmFlags
// line and its AnonHugePages in kB.
struct Mapping {
  std::string flags;
  int64_t huge_kib = -1;
};

Mapping MappingOf(const char* at) {
  std::ifstream smaps("/proc/self/smaps");
  const auto address = reinterpret_cast<uintptr_t>(at);
  Mapping found;
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    uintptr_t start = 0;
    uintptr_t end = 0;
    char dash = 0;
    std::istringstream head(line);
    if (head >> std::hex >> start >> dash >> end && dash == '-') {
      inside = address >= start && address < end;
    } else if (inside && line.starts_with("AnonHugePages:")) {
      found.huge_kib = std::stoll(line.substr(line.find(':') + 1));
    } else if (inside && line.starts_with("VmFlags:")) {
      found.flags = line;
    }
  }
  return found;
}

// A small user of a region touches only its start: that must stay on 4 kB
// pages (a huge page would be 2 MB zeroed at the first touch), whatever the
// kernel's default, while the rest of the region is advised for huge pages.
TEST(HugePageRegionTest, KeepsItsFirstHugePageOnSmallPages) {
  HugePageRegion region(kRegionBytes);
  region.data()[0] = 'x';
  region.data()[kHugePageBytes] = 'x';
  const Mapping start = MappingOf(region.data());
  const Mapping rest = MappingOf(region.data() + kHugePageBytes);
  const auto advised = [](const Mapping& mapping) {
    return mapping.flags.find(" hg") != std::string::npos ||
           mapping.flags.find(" nh") != std::string::npos;
  };
  if (!advised(start) && !advised(rest)) {
    GTEST_SKIP() << "this kernel shows no huge-page advice in smaps";
  }
  EXPECT_NE(start.flags.find(" nh"), std::string::npos) << start.flags;
  EXPECT_EQ(start.huge_kib, 0);
  EXPECT_NE(rest.flags.find(" hg"), std::string::npos) << rest.flags;
}

TEST(HugePagePoolTest, HandsOutTheRegionsGivenBackWithTheirBytes) {
  HugePagePool pool(kRegionBytes, 2);
  char* first;
  {
    HugePagePool::Lease lease = pool.Take();
    first = lease.data();
    std::memcpy(first + kRegionBytes - 4, "mark", 4);
    HugePagePool::Lease other = pool.Take();
    EXPECT_NE(other.data(), first);
    EXPECT_EQ(pool.KeptCount(), 0u);
  }
  EXPECT_EQ(pool.KeptCount(), 2u);
  std::set<char*> again;
  HugePagePool::Lease a = pool.Take();
  HugePagePool::Lease b = pool.Take();
  again = {a.data(), b.data()};
  EXPECT_TRUE(again.contains(first));
  EXPECT_EQ(std::memcmp(first + kRegionBytes - 4, "mark", 4), 0);
  EXPECT_EQ(pool.KeptCount(), 0u);
}

TEST(HugePagePoolTest, KeepsNoMoreThanItsBoundAndMovedLeasesGiveBackOnce) {
  HugePagePool pool(kRegionBytes, 2);
  {
    std::vector<HugePagePool::Lease> leases;
    for (int i = 0; i < 5; ++i) leases.push_back(pool.Take());
    HugePagePool::Lease moved = std::move(leases.back());
    leases.pop_back();
    leases.front() = std::move(moved);  // the front's region goes back
    EXPECT_EQ(pool.KeptCount(), 1u);
  }
  EXPECT_EQ(pool.KeptCount(), 2u);
}

TEST(HugePagePoolTest, ThreadsTakingAtOnceNeverShareARegion) {
  HugePagePool pool(kRegionBytes, 2);
  std::vector<std::thread> threads;
  std::vector<int> overwritten(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&pool, &overwritten, t] {
      for (int round = 0; round < 50; ++round) {
        HugePagePool::Lease lease = pool.Take();
        std::memset(lease.data(), 'a' + t, kRegionBytes);
        std::this_thread::yield();
        for (size_t at = 0; at < kRegionBytes; at += 4096) {
          if (lease.data()[at] != 'a' + t) ++overwritten[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(overwritten, std::vector<int>(4, 0));
  EXPECT_LE(pool.KeptCount(), 2u);
}

}  // namespace
}  // namespace velnor::automation
