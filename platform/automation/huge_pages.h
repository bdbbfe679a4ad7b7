// Memory on transparent huge pages for the few big buffers that live long
// and are refilled many times (the read-ahead rings of the log files): on a
// kernel that gives huge pages only to memory advised for them, such a
// buffer taken from malloc costs a page fault per 4 kB at its first touch,
// and one made anew for each file pays them again for each file. A region
// here is advised for huge pages past its first 2 MB (a 4 MB ring of a
// large file: 513 faults, against 1,024) and a pool hands the same regions
// out again.
#ifndef VELNOR_PLATFORM_AUTOMATION_HUGE_PAGES_H_
#define VELNOR_PLATFORM_AUTOMATION_HUGE_PAGES_H_

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace velnor::automation {

// The size of a transparent huge page on x86-64, the unit regions come in.
inline constexpr size_t kHugePageBytes = size_t{2} << 20;

// Anonymous memory of `bytes` rounded up to whole huge pages, aligned to
// kHugePageBytes, zero until first written. All but its first huge page is
// advised for transparent huge pages (where the kernel has none, it is
// ordinary memory all the same); the first is kept on 4 kB pages, so that a
// user of only its start pays a few small faults and not a huge page.
// Raises std::bad_alloc when it cannot be mapped.
class HugePageRegion {
 public:
  explicit HugePageRegion(size_t bytes);
  ~HugePageRegion();
  HugePageRegion(const HugePageRegion&) = delete;
  HugePageRegion& operator=(const HugePageRegion&) = delete;

  char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  char* data_;
  size_t size_;
};

// Regions of one size for many users at once, thread-safe: Take hands out a
// region given back before when it keeps one (its bytes as the last user
// left them), else a new one; a lease gives its region back when it ends,
// and the pool keeps at most `kept` of them, unmapping the others. The pool
// must outlive its leases.
class HugePagePool {
 public:
  class Lease {
   public:
    Lease(Lease&& other) noexcept = default;
    Lease& operator=(Lease&& other) noexcept;
    ~Lease();

    // The region's `region_bytes` bytes (at least), this lease's alone.
    char* data() const { return region_->data(); }

   private:
    friend class HugePagePool;
    Lease(HugePagePool* pool, std::unique_ptr<HugePageRegion> region)
        : pool_(pool), region_(std::move(region)) {}
    void GiveBack();

    HugePagePool* pool_;
    std::unique_ptr<HugePageRegion> region_;  // null once moved from
  };

  HugePagePool(size_t region_bytes, size_t kept);
  HugePagePool(const HugePagePool&) = delete;
  HugePagePool& operator=(const HugePagePool&) = delete;

  // A region of at least `region_bytes`; raises std::bad_alloc as
  // HugePageRegion does.
  Lease Take();
  // The regions kept for later leases now.
  size_t KeptCount() const;

 private:
  void Keep(std::unique_ptr<HugePageRegion> region);

  const size_t region_bytes_;
  const size_t kept_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<HugePageRegion>> free_;  // guarded by mutex_
};

}  // namespace velnor::automation

#endif  // VELNOR_PLATFORM_AUTOMATION_HUGE_PAGES_H_
