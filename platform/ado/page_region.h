// SQLite's page cache on huge pages, taken as it grows: a big run caches
// tens of MB of 4 kB pages, each of which, taken from malloc, would be a
// page fault of its own, while a small run caches a few hundred pages and
// should not pay for a region it does not use. SQLite is given an
// allocator that places each cached page in a region of 16 MB advised for
// transparent huge pages: mapped at the first page, handed out one page
// after the other, pages given back handed out first again. Everything
// else, and the pages beyond the region, come from SQLite's own allocator.
#ifndef VELNOR_PLATFORM_ADO_PAGE_REGION_H_
#define VELNOR_PLATFORM_ADO_PAGE_REGION_H_

#include <cstddef>

namespace velnor::ado {

// Gives SQLite the allocator, for pages of `page_bytes` (the page size of
// every database the process opens). Must run before SQLite initialises;
// false, leaving SQLite its own memory, when SQLite refuses it.
bool CachePagesInRegion(size_t page_bytes);

// What the region holds now.
struct PageRegionUse {
  size_t pages = 0;          // cached pages SQLite holds in it
  size_t bytes_touched = 0;  // the part of it ever handed out
  size_t bytes = 0;          // its size; 0 before the first page
};
PageRegionUse PageRegionInUse();

}  // namespace velnor::ado

#endif  // VELNOR_PLATFORM_ADO_PAGE_REGION_H_
