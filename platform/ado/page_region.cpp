// The page region's allocator. SQLite asks for each page of its cache as
// one allocation of the page and its header, a size nothing else asks for;
// those come from the region, the rest passes to SQLite's own allocator.
// SQLite calls the allocator from every thread (its sorter's too), so the
// region's list of pages given back is guarded by a mutex, which only the
// cache's pages take.
#include "platform/ado/page_region.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "platform/automation/huge_pages.h"

namespace velnor::ado {
namespace {

constexpr size_t kRegionBytes = size_t{16} << 20;
constexpr size_t kAlignment = 16;

struct GivenBack {
  GivenBack* next;
};

struct Region {
  sqlite3_mem_methods system{};  // SQLite's own allocator
  size_t page_alloc_bytes = 0;   // a cached page with its header
  size_t stride = 0;             // page_alloc_bytes, aligned
  std::mutex mutex;
  // The rest is guarded by mutex; `start` is also read without it, by the
  // frees of SQLite's own memory, which must be told from the region's.
  std::unique_ptr<automation::HugePageRegion> memory;
  bool unmappable = false;
  std::atomic<char*> start{nullptr};
  size_t touched = 0;
  size_t pages = 0;
  GivenBack* given_back = nullptr;
};

// Never destroyed: SQLite may free pages while the process ends.
Region& TheRegion() {
  static auto* region = new Region;
  return *region;
}

bool InRegion(const Region& region, const void* p) {
  const char* start = region.start.load(std::memory_order_acquire);
  const auto* at = static_cast<const char*>(p);
  return start != nullptr && at >= start && at < start + kRegionBytes;
}

// Maps the region at the first page; a region that cannot be mapped leaves
// every page to SQLite's allocator.
void MapOnce(Region& region) {
  if (region.memory != nullptr || region.unmappable) return;
  try {
    region.memory = std::make_unique<automation::HugePageRegion>(kRegionBytes);
    region.start.store(region.memory->data(), std::memory_order_release);
  } catch (const std::bad_alloc&) {
    region.unmappable = true;
  }
}

// A page of the region; null when it is full or cannot be mapped.
void* TakePage(Region& region) {
  std::lock_guard lock(region.mutex);
  if (region.given_back != nullptr) {
    GivenBack* page = region.given_back;
    region.given_back = page->next;
    ++region.pages;
    return page;
  }
  MapOnce(region);
  if (region.memory == nullptr ||
      region.touched + region.stride > kRegionBytes) {
    return nullptr;
  }
  void* page = region.memory->data() + region.touched;
  region.touched += region.stride;
  ++region.pages;
  return page;
}

void GiveBack(Region& region, void* p) {
  std::lock_guard lock(region.mutex);
  region.given_back = new (p) GivenBack{region.given_back};
  --region.pages;
}

void* Malloc(int bytes) {
  Region& region = TheRegion();
  if (static_cast<size_t>(bytes) == region.page_alloc_bytes) {
    if (void* page = TakePage(region)) return page;
  }
  return region.system.xMalloc(bytes);
}

void Free(void* p) {
  Region& region = TheRegion();
  if (InRegion(region, p)) {
    GiveBack(region, p);
  } else {
    region.system.xFree(p);
  }
}

void* Realloc(void* p, int bytes) {
  Region& region = TheRegion();
  if (!InRegion(region, p)) return region.system.xRealloc(p, bytes);
  if (static_cast<size_t>(bytes) <= region.page_alloc_bytes) return p;
  void* moved = region.system.xMalloc(bytes);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, p, region.page_alloc_bytes);
  GiveBack(region, p);
  return moved;
}

int Size(void* p) {
  Region& region = TheRegion();
  if (InRegion(region, p)) return static_cast<int>(region.page_alloc_bytes);
  return region.system.xSize(p);
}

int Roundup(int bytes) { return TheRegion().system.xRoundup(bytes); }

int Init(void*) {
  const Region& region = TheRegion();
  return region.system.xInit(region.system.pAppData);
}

void Shutdown(void*) {
  const Region& region = TheRegion();
  region.system.xShutdown(region.system.pAppData);
}

}  // namespace

bool CachePagesInRegion(size_t page_bytes) {
  Region& region = TheRegion();
  int header = 0;
  if (sqlite3_config(SQLITE_CONFIG_PCACHE_HDRSZ, &header) != SQLITE_OK ||
      sqlite3_config(SQLITE_CONFIG_GETMALLOC, &region.system) != SQLITE_OK) {
    return false;
  }
  region.page_alloc_bytes = page_bytes + static_cast<size_t>(header);
  region.stride =
      (region.page_alloc_bytes + kAlignment - 1) / kAlignment * kAlignment;
  static const sqlite3_mem_methods kMethods = {
      Malloc, Free, Realloc, Size, Roundup, Init, Shutdown, nullptr};
  // No buffer of SQLite's own and no first bulk of pages per cache: every
  // cached page is an allocation of its own, and so a page of the region.
  return sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0) == SQLITE_OK &&
         sqlite3_config(SQLITE_CONFIG_MALLOC, &kMethods) == SQLITE_OK;
}

PageRegionUse PageRegionInUse() {
  Region& region = TheRegion();
  std::lock_guard lock(region.mutex);
  return {region.pages, region.touched,
          region.memory ? region.memory->size() : 0};
}

}  // namespace velnor::ado
